#ifndef INSTRUMENT_APP_INSTRUMENT_APP_H
#define INSTRUMENT_APP_INSTRUMENT_APP_H

// The example application: everything the framework does at start-up and shutdown, with a
// persistent setting of its own ("application/label") and three options of its own:
//   --pid-file FILE       the daemon's pid file (instead of /var/run/instrument-app.pid)
//   --marker-dir DIR      each phase hook appends the application state to DIR/<hook>
//                         (pre-init, post-init, pre-config, post-config, start-running,
//                         accept-requests, shutdown), so that a test sees what ran and how often
//   --config-registry     the registry root is a configuration node bound to the configuration
//                         file: persistent settings are loaded from it and written back at stop
// The configuration file is required: without --config-registry a missing one ends start-up.

#include <string>

#include "iapp/kavrel_application.h"

namespace instrument {

class InstrumentApp : public iapp::KavrelApplication {
public:
    static constexpr const char* c_name = "instrument-app";

    InstrumentApp(bool configRegistry, const std::string& typesSchemaPath);

    const std::string& AppName() const override { return m_name; }
    // A timing board (PAX) as iboard::PaxBoard and an event-receiver board (ZOLT) as
    // iboard::ZoltBoard, with the library's event and trigger tables; any other board (the test
    // board kvr:///test/1 among them) as a plain iapp::KavrelBoard with its URI and type in the
    // registry ("identity").
    iapp::KavrelBoard* InstantiateBoard(const bmc::Board* board) override;
    std::string PidFile() const override;

    void OnProgramOptionsAdd(boost::program_options::options_description& general,
                             boost::program_options::options_description& internal) override;
    bool OnProgramOptionsProcess(const boost::program_options::variables_map& values) override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    void OnPreInit() override;
    void OnPostInit() override;
    void OnPreConfig() override;
    void OnPostConfig() override;
    void OnStartRunning() override;
    void OnAcceptRequests() override;
    void OnShutdown() override;

private:
    void _AnchorMarkerDir(const std::string& dir);
    void _Mark(const char* hook) const;

    const std::string m_name = c_name;
    std::string m_pidFile;
    std::string m_markerDir;
};

// Whether the command line asks for a configuration registry: the application object needs to
// know when it is made, before it reads its command line.
bool WantsConfigRegistry(int argc, char** argv);

} // namespace instrument

#endif
