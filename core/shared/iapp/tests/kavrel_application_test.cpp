// The application object's life cycle in this process: Run with the ORB on a loopback port, the
// signal handed to the application's signal thread, the states and hooks, the registry it
// defines, the configuration document, and every failure path of start-up.

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "common/test_application.h"
#include "iapp/kavrel_config.h"
#include "iapp/kavrel_plugins.h"
#include "iapp/kavrel_signal_repository.h"
#include "inet/i_net.hh"
#include "inet/orb_manager.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace_capture.h"
#include "istd/ver_info.h"
#include "mci/dispatcher.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"

namespace iapptest {
namespace {

const std::vector<std::pair<std::string, int>> c_fullLife{{"pre-init", 1},      {"post-init", 2},
                                                         {"pre-config", 2},    {"post-config", 3},
                                                         {"start-running", 4}, {"accept-requests", 4},
                                                         {"shutdown", 5}};

// A schema that takes the root element "configuration" with anything inside, and a document
// that names it.
void WriteValidConfiguration(const std::string& dir, const std::string& name)
{
    testsupport::WriteFile(dir + "/any.xsd",
                           "<?xml version=\"1.0\"?>\n"
                           "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
                           "<xs:element name=\"configuration\"/></xs:schema>\n");
    testsupport::WriteFile(dir + "/" + name,
                           "<?xml version=\"1.0\"?>\n"
                           "<configuration xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                           "xsi:noNamespaceSchemaLocation=\"any.xsd\"/>\n");
}

class ApplicationLifeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A stopped application stops the process's notification dispatcher.
        mci::Dispatcher::GetInstance().Start();
        ASSERT_TRUE(istd::Log::Init(m_dir / "log"));
        m_port = testsupport::FreeLoopbackPort();
    }

    void TearDown() override
    {
        istd::Log::Stop();
        inet::OM().ORBDestroy();
    }

    std::string LogText() const { return testsupport::ReadFile(m_dir / "log"); }

    // The application run to a failed end: Run's result must be false.
    void RunFailing(TestApplication& app, const std::vector<std::string>& extra)
    {
        RunningApp running(app, AppArgs(m_port, extra));
        EXPECT_EQ(running.Join(), 0);
    }

    testsupport::TempDir m_dir{"iapp-app"};
    unsigned m_port = 0;
};

TEST_F(ApplicationLifeTest, RunsThroughTheStatesAndStopsOnceOnASignal)
{
    TestApplication app;
    EXPECT_EQ(app.GetState(), 0);
    EXPECT_EQ(TestApplication::Instance(), &app);
    // The constructor made the two features under the application.
    ASSERT_EQ(app.GetChildren().size(), 2u);
    EXPECT_NE(dynamic_cast<iapp::KavrelPlugins*>(app.GetChildren()[0].get()), nullptr);
    EXPECT_EQ(app.GetChildren()[0]->GetName(), "plugins");
    EXPECT_NE(dynamic_cast<iapp::KavrelSignalRepository*>(app.GetChildren()[1].get()), nullptr);
    EXPECT_EQ(app.GetChildren()[1]->GetName(), "signals");

    RunningApp running(app, AppArgs(m_port));
    ASSERT_TRUE(running.WaitServing());
    EXPECT_EQ(app.Port(), m_port);
    app.Deliver(SIGTERM);
    EXPECT_EQ(running.Join(), 1);
    EXPECT_EQ(app.GetState(), 6);
    EXPECT_EQ(app.Hooks(), c_fullLife);
    EXPECT_FALSE(inet::OM().IsInitialised());
    // Destroy released the shared handle.
    EXPECT_TRUE(app.weak_from_this().expired());
}

TEST_F(ApplicationLifeTest, RemoteNodesLeftByClientsEndWithTheOrb)
{
    TestApplication app;
    RunningApp running(app, AppArgs(m_port));
    ASSERT_TRUE(running.WaitServing());
    {
        CORBA::ORB_var orb = inet::OM().GetORB();
        CORBA::Object_var object = orb->string_to_object(
            ("corbaloc::127.0.0.1:" + std::to_string(m_port) + "/" + inet::c_defaultNetId).c_str());
        i_NET::Application_var application = i_NET::Application::_narrow(object);
        for (const char* client : {"one", "two"}) {
            // Callback objects nobody serves: the clients never release their nodes.
            CORBA::Object_var callback = orb->string_to_object(("corbaloc::127.0.0.1:1/" + std::string(client)).c_str());
            i_NET::Notification_var notification = i_NET::Notification::_unchecked_narrow(callback);
            i_NET::RemoteNode_var node = application->GetRemoteNode(notification);
            EXPECT_EQ(node->GetNodeCount(i_NET::NodePath()), 3u);
        }
    }
    app.Deliver(SIGTERM);
    EXPECT_EQ(running.Join(), 1);
    // Both nodes were deactivated when the ORB went (and the leak check finds nothing of them).
    EXPECT_FALSE(inet::OM().IsInitialised());
    EXPECT_EQ(app.GetState(), 6);
}

TEST(KavrelConfigTest, VersionOfTheReleaseAndErrorsToTheCriticalLog)
{
    istd::VerInfo& version = istd::VerInfo::GetInstance();
    const int major = version.Major(), minor = version.Minor(), build = version.Build();
    version.Override(2, 8, 171);
    EXPECT_EQ(iapp::KavrelConfig().GetVersion(), "2.8-171");
    version.Override(major, minor, build);
    EXPECT_EQ(iapp::KavrelConfig().GetTypesSchemaPath(), "/opt/kavrel/xsd/2.8/types.xsd");

    testsupport::TempDir dir("iapp-config");
    ASSERT_TRUE(istd::Log::Init(dir / "log"));
    iapp::KavrelConfig("x").ErrorCallback("line 3: bad");
    istd::Log::Stop();
    EXPECT_NE(testsupport::ReadFile(dir / "log").find("CRITICAL Configuration file error: line 3: bad"),
              std::string::npos);
}

TEST_F(ApplicationLifeTest, DefinesTheApplicationRegistry)
{
    TestApplication app;
    RunningApp running(app, AppArgs(m_port));
    ASSERT_TRUE(running.WaitServing());
    const mci::Node root = app.GetRegistry();
    EXPECT_EQ(root.GetName(), "root");
    std::vector<std::string> names;
    for (const mci::Node& node : root.GetNodes()) {
        names.push_back(node.GetName());
    }
    // "tracing" and "system" are hidden; "application" holds no node and is left out.
    EXPECT_EQ(names, (std::vector<std::string>{"app-name", "version", "boards"}));

    EXPECT_EQ(root.GetNode({"app-name"}).ToString(), "test-app");
    EXPECT_EQ(root.GetNode({"app-name"}).GetFlags(), mci::Flags(2));
    EXPECT_EQ(root.GetNode({"version"}).ToString(), istd::VerInfo::GetInstance().VersionString());
    EXPECT_EQ(root.GetNode({"tracing"}).GetFlags(), mci::Flags(0x40));
    for (const char* path : {"level", "print", "dump_stack", "message"}) {
        EXPECT_NO_THROW(root.GetNode({"tracing", path}).GetName()) << path;
    }
    for (const char* path : {"file", "line", "header", "trailer"}) {
        EXPECT_EQ(root.GetNode({"tracing", "print", path}).GetValueType(), mci::enums::eBool) << path;
    }
    {
        istd::TraceCapture trace(istd::eTraceError);
        root.GetNode({"tracing", "message"}).Set(std::string("note from a client"));
        EXPECT_TRUE(trace.Contains("note from a client"));
    }
    std::string text;
    EXPECT_THROW(root.GetNode({"tracing", "message"}).Get(text), istd::Exception);
    uint32_t maxPacket = 0;
    root.GetNode({"system", "net", "max_packet_size"}).Get(maxPacket);
    EXPECT_EQ(maxPacket, inet::GetMaxPacketSize());
    EXPECT_EQ(maxPacket, iapp::KavrelApplication::c_defaultMaxPacketSize);
    EXPECT_THROW(root.GetNode({"system", "net", "max_packet_size"}).Set(uint32_t{5}), istd::Exception);

    app.Deliver(SIGTERM);
    EXPECT_EQ(running.Join(), 1);
}

TEST_F(ApplicationLifeTest, SecondInstanceIsLoggedAndBecomesTheInstance)
{
    TestApplication first;
    {
        TestApplication second(false, false, "second");
        EXPECT_EQ(TestApplication::Instance(), &second);
        EXPECT_NE(LogText().find("ERROR Created more than one application instance."), std::string::npos);
    }
    EXPECT_EQ(TestApplication::Instance(), nullptr);
}

TEST_F(ApplicationLifeTest, LogFileJoinsDirectoryAndNameWithOneSlash)
{
    struct Case {
        std::string dir;
        std::string name;
        std::string expected;
    };
    const std::vector<Case> cases{{"/var/log/", "a.log", "/var/log/a.log"},
                                  {"/var/log", "a.log", "/var/log/a.log"},
                                  {"", "a.log", "a.log"},
                                  {"/var/log/", "", ""},
                                  {"", "", ""}};
    for (const Case& c : cases) {
        TestApplication app;
        // The settings are written before "help" ends the command line.
        Argv argv({"test-app", "-L", c.dir, "-l", c.name, "--help"});
        ::testing::internal::CaptureStdout();
        EXPECT_FALSE(app.Init(argv.Count(), argv.Get()));
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(app.LogFile(), c.expected) << "'" << c.dir << "' + '" << c.name << "'";
    }
    // The defaults.
    TestApplication app;
    Argv argv({"test-app", "--help"});
    ::testing::internal::CaptureStdout();
    app.Init(argv.Count(), argv.Get());
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(app.LogFile(), "/var/opt/kavrel/log/test-app.log");
    EXPECT_EQ(app.ConfFile(), "/var/opt/kavrel/cfg/test-app.xml");
    EXPECT_EQ(app.PidFile(), "/var/run/test-app.pid");
    EXPECT_EQ(app.PluginDir(), "/opt/kavrel/plugins/");
    EXPECT_EQ(app.NetID(), "Application");
}

TEST_F(ApplicationLifeTest, InitConfigurationBranches)
{
    WriteValidConfiguration(m_dir.Path(), "good.xml");
    testsupport::WriteFile(m_dir / "bad.xml", "<configuration><unclosed></configuration>\n");
    struct Case {
        const char* what;
        bool configRegistry;
        bool configRequired;
        std::string file;
        bool result;
        const char* logged; // expected in the log, or nullptr for nothing new
    };
    const std::vector<Case> cases{
        {"no file name", false, true, "", true, nullptr},
        {"configuration root", true, true, m_dir / "missing.xml", true, nullptr},
        {"missing, not required", false, false, m_dir / "missing.xml", true, "WARNING No configuration file available."},
        {"missing, required", false, true, m_dir / "missing.xml", false, "missing.xml"},
        {"malformed", false, false, m_dir / "bad.xml", false, "CRITICAL Configuration file error: "},
        {"valid", false, true, m_dir / "good.xml", true, "INFO Configuration loaded successfully."},
    };
    for (const Case& c : cases) {
        TestApplication app(c.configRegistry, c.configRequired);
        Argv argv({"test-app", "-c", c.file, "--help"});
        ::testing::internal::CaptureStdout();
        app.Init(argv.Count(), argv.Get());
        ::testing::internal::GetCapturedStdout();
        const size_t before = LogText().size();
        EXPECT_EQ(app.InitConfiguration(), c.result) << c.what;
        const std::string added = LogText().substr(before);
        if (c.logged == nullptr) {
            EXPECT_EQ(added, "") << c.what;
        } else {
            EXPECT_NE(added.find(c.logged), std::string::npos) << c.what << ": " << added;
        }
    }
}

TEST_F(ApplicationLifeTest, MissingRequiredConfigurationFailsStartUp)
{
    TestApplication app(false, true);
    istd::TraceCapture trace(istd::eTraceError);
    RunFailing(app, {"-c", m_dir / "missing.xml"});
    EXPECT_TRUE(trace.Contains("Error: Cannot read and parse configuration file: " + (m_dir / "missing.xml")));
    EXPECT_NE(LogText().find("CRITICAL Error: Cannot read and parse configuration file: "), std::string::npos);
    // Shut down without having made anything.
    EXPECT_EQ(app.GetState(), 5);
    EXPECT_EQ(app.Hooks(), (std::vector<std::pair<std::string, int>>{{"shutdown", 5}}));
    EXPECT_FALSE(app.HasSignalThread());
}

TEST_F(ApplicationLifeTest, HelpAndVersionEndStartUpWithoutShutdown)
{
    for (const char* option : {"--help", "-v"}) {
        TestApplication app;
        ::testing::internal::CaptureStdout();
        RunningApp running(app, {"test-app", option});
        EXPECT_EQ(running.Join(), 0);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(app.GetState(), 1) << option;
        EXPECT_TRUE(app.Hooks().empty()) << option;
        EXPECT_FALSE(inet::OM().IsInitialised()) << option;
    }
}

// An exception thrown from a hook: in Setup (pre-init) or in Run (accept-requests).
struct Thrower {
    const char* what;
    const char* hook;
    std::function<void()> raise;
    const char* logged; // in the log; nullptr: nothing critical logged
    const char* printed; // on standard output; nullptr: nothing
    bool stack;          // a stack dump follows
};

TEST_F(ApplicationLifeTest, ExceptionsEndStartUpWithTheirMessageAndAShutdown)
{
    const std::vector<Thrower> cases{
        {"istd in Setup", "pre-init", [] { throw istd::Exception("no clock", true); },
         "CRITICAL Error in initialization: no clock", nullptr, false},
        {"std in Setup", "pre-init", [] { throw std::runtime_error("bad clock"); },
         "CRITICAL Error in initialization: bad clock", nullptr, true},
        {"other in Setup", "pre-init", [] { throw 7; }, "CRITICAL Unknown exception during initialization", nullptr,
         true},
        {"system error in Run", "accept-requests",
         [] { throw std::system_error(std::make_error_code(std::errc::permission_denied)); }, nullptr,
         "Error: Permission denied\n", false},
        {"std in Run", "accept-requests", [] { throw std::logic_error("late"); }, "CRITICAL Error: late", nullptr,
         false},
        {"CORBA system exception in Run", "accept-requests", [] { throw CORBA::BAD_PARAM(); },
         "CRITICAL CORBA System Exception: CORBA::BAD_PARAM", nullptr, false},
        {"CORBA exception in Run", "accept-requests", [] { throw i_NET::NotFound("x"); },
         "CRITICAL CORBA Exception: ", nullptr, false},
        {"other in Run", "accept-requests", [] { throw 7; }, "CRITICAL Unknown exception", nullptr, false},
    };
    for (const Thrower& c : cases) {
        SCOPED_TRACE(c.what);
        TestApplication app;
        app.SetHookAction([&c](const std::string& hook) {
            if (hook == c.hook) {
                c.raise();
            }
        });
        const size_t before = LogText().size();
        istd::TraceCapture trace(istd::eTraceError);
        ::testing::internal::CaptureStdout();
        RunFailing(app, {});
        const std::string printed = ::testing::internal::GetCapturedStdout();
        const std::string logged = LogText().substr(before);
        if (c.logged != nullptr) {
            EXPECT_NE(logged.find(c.logged), std::string::npos) << logged;
        } else {
            EXPECT_EQ(logged.find("CRITICAL"), std::string::npos) << logged;
        }
        EXPECT_EQ(printed, c.printed == nullptr ? "" : c.printed);
        EXPECT_EQ(trace.Contains("Stack of thread"), c.stack) << trace.Text();
        EXPECT_EQ(app.GetState(), 5);
        EXPECT_EQ(app.Count("shutdown"), 1u);
        // The failed Run leaves no ORB behind.
        EXPECT_FALSE(inet::OM().IsInitialised());
    }
}

TEST_F(ApplicationLifeTest, PortInUseFailsStartUp)
{
    testsupport::PortTaken taken(m_port);
    TestApplication app;
    RunFailing(app, {});
    EXPECT_NE(LogText().find("CRITICAL Error: inet: "), std::string::npos) << LogText();
    EXPECT_EQ(app.Count("shutdown"), 1u);
    EXPECT_EQ(app.Count("accept-requests"), 0u);
    EXPECT_FALSE(inet::OM().IsInitialised());
}

class ConfigRegistryTest : public ApplicationLifeTest {
protected:
    // Runs an application with a configuration root on the file until it serves; then does
    // what it is given and stops it with a signal.
    void RunOnce(const std::function<void(const mci::Node& label)>& whileServing)
    {
        TestApplication app(true, false);
        app.AddSetting("label", "built-in");
        RunningApp running(app, AppArgs(m_port, {"-c", m_file}));
        ASSERT_TRUE(running.WaitServing());
        whileServing(app.GetRegistry().GetNode({"application", "label"}));
        app.Deliver(SIGTERM);
        ASSERT_EQ(running.Join(), 1);
    }

    std::string m_file = m_dir / "app.xml";
};

TEST_F(ConfigRegistryTest, WritesTheFileWithItsSchemaAtStopAndLoadsItAgain)
{
    RunOnce([](const mci::Node& label) {
        EXPECT_EQ(label.ToString(), "built-in");
        label.Set(std::string("first"));
    });
    // No file at the first start: the value kept its built-in text, which the log says.
    EXPECT_EQ(LogText().find("INFO Configuration loaded successfully."), std::string::npos);
    EXPECT_NE(LogText().find("WARNING Configuration loaded with defaults: 1 of 1 values defaulted, 0 refused."),
              std::string::npos)
        << LogText();
    EXPECT_NE(testsupport::ReadFile(m_file).find("first"), std::string::npos);
    EXPECT_NE(testsupport::ReadFile(m_dir / "app.xsd").find(testsupport::TypesXsd()), std::string::npos);

    RunOnce([](const mci::Node& label) { EXPECT_EQ(label.ToString(), "first"); });
    EXPECT_NE(LogText().find("INFO Configuration loaded successfully."), std::string::npos) << LogText();
}

// "Configuration loaded successfully." only when every persistent value came from the file;
// otherwise how many did not. A file that cannot be written is found at the start, and the stop
// gives the same reason.
TEST_F(ConfigRegistryTest, TheLoadSaysHowManyValuesItLeftAtTheirDefaults)
{
    WriteValidConfiguration(m_dir.Path(), "unused.xml");
    const auto document = [](const std::string& elements) {
        return "<?xml version=\"1.0\"?>\n<configuration xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
               "xsi:noNamespaceSchemaLocation=\"any.xsd\">" +
               elements + "</configuration>\n";
    };
    const std::string missingFolder = m_dir / "missing/app.xml";
    const struct {
        const char* what;
        std::string file;
        std::string content; // "" for no file
        std::vector<std::string> logged;
    } cases[] = {
        {"no file", m_file, "", {"WARNING Configuration loaded with defaults: 2 of 2 values defaulted, 0 refused."}},
        {"every value",
         m_file,
         document("<application><label value=\"a\"/><mode value=\"b\"/></application>"),
         {"INFO Configuration loaded successfully."}},
        {"one value",
         m_file,
         document("<application><mode value=\"b\"/></application>"),
         {"WARNING Configuration loaded with defaults: 1 of 2 values defaulted, 0 refused."}},
        {"a value for no node",
         m_file,
         document("<application><label value=\"a\"/><mode value=\"b\"/><gone value=\"c\"/></application>"),
         {"WARNING Configuration loaded with defaults: 0 of 2 values defaulted, 1 refused."}},
        {"a folder that does not exist",
         missingFolder,
         "",
         {"WARNING Can't write configuration file " + missingFolder +
              ", error: No such file or directory. Settings changed from now on will be lost at stop.",
          "WARNING Configuration loaded with defaults: 2 of 2 values defaulted, 0 refused.",
          "WARNING Registry cannot store persistent information to file " + missingFolder +
              ". Error - Cannot store configuration file " + missingFolder + ": No such file or directory"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(m_file);
        if (!c.content.empty()) {
            testsupport::WriteFile(c.file, c.content);
        }
        const size_t before = LogText().size();
        {
            TestApplication app(true, false);
            app.AddSetting("label", "built-in");
            app.AddSetting("mode", "built-in");
            RunningApp running(app, AppArgs(m_port, {"-c", c.file}));
            ASSERT_TRUE(running.WaitServing());
            app.Deliver(SIGTERM);
            ASSERT_EQ(running.Join(), 1);
        }
        const std::string added = LogText().substr(before);
        for (const std::string& line : c.logged) {
            EXPECT_NE(added.find(line + "\n"), std::string::npos) << line << "\n" << added;
        }
        EXPECT_EQ(added.find("Configuration loaded successfully.") != std::string::npos,
                  c.logged.front() == "INFO Configuration loaded successfully.")
            << added;
    }
}

TEST_F(ConfigRegistryTest, DamagedFileFailsStartUpAndStaysAsItWas)
{
    const std::string damaged = "<configuration><label value=\"x\"></configuration>\n";
    testsupport::WriteFile(m_file, damaged);
    TestApplication app(true, false);
    app.AddSetting("label", "built-in");
    RunFailing(app, {"-c", m_file});
    EXPECT_NE(LogText().find("CRITICAL Error: "), std::string::npos) << LogText();
    EXPECT_EQ(app.GetState(), 5);
    EXPECT_EQ(app.Count("post-config"), 0u);
    EXPECT_EQ(testsupport::ReadFile(m_file), damaged);
}

} // namespace
} // namespace iapptest
