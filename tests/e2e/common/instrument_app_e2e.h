#ifndef E2E_COMMON_INSTRUMENT_APP_E2E_H
#define E2E_COMMON_INSTRUMENT_APP_E2E_H

// End-to-end tests of the example application: instrument-app as a process of its own on a free
// loopback port, with its log, trace, markers and configuration in a temporary folder, and a
// plug-in folder made of the example plug-in and the test plug-ins; the tests are its clients.

#include <memory>
#include <string>
#include <vector>

#include "inet/tests/support/orb_test_support.h"
#include "registry_e2e.h"
#include "tests/support/temp_dir.h"

namespace e2e {

// The lines of a file (none for a file that does not exist).
std::vector<std::string> Lines(const std::string& path);
bool Has(const std::string& text, const std::string& part);
// How many lines of the text hold the part.
size_t CountLines(const std::string& text, const std::string& part);

class InstrumentAppTest : public inettest::OrbTest {
protected:
    void SetUp() override;

    // The application in the foreground with its log (app.log), trace (trace.log, level 2) and
    // markers in the folder, and the configuration file app.xml (any content valid) unless extra
    // gives one with "-c"; environment ("NAME=value") is added to the process's own.
    std::unique_ptr<inettest::ChildProcess> Start(const std::vector<std::string>& extra = {},
                                                  const std::vector<std::string>& environment = {});
    // A new reference to the application's i_NET::Application.
    i_NET::Application_ptr App();
    // Waits (30 s at most) until the application answers; false when the process ended first.
    bool WaitServing(inettest::ChildProcess* process);
    // A folder "plugins" holding the plug-ins named: "demo" (the example plug-in) or a test
    // plug-in (good, throws_istd, throws_int, no_entry, unresolved, sleeps, nameless). Its path,
    // without a closing "/".
    std::string PluginFolder(const std::vector<std::string>& names);

    std::string Log() const;
    std::string Trace() const;

    testsupport::TempDir m_dir{"e2e-instrument"};
    unsigned m_appPort = 0;
};

} // namespace e2e

#endif
