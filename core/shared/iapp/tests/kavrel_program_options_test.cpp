// The application's command line and environment: a table of argument vectors and environment
// values run through Init with the fake daemon, with what each prints, answers, sets and warns.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/test_application.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "mci/tree_node.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace iapptest {
namespace {

// Environment variables set for the life of the object, removed afterwards.
class Environment {
public:
    Environment(const std::optional<std::string>& port, const std::optional<std::string>& maxPacketSize)
    {
        Set("KAVREL_APP_PORT", port);
        Set("KAVREL_APP_MAX_PACKET_SIZE", maxPacketSize);
    }
    ~Environment()
    {
        ::unsetenv("KAVREL_APP_PORT");
        ::unsetenv("KAVREL_APP_MAX_PACKET_SIZE");
    }

private:
    static void Set(const char* name, const std::optional<std::string>& value)
    {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
};

class CommandLineTest : public ::testing::Test {
protected:
    struct Outcome {
        bool result = false;
        std::string printed;
        std::string failure; // standard error
        std::string logged; // warnings and errors of the run
        uint32_t port = 0;
        uint32_t maxPacketSize = 0;
        std::vector<std::string> daemonCalls;
    };

    void SetUp() override { ASSERT_TRUE(istd::Log::Init(m_dir / "warnings")); }
    void TearDown() override
    {
        istd::Log::Stop();
        istd::TraceFile::GetInstance().Stop();
    }

    // Runs Init with the words after the program name.
    Outcome Run(TestApplication& app, const std::vector<std::string>& words,
                const std::optional<std::string>& portVariable = std::nullopt,
                const std::optional<std::string>& maxPacketVariable = std::nullopt, int daemonResult = 0)
    {
        Environment environment(portVariable, maxPacketVariable);
        FakeDaemon daemon(daemonResult);
        std::vector<std::string> args{"test-app"};
        args.insert(args.end(), words.begin(), words.end());
        Argv argv(args);
        const size_t before = testsupport::ReadFile(m_dir / "warnings").size();
        Outcome outcome;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        outcome.result = app.Init(argv.Count(), argv.Get());
        outcome.failure = ::testing::internal::GetCapturedStderr();
        outcome.printed = ::testing::internal::GetCapturedStdout();
        istd::Log::Init(m_dir / "warnings"); // the run may have opened a log of its own
        outcome.logged = testsupport::ReadFile(m_dir / "warnings").substr(before);
        outcome.port = app.Port();
        outcome.maxPacketSize = app.MaxPacketSize();
        outcome.daemonCalls = daemon.Calls();
        return outcome;
    }

    Outcome Run(const std::vector<std::string>& words, const std::optional<std::string>& portVariable = std::nullopt,
                const std::optional<std::string>& maxPacketVariable = std::nullopt, int daemonResult = 0)
    {
        TestApplication app;
        return Run(app, words, portVariable, maxPacketVariable, daemonResult);
    }

    testsupport::TempDir m_dir{"iapp-cli"};
};

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST_F(CommandLineTest, WordsThatEndStartUp)
{
    struct Case {
        std::vector<std::string> words;
        std::string printedStart; // what the output begins with
        bool usage;               // "Usage:" and the general group follow
        std::string failure = ""; // the line on standard error (the application's name first)
    };
    const std::vector<Case> cases{
        {{"-h"}, "\nGeneral Options:\n", false},
        {{"-n", "--help", "-p", "17"}, "\nGeneral Options:\n", false},
        {{"--version"}, "Version: 2.8-", false},
        {{"-n", "stray"}, "unknown argument stray\n", true},
        {{"-n", "--positional-arguments"}, "unknown option positional-arguments\n", true},
        {{"-n", "-d"}, "required parameter is missing in 'debug'\n", true},
        {{"-n", "-d", "t.log"}, "required parameter is missing in 'debug'\n", true},
        {{"-n", "-d", "t.log", "3", "extra"}, "unknown argument extra\n", true},
        {{"-n", "-d", "t.log", "3", "-d", "u.log", "2"}, "Non-composing value with multiple occurrences.\n", true},
        {{"-n", "-p"}, "the required argument for option '--port' is missing\n", true},
        {{"-n", "-d", "t.log", "loud"}, "", false, "test-app: Invalid trace level 'loud' in 'debug': Invalid integer value\n"},
        {{"-n", "-d", "t.log", "9"}, "", false, "test-app: Invalid trace level '9' in 'debug': Invalid enum value\n"},
        {{"-n", "-d", "t.log", "4294967299"}, "", false,
         "test-app: Invalid trace level '4294967299' in 'debug': Invalid enum value\n"}, // not level 3
        {{"-n", "-b", "3", "nowhere://x"}, "", false, "test-app: Invalid board URI 'nowhere://x': URI: wrong schema.\n"},
    };
    for (const Case& c : cases) {
        const std::string words = ::testing::PrintToString(c.words);
        const Outcome outcome = Run(c.words);
        EXPECT_FALSE(outcome.result) << words;
        EXPECT_EQ(outcome.printed.rfind(c.printedStart, 0), 0u) << words << ":\n" << outcome.printed;
        EXPECT_EQ(Has(outcome.printed, "\nUsage:\nGeneral Options:\n"), c.usage) << words;
        EXPECT_EQ(outcome.failure, c.failure) << words;
        if (!c.failure.empty()) {
            EXPECT_EQ(outcome.printed, "") << words;
        }
        // Nothing was daemonised on the way.
        EXPECT_TRUE(outcome.daemonCalls.empty()) << words;
    }
}

TEST_F(CommandLineTest, HelpPrintsTheGeneralGroupOnly)
{
    class WithOptions : public TestApplication {
        void OnProgramOptionsAdd(boost::program_options::options_description& general,
                                 boost::program_options::options_description& internal) override
        {
            general.add_options()("colour", "A colour of the application's own.");
            internal.add_options()("secret", "Not for users.");
        }
    } app;
    const Outcome outcome = Run(app, {"-h"});
    for (const char* shown : {"--no-daemon", "--debug", "--config-file", "--plugin-path", "--log-path", "--log-name",
                              "--port", "--max-packet-size", "--boards", "--colour", "Log file  name."}) {
        EXPECT_TRUE(Has(outcome.printed, shown)) << shown;
    }
    for (const char* hidden : {"expose-hidden-registry", "positional-arguments", "secret", "Internal", "Not Allowed"}) {
        EXPECT_FALSE(Has(outcome.printed, hidden)) << hidden;
    }
}

TEST_F(CommandLineTest, PortAndMaxPacketSizeFromDefaultEnvironmentAndOption)
{
    struct Case {
        std::vector<std::string> words;
        std::optional<std::string> portVariable;
        std::optional<std::string> maxPacketVariable;
        uint32_t port;
        uint32_t maxPacketSize;
        std::string warning; // "" for none
    };
    // Each warning says which value the setting keeps.
    const std::string envPort = "Ignoring non-numeric KAVREL_APP_PORT environment variable: ";
    const std::string cliPort = "Ignoring non-numeric port CLI option: ";
    const std::string cliMax = "Ignoring non-numeric max_packet_size CLI option: ";
    const std::string keeps5679 = "; using port 5679";
    const std::string keepsMax = "; using max packet size 536870932";
    const uint32_t defMax = 0x20000014;
    const std::vector<Case> cases{
        {{}, std::nullopt, std::nullopt, 5679, defMax, ""},
        {{"-p", "0x1000"}, std::nullopt, std::nullopt, 4096, defMax, ""},
        {{"-p", "6000"}, std::nullopt, std::nullopt, 6000, defMax, ""},
        {{"-p", "12ab"}, std::nullopt, std::nullopt, 5679, defMax, cliPort + "12ab" + keeps5679},
        {{"-p", "0x"}, std::nullopt, std::nullopt, 5679, defMax, cliPort + "0x" + keeps5679},
        {{"-p", "0x12zz"}, std::nullopt, std::nullopt, 5679, defMax, cliPort + "0x12zz" + keeps5679},
        {{"--port=-1"}, std::nullopt, std::nullopt, 5679, defMax, cliPort + "-1" + keeps5679},
        {{"-p", "0"}, std::nullopt, std::nullopt, 5679, defMax, cliPort + "0" + keeps5679},
        {{"-p", "65536"}, std::nullopt, std::nullopt, 5679, defMax, cliPort + "65536" + keeps5679},
        {{"-p", "99999999999"}, std::nullopt, std::nullopt, 5679, defMax, cliPort + "99999999999" + keeps5679},
        {{"-p", " 80"}, std::nullopt, std::nullopt, 5679, defMax, cliPort + " 80" + keeps5679},
        {{"-p", ""}, std::string("0x1000"), std::nullopt, 4096, defMax, cliPort + "; using port 4096"},
        {{"-s", ""}, std::nullopt, std::nullopt, 5679, defMax, cliMax + keepsMax},
        {{}, std::string("0x1000"), std::nullopt, 4096, defMax, ""},
        {{"-p", "7000"}, std::string("0x1000"), std::nullopt, 7000, defMax, ""},
        {{"-p", "12ab"}, std::string("0x1000"), std::nullopt, 4096, defMax, cliPort + "12ab; using port 4096"},
        {{}, std::string("abc"), std::nullopt, 5679, defMax, envPort + "abc" + keeps5679},
        {{}, std::string(""), std::nullopt, 5679, defMax, envPort + keeps5679},
        {{"-s", "0x10000"}, std::nullopt, std::nullopt, 5679, 0x10000, ""},
        {{"-s", "4294967295"}, std::nullopt, std::nullopt, 5679, 4294967295u, ""},
        {{"-s", "4294967296"}, std::nullopt, std::nullopt, 5679, defMax, cliMax + "4294967296" + keepsMax},
        {{"-s", "0x100000000"}, std::nullopt, std::nullopt, 5679, defMax, cliMax + "0x100000000" + keepsMax},
        {{"-s", "0x12zz"}, std::nullopt, std::nullopt, 5679, defMax, cliMax + "0x12zz" + keepsMax},
        {{"-s", "x"}, std::nullopt, std::string("8192"), 5679, 8192, cliMax + "x; using max packet size 8192"},
        {{}, std::nullopt, std::string("8192"), 5679, 8192, ""},
        {{"-s", "9000"}, std::nullopt, std::string("8192"), 5679, 9000, ""},
        {{}, std::nullopt, std::string("-5"),
         5679, defMax, "Ignoring non-numeric KAVREL_APP_MAX_PACKET_SIZE environment variable: -5" + keepsMax},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words{"-n", "-l", ""};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const std::string what = ::testing::PrintToString(words) + " port env " + c.portVariable.value_or("unset") +
                                 ", size env " + c.maxPacketVariable.value_or("unset");
        const Outcome outcome = Run(words, c.portVariable, c.maxPacketVariable);
        EXPECT_TRUE(outcome.result) << what << "\n" << outcome.printed;
        EXPECT_EQ(outcome.port, c.port) << what;
        EXPECT_EQ(outcome.maxPacketSize, c.maxPacketSize) << what;
        if (c.warning.empty()) {
            EXPECT_FALSE(Has(outcome.logged, "WARNING")) << what << ": " << outcome.logged;
        } else {
            EXPECT_TRUE(Has(outcome.logged, "WARNING " + c.warning + "\n")) << what << ": " << outcome.logged;
        }
    }
}

TEST_F(CommandLineTest, SettingsAndTheDebugTrace)
{
    TestApplication app;
    const Outcome outcome =
        Run(app, {"-n", "-c", "/etc/app.xml", "-P", "/usr/lib/app", "-L", m_dir.Path(), "-l", "app.log", "-d",
                  "trace.log", "3", "--unknown-option", "-b", "3", "5"});
    ASSERT_TRUE(outcome.result) << outcome.printed;
    EXPECT_EQ(app.ConfFile(), "/etc/app.xml");
    EXPECT_EQ(app.PluginDir(), "/usr/lib/app");
    EXPECT_EQ(app.LogFile(), m_dir / "app.log");
    // The log was opened on the file and the trace runs at level 3 in the log folder.
    EXPECT_TRUE(std::filesystem::exists(m_dir / "app.log"));
    EXPECT_EQ(istd::TraceFile::GetInitPath(), m_dir / "trace.log");
    EXPECT_EQ(istd::TraceFile::GetInstance().Level(), istd::eTraceInfo);
    EXPECT_TRUE(istd::TraceFile::IsActive(3));
    EXPECT_FALSE(istd::TraceFile::IsActive(4));
    // The board words become the boards domain in order.
    ASSERT_EQ(app.BoardsDomain().size(), 2u);
    EXPECT_EQ(app.BoardsDomain()[0].ToString(), bmc::DecomposeUri("3").ToString());
    EXPECT_EQ(app.BoardsDomain()[1].ToString(), bmc::DecomposeUri("5").ToString());
    EXPECT_TRUE(outcome.daemonCalls.empty());
    EXPECT_EQ(outcome.printed, "");
    // The start goes on past an option nobody declared, and says so.
    EXPECT_TRUE(Has(outcome.logged, "WARNING Ignoring unknown option: --unknown-option\n")) << outcome.logged;
    // "-P" names a folder that does not exist: no plug-in will load, which the start says now.
    EXPECT_TRUE(Has(outcome.logged, "WARNING Failed to access folder /usr/lib/app while looking for kavrel "
                                    "application plugins: No such file or directory\n"))
        << outcome.logged;
}

TEST_F(CommandLineTest, WithoutDebugTheTraceIsNotStarted)
{
    istd::TraceFile::GetInstance().Stop();
    TestApplication app;
    const Outcome outcome = Run(app, {"-n", "-L", m_dir.Path(), "-l", ""});
    ASSERT_TRUE(outcome.result);
    EXPECT_EQ(istd::TraceFile::GetInitPath(), "+");
    EXPECT_FALSE(istd::TraceFile::IsActive(1));
    // An empty log name opens no log.
    EXPECT_EQ(app.LogFile(), "");
}

TEST_F(CommandLineTest, LogFileThatCannotBeOpenedEndsStartUp)
{
    const std::string path = m_dir / "missing-folder/app.log";
    for (bool daemon : {false, true}) {
        std::vector<std::string> words{"-L", m_dir / "missing-folder", "-l", "app.log"};
        if (!daemon) {
            words.push_back("-n");
        }
        const Outcome outcome = Run(words);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.printed, "Cannot open log file: " + path + "\n");
        EXPECT_EQ(outcome.failure, "test-app: Cannot open log file: " + path + ": No such file or directory\n");
        // Found before the process would have gone to the background.
        EXPECT_TRUE(outcome.daemonCalls.empty());
    }
}

TEST_F(CommandLineTest, DaemonisesWithThePidFileAfterTheChecks)
{
    {
        TestApplication app;
        const Outcome outcome = Run(app, {"-L", m_dir.Path(), "-l", "app.log"});
        EXPECT_TRUE(outcome.result) << outcome.printed;
        EXPECT_EQ(outcome.daemonCalls, std::vector<std::string>{"/var/run/test-app.pid"});
    }
    // A refused debug word never reaches the daemon.
    EXPECT_TRUE(Run({"-d", "x"}).daemonCalls.empty());
    // The daemon refused.
    const Outcome refused = Run({"-l", ""}, std::nullopt, std::nullopt, -1);
    EXPECT_FALSE(refused.result);
    EXPECT_EQ(refused.daemonCalls.size(), 1u);
    EXPECT_EQ(refused.failure, "test-app: Can not daemonize\n");
}

TEST_F(CommandLineTest, RelativePathsKeepTheirMeaningInTheDaemon)
{
    testsupport::CurrentDir here(m_dir.Path());
    TestApplication app;
    ASSERT_TRUE(Run(app, {"-c", "app.xml", "-P", "plugins", "-L", ".", "-l", "app.log"}).result);
    EXPECT_EQ(app.ConfFile(), m_dir / "app.xml");
    EXPECT_EQ(app.PluginDir(), m_dir / "plugins");
    EXPECT_EQ(app.LogFile(), m_dir / "./app.log");

    // In the foreground they stay as given.
    TestApplication foreground;
    ASSERT_TRUE(Run(foreground, {"-n", "-c", "app.xml", "-L", "", "-l", "app.log"}).result);
    EXPECT_EQ(foreground.ConfFile(), "app.xml");
    EXPECT_EQ(foreground.LogFile(), "app.log");
}

TEST_F(CommandLineTest, VersionWithOtherWordsIsIgnoredAndExposeHiddenRegistry)
{
    const Outcome outcome = Run({"-v", "-n", "-l", "", "-R"});
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.printed, "");
    EXPECT_TRUE(mci::IsHiddenRegistryExposed());
}

TEST_F(CommandLineTest, ApplicationHookEndsStartUp)
{
    class Refusing : public TestApplication {
        bool OnProgramOptionsProcess(const boost::program_options::variables_map& values) override
        {
            seen = values.count("no-daemon") != 0;
            return false;
        }

    public:
        bool seen = false;
    } app;
    EXPECT_FALSE(Run(app, {"-n", "-l", ""}).result);
    EXPECT_TRUE(app.seen);
}

} // namespace
} // namespace iapptest
