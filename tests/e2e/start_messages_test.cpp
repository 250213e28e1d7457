// What instrument-app and registry-server tell their operator about bad input at the start: one
// table of command lines (and environments) with the exit code, the line on standard error and
// the line in the log each must give. A start that goes on is stopped with SIGTERM once it
// serves, and the table may name a line its stop must log as well.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/instrument_app_e2e.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

const std::string c_app = E2E_INSTRUMENT_APP;
const std::string c_server = E2E_REGISTRY_SERVER;

class StartMessagesTest : public InstrumentAppTest {};

// In every text "{dir}" stands for the test's folder and "{port}" for a free loopback port,
// the case's own.
std::string Fill(std::string text, const std::string& dir, const std::string& port)
{
    const std::pair<std::string, std::string> tokens[] = {{"{dir}", dir}, {"{port}", port}};
    for (const auto& [token, value] : tokens) {
        for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size())) {
            text.replace(at, token.size(), value);
        }
    }
    return text;
}

TEST_F(StartMessagesTest, BadInputIsReportedOnStandardErrorAndInTheLog)
{
    // The application's usual words: in the foreground, its log in the folder, the test board.
    const std::vector<std::string> app{c_app, "--no-daemon", "-L", "{dir}/", "-l", "app.log", "-b", "kvr:///test/1"};
    const std::string appLog = "{dir}/app.log";
    const struct {
        const char* what;
        std::vector<std::string> args; // after the program's usual words; program first
        std::vector<std::string> environment;
        int exitCode; // 0: the start goes on, and SIGTERM ends it with 0
        std::string printed; // the line on standard error, "" for none
        std::string log;     // the log file, and a line it holds ("" for no line expected)
        std::string logged;
        std::string loggedAtStop = "";
    } cases[] = {
        {"a port beyond 65535", {"instrument-app", "-c", "{dir}/app.xml", "-p", "99999"}, {"KAVREL_APP_PORT={port}"},
         0, "instrument-app: WARNING Ignoring non-numeric port CLI option: 99999; using port {port}", appLog,
         "WARNING Ignoring non-numeric port CLI option: 99999; using port {port}"},
        {"a port that is no number", {"instrument-app", "-c", "{dir}/app.xml", "-p", "abc"}, {"KAVREL_APP_PORT={port}"},
         0, "instrument-app: WARNING Ignoring non-numeric port CLI option: abc; using port {port}", appLog,
         "WARNING Ignoring non-numeric port CLI option: abc; using port {port}"},
        {"an empty port", {"instrument-app", "-c", "{dir}/app.xml", "-p", ""}, {"KAVREL_APP_PORT={port}"}, 0,
         "instrument-app: WARNING Ignoring non-numeric port CLI option: ; using port {port}", appLog,
         "WARNING Ignoring non-numeric port CLI option: ; using port {port}"},
        {"a negative port", {"instrument-app", "-c", "{dir}/app.xml", "-p", "-5"}, {"KAVREL_APP_PORT={port}"}, 0,
         "instrument-app: WARNING Ignoring non-numeric port CLI option: -5; using port {port}", appLog,
         "WARNING Ignoring non-numeric port CLI option: -5; using port {port}"},
        {"a port variable that is no number", {"instrument-app", "-c", "{dir}/app.xml", "-p", "{port}"},
         {"KAVREL_APP_PORT=abc"}, 0,
         "instrument-app: WARNING Ignoring non-numeric KAVREL_APP_PORT environment variable: abc; using port 5679",
         appLog, "WARNING Ignoring non-numeric KAVREL_APP_PORT environment variable: abc; using port 5679"},
        {"a packet size that is no number", {"instrument-app", "-c", "{dir}/app.xml", "-p", "{port}", "-s", "big"}, {},
         0,
         "instrument-app: WARNING Ignoring non-numeric max_packet_size CLI option: big; using max packet size "
         "536870932",
         appLog, "WARNING Ignoring non-numeric max_packet_size CLI option: big; using max packet size 536870932"},
        {"a mistyped option", {"instrument-app", "-c", "{dir}/app.xml", "-p", "{port}", "--no-deamon"}, {}, 0,
         "instrument-app: WARNING Ignoring unknown option: --no-deamon", appLog,
         "WARNING Ignoring unknown option: --no-deamon"},
        {"a plug-in folder that does not exist",
         {"instrument-app", "-c", "{dir}/app.xml", "-p", "{port}", "-P", "{dir}/none"}, {}, 0,
         "instrument-app: WARNING Failed to access folder {dir}/none while looking for kavrel application plugins: No "
         "such file or directory",
         appLog,
         "WARNING Failed to access folder {dir}/none while looking for kavrel application plugins: No such file or "
         "directory"},
        {"a marker folder that does not exist",
         {"instrument-app", "-c", "{dir}/app.xml", "-p", "{port}", "--marker-dir", "{dir}/none"}, {}, 0,
         "instrument-app: WARNING Cannot use the marker folder {dir}/none: No such file or directory", appLog,
         "WARNING Cannot use the marker folder {dir}/none: No such file or directory"},
        {"a missing configuration file", {"instrument-app", "-c", "{dir}/missing.xml", "-p", "{port}"}, {}, 1,
         "instrument-app: Error: Cannot read and parse configuration file: {dir}/missing.xml: "
         "No such file or directory (log: {dir}/app.log)",
         appLog,
         "CRITICAL Error: Cannot read and parse configuration file: {dir}/missing.xml: No such file or directory"},
        {"a configuration path in a folder that does not exist",
         {"instrument-app", "-c", "{dir}/none/app.xml", "--config-registry", "-p", "{port}"}, {}, 0, "", appLog,
         "WARNING Can't write configuration file {dir}/none/app.xml, error: No such file or directory. "
         "Settings changed from now on will be lost at stop.",
         "WARNING Registry cannot store persistent information to file {dir}/none/app.xml. Error - Cannot store "
         "configuration file {dir}/none/app.xml: No such file or directory"},
        {"a configuration path under /proc",
         {"instrument-app", "-c", "/proc/x.xml", "--config-registry", "-p", "{port}"}, {}, 0, "", appLog,
         "WARNING Can't write configuration file /proc/x.xml, error: No such file or directory. Settings changed from "
         "now on will be lost at stop.",
         "Error - Cannot store configuration file /proc/x.xml: No such file or directory"},
        {"the registry server's configuration path under /proc",
         {"registry-server", "--port", "0", "--log-file", "{dir}/server.log", "-c", "/proc/x.xml", "--types-schema",
          testsupport::TypesXsd()}, {}, 0, "",
         "{dir}/server.log",
         "WARNING Can't write configuration file /proc/x.xml, error: No such file or directory. Settings changed from "
         "now on will be lost at stop.",
         "Error - Cannot store configuration file /proc/x.xml: No such file or directory"},
        {"the registry server without its types schema",
         {"registry-server", "--port", "0", "--log-file", "{dir}/server.log", "--types-schema", "{dir}/none.xsd"}, {},
         1, "registry-server: the types schema {dir}/none.xsd does not exist (give it with --types-schema) (log: "
            "{dir}/server.log)",
         "{dir}/server.log", "CRITICAL the types schema {dir}/none.xsd does not exist (give it with --types-schema)"},
        {"the registry server's trace file in a folder that does not exist",
         {"registry-server", "--port", "0", "--debug", "2", "--trace-file", "{dir}/none/trace"}, {}, 1,
         "registry-server: cannot open the trace file {dir}/none/trace: No such file or directory", "", ""},
        {"the registry server's log in a folder that does not exist",
         {"registry-server", "--port", "0", "--log-file", "{dir}/none/server.log"}, {}, 1,
         "registry-server: cannot open the log file {dir}/none/server.log: No such file or directory", "", ""},
    };
    // The daemon's failure, before its log is open, and the pid file it never wrote.
    const std::string unwritablePid = "instrument-app: Can not daemonize: cannot write pid file {dir}/none/app.pid: No "
                                      "such file or directory";

    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = m_dir / ("case" + std::to_string(index++));
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file(m_dir / "any.xsd", dir + "/any.xsd");
        std::filesystem::copy_file(m_dir / "app.xml", dir + "/app.xml");
        const std::string port = std::to_string(testsupport::FreeLoopbackPort());
        const auto fill = [&](const std::string& text) { return Fill(text, dir, port); };

        const bool isApp = c.args.front() == "instrument-app";
        std::vector<std::string> args{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>\"" + dir + "/stderr\"", "/usr/bin/env"};
        for (const std::string& variable : c.environment) {
            args.push_back(fill(variable));
        }
        if (isApp) {
            for (const std::string& word : app) {
                args.push_back(fill(word));
            }
        } else {
            args.push_back(c_server);
        }
        for (size_t i = 1; i < c.args.size(); ++i) {
            args.push_back(fill(c.args[i]));
        }
        inettest::ChildProcess process(args);
        const std::string log = fill(c.log);
        if (c.exitCode == 0) {
            const std::string serving = isApp ? "Serving requests on port " : "serving on port ";
            ASSERT_TRUE(testsupport::WaitUntil(
                [&] {
                    return !process.IsRunning() || Has(testsupport::ReadFile(log), serving) ||
                           Has(process.Output(), serving);
                },
                std::chrono::seconds(60)));
            ASSERT_TRUE(process.IsRunning()) << testsupport::ReadFile(dir + "/stderr");
            process.Kill(SIGTERM);
        }
        EXPECT_EQ(process.Wait(60000), c.exitCode) << process.Output() << testsupport::ReadFile(dir + "/stderr");
        const std::string printed = testsupport::ReadFile(dir + "/stderr");
        if (c.printed.empty()) {
            EXPECT_EQ(printed, "");
        } else {
            // Once, on a line of its own.
            EXPECT_EQ(CountLines(printed, fill(c.printed)), 1u) << printed;
            EXPECT_TRUE(Has("\n" + printed, "\n" + fill(c.printed) + "\n")) << printed;
        }
        EXPECT_EQ(printed.find("CRITICAL **"), std::string::npos) << printed;
        if (!c.logged.empty()) {
            EXPECT_TRUE(Has(testsupport::ReadFile(log), " " + fill(c.logged) + "\n")) << testsupport::ReadFile(log);
        }
        if (!c.loggedAtStop.empty()) {
            EXPECT_TRUE(Has(testsupport::ReadFile(log), fill(c.loggedAtStop) + "\n")) << testsupport::ReadFile(log);
        }
    }

    // Without --no-daemon: the daemon cannot write its pid file; the caller's exit code is 1.
    const std::string dir = m_dir.Path();
    auto [rc, output] = inettest::RunProcess({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1 >/dev/null", c_app, "-p",
                                              std::to_string(m_appPort), "-L", dir + "/", "-l", "daemon.log", "-c",
                                              dir + "/app.xml", "--pid-file", dir + "/none/app.pid"});
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(output, Fill(unwritablePid, dir, "") + "\n");
}

} // namespace
} // namespace e2e
