#ifndef IAPP_KAVREL_APPLICATION_H
#define IAPP_KAVREL_APPLICATION_H

// The one application object of a process and the root of its component tree. An application
// executable derives one class, names the application and supplies its board factory:
//
//     class MyApp : public iapp::KavrelApplication {
//     public:
//         MyApp() : KavrelApplication("my-app", false, false) {}
//         const std::string& AppName() const override { return m_name; }
//         iapp::KavrelBoard* InstantiateBoard(const bmc::Board* board) override;
//     };
//     int main(int argc, char** argv) { MyApp app; return app.Run(argc, argv) ? 0 : 1; }
//
// Run drives the whole life on the calling (main) thread:
//   Init    state 1: the command line and environment (ProcessProgramOptions): settings,
//           daemon with pid file, trace and log;
//   Setup   the configuration document, the registry root ("root": a configuration node bound
//           to the configuration file when configRegistry is set), the signal thread, boards,
//           plug-ins, PreInit (state 2), the registry, PostInit, PreConfig (state 3), the
//           configuration load, PostConfig, LVDS training, state 4, StartRunning;
//   then    the ORB on Port() with MaxPacketSize(), the application servant under NetID(),
//           AcceptRequests, and the ORB loop until a signal stops it.
// A signal (KavrelSigHandler, on the signal thread) holds requests and runs Shutdown (state 5:
// the tree's Shutdown phase) and Destroy (state 6: notifications stopped, registry tree
// destroyed, which writes a configuration root's file), then ends the ORB loop; Run destroys
// the ORB and returns true. A failed start-up shuts the tree down and Run returns false.
//
// From Init on, SIGINT, SIGTERM, SIGHUP and SIGQUIT are blocked in the calling thread (and so in
// every thread started later): they reach only the signal thread, and one sent earlier waits
// for it. The signal handler acts once the application runs and its ORB is set up.
//
// States: 0 constructed, 1 init, 2 components made, 3 configuring, 4 running, 5 shutting down,
// 6 destroyed. The state is written by the main and the signal thread; GetState() may be read
// from any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

#include "bmc/types.h"
#include "bmc/uri.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_config.h"
#include "iapp/kavrel_object.h"
#include "iapp/kavrel_signal_handler.h"
#include "mci/node.h"
#include "mci/types.h"

namespace bmc {
class Board;
}

namespace istd {
class SignalHandlerThread;
}

// The feature that synchronises a board's local machine time; it reports to the application
// through OnSyncAnnounced and OnSynchronized.
namespace ifeature {
class LocalTimingSync;
}

namespace iapp {

class KavrelBoard;
class KavrelPlugins;
class KavrelSignalRepository;

// The deleter of the application's own shared handle: the application belongs to the
// executable, never to a shared pointer.
IAPP_API void applicationDeleter(KavrelObject* application);

// omniORB's log function: its lines go to the trace at level 1.
IAPP_API void omniORBLogCallback(const char* text);

class IAPP_API KavrelApplication : public KavrelObject, public ApplicationStateProvider {
public:
    // The default port and maximum GIOP message size of the ORB.
    static constexpr uint32_t c_defaultPort = 5679;
    static constexpr uint32_t c_defaultMaxPacketSize = 0x20000014;
    // Environment variables that override the defaults (the command line overrides them).
    static constexpr const char* c_portVariable = "KAVREL_APP_PORT";
    static constexpr const char* c_maxPacketSizeVariable = "KAVREL_APP_MAX_PACKET_SIZE";
    // The LVDS training: the two words of the delay scan, then the pattern of the lane
    // alignment, which the transmitters send as both words.
    static constexpr uint64_t c_lvdsTrainWord1 = 0x0000000123456789;
    static constexpr uint64_t c_lvdsTrainWord2 = 0x0000000EDCBA9876;
    static constexpr uint64_t c_lvdsBitslipPattern = 0x0000000888888888;

    // configRegistry: the registry root is a configuration node bound to the configuration
    // file (the registry is its own persistence). configRequired: a missing configuration file
    // fails start-up instead of being skipped with a warning. typesSchemaPath: the shared types
    // schema of the configuration document (KavrelConfig). A second application logs an error
    // and becomes Instance().
    KavrelApplication(const std::string& name, bool configRegistry, bool configRequired,
                      const std::string& typesSchemaPath = KavrelConfig::c_typesSchema);
    // Stops the signal thread; runs neither Shutdown nor Destroy.
    ~KavrelApplication() override;

    // The most recently constructed application still alive; null when there is none.
    static KavrelApplication* Instance();

    // The whole life: true after an orderly stop through the ORB, false when start-up failed
    // or an exception ended it.
    bool Run(int argc, char** argv);
    bool Init(int argc, char** argv);
    bool Setup();
    // State 5 and the tree's Shutdown phase (again on every call).
    void Shutdown();
    // State 6, notifications stopped, registry tree destroyed, shared handle released.
    void Destroy();

    int GetState() const override { return m_state.load(); }
    KavrelConfig& GetConfig() { return m_config; }
    uint32_t Port() const { return m_port; }
    uint32_t MaxPacketSize() const { return m_maxPacketSize; }
    const std::string& LogFileDir() const { return m_logFileDir; }
    const std::string& LogFileName() const { return m_logFileName; }
    const std::string& PluginDir() const { return m_pluginDir; }
    // Directory and name with exactly one "/" between them; empty when the name is empty.
    std::string LogFile() const;
    const std::vector<bmc::Uri>& BoardsDomain() const { return m_boardsDomain; }
    bool IsConfigRegistry() const { return m_configRegistry; }
    bool IsConfigRequired() const { return m_configRequired; }

    // Opens the configuration document (validated); true also when there is nothing to open
    // (no file name, a configuration root, or a missing file that is not required).
    bool InitConfiguration();

    // The registry: DefineRegistry builds the application's top nodes once (Setup calls it);
    // AddRegNode merges a node into the root; GetRegistry is a handle on the root.
    void DefineRegistry();
    void AddRegNode(mci::TreeNodePtr node);
    mci::Node GetRegistry() const;
    // Traces the text at level 1; always true (the setter of "tracing/message").
    bool TraceMessage(const std::string& text);
    // The ORB's maximum GIOP message size; always true (the getter of
    // "system/net/max_packet_size").
    bool _GetMaxPacketSize(uint32_t& value) const;

    // The boards. CreateBoards turns the boards domain into board components (Setup calls it):
    // the pool's board of each URI goes to InstantiateBoard; a URI without a board, or one whose
    // board throws, is logged ("Problem accessing board...") and skipped, and a null answer of
    // the factory leaves the board out. GetBoards appends the boards (of a type) in creation
    // order to the list, which it does not clear; GetBoard is the first board of the type, or
    // null.
    // TrainLVDS trains the links of the tree's LVDS transmitters (exact type) into the one
    // receiver: true with no receiver or no transmitter, false without touching anything for
    // more than one receiver; otherwise the two passes run over every transmitter, each going on
    // past a failed slot, every transmitter ends in normal mode, and any failure answers false.
    void CreateBoards();
    void GetBoards(std::vector<KavrelBoard*>& list) const;
    void GetBoards(std::vector<KavrelBoard*>& list, bmc::BoardType_e type) const;
    KavrelBoard* GetBoard(bmc::BoardType_e type) const;
    bool TrainLVDS();

    // The command line and environment (Init calls it): false when start-up must end.
    bool ProcessProgramOptions(int argc, char** argv);
    // The boards domain from board URIs; no word: all boards of the local chassis. A word that
    // is no board URI throws.
    void DefineBoardsDomain(const std::vector<std::string>& words);
    // Default < environment < option text; a text that is no number (or, for the port, not 1 to
    // 65535) is ignored with a warning.
    void DefinePort(const std::string& text);
    void DefineMaxPacketSize(const std::string& text);

    // Accepts boards and features.
    bool OnQueryChild(const KavrelObject& child) override;

    // ---- what the executable supplies or overrides ----
    virtual const std::string& AppName() const = 0;
    // "/var/run/" + AppName() + ".pid".
    virtual std::string PidFile() const;
    // inet::c_defaultNetId.
    virtual const std::string& NetID() const;
    virtual uint32_t DefaultPort() const;
    virtual uint32_t DefaultMaxPacketSize() const;
    virtual const std::string& ConfDir() const;
    virtual const std::string& ConfFile() const;
    // e_xsdAlways: the schema is written beside the configuration file on every save.
    virtual icfg::Configuration::CreateXsd_e CreateXsd() const;
    // The board component of the board, or null for a board the application does not use.
    virtual KavrelBoard* InstantiateBoard(const bmc::Board* board) = 0;
    // Appends the board to the board list; false for null.
    virtual bool AddBoard(KavrelBoard* board);
    // Called by the local-timing synchronisation feature; empty here.
    virtual void OnSyncAnnounced(ifeature::LocalTimingSync& sync);
    virtual void OnSynchronized(ifeature::LocalTimingSync& sync);
    // May change the default log file name and directory (before the command line).
    virtual void OnInitLogFileName(std::string& name) const;
    virtual void OnInitLogFileDir(std::string& dir) const;
    // Adds the application's own options to the general (printed by "help") and internal
    // groups.
    virtual void OnProgramOptionsAdd(boost::program_options::options_description& general,
                                     boost::program_options::options_description& internal);
    // Reads them after the framework's own processing; false ends start-up.
    virtual bool OnProgramOptionsProcess(const boost::program_options::variables_map& values);

protected:
    // The signal thread Setup installed (null before); tests hand it signals with Deliver.
    istd::SignalHandlerThread* SignalThread() const { return m_sigThread.load(); }

private:
    friend class KavrelSigHandler;

    // The application serves: its ORB loop takes requests (or is about to).
    bool _IsServing() const { return m_serving.load(); }
    void _SetState(int state);
    // The registry root made by Setup.
    void _MakeRegistryRoot();
    // Setup's steps inside its exception scope.
    bool _Setup();
    // Run's failure path.
    void _Fail();
    // Run's steps inside its exception scope.
    bool _Run(int argc, char** argv);
    // A failure that ends the start (or the run): logged critical, and the first one is what
    // Run prints on standard error when it returns false.
    void _Failed(const std::string& reason);
    // "<AppName>: <text>" on standard error: where the operator of a failed start looks first.
    // Run adds the log that holds the rest, when one is open.
    void _PrintFailure(const std::string& text) const;

    mci::TreeNodePtr m_registryRoot;
    KavrelPlugins* m_plugins = nullptr;
    KavrelSignalRepository* m_signals = nullptr;
    KavrelSigHandler m_sigHandler;
    std::atomic<istd::SignalHandlerThread*> m_sigThread{nullptr};
    std::string m_logFileDir;
    std::string m_logFileName;
    std::string m_confDir;
    std::string m_confFile;
    KavrelConfig m_config;
    std::string m_pluginDir;
    const bool m_configRegistry;
    const bool m_configRequired;
    std::vector<KavrelBoard*> m_boards;
    std::atomic<int> m_state{0};
    std::vector<bmc::Uri> m_boardsDomain;
    uint32_t m_port = c_defaultPort;
    uint32_t m_maxPacketSize = c_defaultMaxPacketSize;
    std::atomic<bool> m_serving{false};
    // The signal handler has begun to stop the application.
    std::atomic<bool> m_stopRequested{false};
    // Run initialised the ORB (its failure path destroys it again).
    bool m_orbInitialised = false;
    // The first reason _Failed recorded (main thread only).
    std::string m_failure;
    // Why InitConfiguration failed, for Setup's report.
    std::string m_configFailure;
};

} // namespace iapp

#endif
