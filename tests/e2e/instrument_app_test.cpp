// The example application as a process: started on a free loopback port with its files in a
// temporary folder, reached by a client in the test, stopped with signals; failed start-ups;
// and the daemon.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "common/registry_e2e.h"
#include "inet/orb_manager.h"
#include "istd/convert.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

const std::string c_app = E2E_INSTRUMENT_APP;

// The lines of a file.
std::vector<std::string> Lines(const std::string& path)
{
    return istd::TokenizeString(testsupport::ReadFile(path), "\n");
}

// The process is gone, or a zombie that only waits for its new parent (not this process) to
// reap it.
bool Ended(pid_t pid)
{
    if (::kill(pid, 0) != 0 && errno == ESRCH) {
        return true;
    }
    const std::string stat = testsupport::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'Z';
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class InstrumentAppTest : public inettest::OrbTest {
protected:
    void SetUp() override
    {
        inettest::OrbTest::SetUp();
        m_appPort = testsupport::FreeLoopbackPort();
        // A configuration file that any schema check takes.
        testsupport::WriteFile(m_dir / "any.xsd",
                               "<?xml version=\"1.0\"?>\n"
                               "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
                               "<xs:element name=\"configuration\"/></xs:schema>\n");
        testsupport::WriteFile(m_dir / "app.xml",
                               "<?xml version=\"1.0\"?>\n"
                               "<configuration xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                               "xsi:noNamespaceSchemaLocation=\"any.xsd\"/>\n");
    }

    // The application in the foreground with its log, trace (level 2) and markers in the folder.
    std::unique_ptr<inettest::ChildProcess> Start(const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args{c_app,         "--no-daemon", "-p",        std::to_string(m_appPort),
                                      "-L",          m_dir.Path() + "/", "-l",   "app.log",
                                      "-d",          "trace.log",   "2",         "--marker-dir",
                                      m_dir.Path()};
        if (std::find(extra.begin(), extra.end(), "-c") == extra.end()) {
            args.insert(args.end(), {"-c", m_dir / "app.xml"});
        }
        args.insert(args.end(), extra.begin(), extra.end());
        return StartMerged(args);
    }

    i_NET::Application_ptr App()
    {
        CORBA::ORB_var orb = inet::OM().GetORB();
        CORBA::Object_var object = orb->string_to_object(
            ("corbaloc::127.0.0.1:" + std::to_string(m_appPort) + "/" + inet::c_defaultNetId).c_str());
        return i_NET::Application::_narrow(object);
    }

    // Waits (30 s at most) until the application answers; false when the process ended first.
    bool WaitServing(inettest::ChildProcess* process)
    {
        return testsupport::WaitUntil(
            [&] {
                if (process != nullptr && !process->IsRunning()) {
                    return true;
                }
                try {
                    i_NET::Application_var app = App();
                    CORBA::String_var version = app->GetInterfaceVersion();
                    return true;
                } catch (const CORBA::Exception&) {
                    return false;
                }
            },
            std::chrono::seconds(30)) &&
               (process == nullptr || process->IsRunning());
    }

    std::string Log() const { return testsupport::ReadFile(m_dir / "app.log"); }
    std::string Trace() const { return testsupport::ReadFile(m_dir / "trace.log"); }

    testsupport::TempDir m_dir{"e2e-instrument"};
    unsigned m_appPort = 0;
};

TEST_F(InstrumentAppTest, ServesAClientAndStopsOnSigterm)
{
    auto process = Start();
    ASSERT_TRUE(WaitServing(process.get())) << process->Output();
    i_NET::Application_var app = App();
    CORBA::String_var version = app->GetInterfaceVersion();
    EXPECT_STREQ(version.in(), "2.6");

    Notes* notes = nullptr;
    i_NET::Notification_var callback;
    {
        auto* servant = new Notes;
        notes = servant;
        inet::OM().Activate(servant);
        callback = servant->_this();
    }
    i_NET::RemoteNode_var node = app->GetRemoteNode(callback);
    CORBA::Any_var name = node->GetValue(Path("app-name"), 0, 0, CORBA::_tc_string);
    EXPECT_EQ(Text(name.in()), "string instrument-app");
    node->SetValue(Path("tracing/message"), Strings({"a note from the client"}), 0);
    app->ReleaseRemoteNode(callback);
    inet::OM().Deactivate(notes);

    process->Kill(SIGTERM);
    EXPECT_EQ(process->Wait(60000), 0) << process->Output();
    EXPECT_TRUE(Has(Trace(), "a note from the client"));
    EXPECT_TRUE(Has(Log(), "INFO Configuration loaded successfully.")) << Log();
    EXPECT_FALSE(Has(Log(), "CRITICAL")) << Log();
    EXPECT_EQ(Lines(m_dir / "accept-requests"), std::vector<std::string>{"4"});
    EXPECT_EQ(Lines(m_dir / "shutdown"), std::vector<std::string>{"5"});
}

TEST_F(InstrumentAppTest, ConfigurationRegistryIsWrittenAtStopAndReadAtStart)
{
    const std::string file = m_dir / "registry.xml";
    for (const char* label : {"first", "second"}) {
        auto process = Start({"--config-registry", "-c", file});
        ASSERT_TRUE(WaitServing(process.get())) << process->Output();
        i_NET::Application_var app = App();
        auto* notes = new Notes;
        inet::OM().Activate(notes);
        i_NET::Notification_var callback = notes->_this();
        i_NET::RemoteNode_var node = app->GetRemoteNode(callback);
        CORBA::Any_var before = node->GetValue(Path("application/label"), 0, 0, CORBA::_tc_string);
        EXPECT_EQ(Text(before.in()), std::string("string ") + (label == std::string("first") ? "instrument" : "first"));
        node->SetValue(Path("application/label"), Strings({label}), 0);
        app->ReleaseRemoteNode(callback);
        inet::OM().Deactivate(notes);
        process->Kill(SIGTERM);
        ASSERT_EQ(process->Wait(60000), 0) << process->Output();
        EXPECT_TRUE(Has(testsupport::ReadFile(file), label)) << testsupport::ReadFile(file);
        EXPECT_TRUE(Has(testsupport::ReadFile(m_dir / "registry.xsd"), "xs:schema"));
        // A fresh client ORB: its connections to the process that ended are gone.
        inettest::OrbTest::TearDown();
        inettest::OrbTest::SetUp();
    }
}

TEST_F(InstrumentAppTest, TwoSignalsCloseTogetherGiveOneShutdown)
{
    auto process = Start();
    ASSERT_TRUE(WaitServing(process.get())) << process->Output();
    // A client that never releases its node: the node ends with the ORB, and the process's leak
    // check finds nothing of it.
    auto* notes = new Notes;
    inet::OM().Activate(notes);
    i_NET::Notification_var callback = notes->_this();
    i_NET::Application_var app = App();
    i_NET::RemoteNode_var node = app->GetRemoteNode(callback);
    EXPECT_TRUE(node->Subscribe(Path("application/label")));
    process->Kill(SIGTERM);
    process->Kill(SIGTERM);
    EXPECT_EQ(process->Wait(60000), 0) << process->Output();
    EXPECT_EQ(Lines(m_dir / "shutdown"), std::vector<std::string>{"5"});
}

TEST_F(InstrumentAppTest, FailedStartUpsEndTheProcessWithTheirMessages)
{
    {
        SCOPED_TRACE("required configuration file missing");
        auto process = Start({"-c", m_dir / "missing.xml"});
        EXPECT_EQ(process->Wait(60000), 1) << process->Output();
        const std::string expected = "Error: Cannot read and parse configuration file: " + (m_dir / "missing.xml");
        EXPECT_TRUE(Has(Trace(), expected)) << Trace();
        EXPECT_TRUE(Has(Log(), "CRITICAL " + expected)) << Log();
    }
    {
        SCOPED_TRACE("port in use");
        testsupport::PortTaken taken(m_appPort);
        auto process = Start();
        EXPECT_EQ(process->Wait(60000), 1) << process->Output();
        EXPECT_TRUE(Has(Log(), "CRITICAL Error: inet: ")) << Log();
        EXPECT_EQ(Lines(m_dir / "shutdown").size(), 2u);
    }
}

TEST_F(InstrumentAppTest, SigtermDuringAFailedStartUpDoesNotDelayTheExit)
{
    testsupport::PortTaken taken(m_appPort);
    auto process = Start();
    // The signal thread runs from the first phase on; the ORB then fails on the port.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !Lines(m_dir / "pre-init").empty() || !process->IsRunning(); },
                                       std::chrono::seconds(30)));
    const auto start = std::chrono::steady_clock::now();
    process->Kill(SIGTERM);
    EXPECT_EQ(process->Wait(60000), 1) << process->Output();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(InstrumentAppTest, DaemonServesUntilSigterm)
{
    // Relative paths, from the folder: the daemon runs in "/".
    auto [rc, output] = inettest::RunProcess(
        {"/bin/sh", "-c",
         "cd \"$0\" && exec \"$1\" -p \"$2\" -L . -l app.log -c app.xml --pid-file app.pid --marker-dir . 2>&1",
         m_dir.Path(), c_app, std::to_string(m_appPort)});
    ASSERT_EQ(rc, 0) << output;
    const std::string pidText = testsupport::ReadFile(m_dir / "app.pid");
    ASSERT_FALSE(pidText.empty());
    const pid_t pid = static_cast<pid_t>(std::stol(pidText));
    EXPECT_EQ(::kill(pid, 0), 0);
    ASSERT_TRUE(WaitServing(nullptr));
    EXPECT_TRUE(Has(Log(), "INFO Configuration loaded successfully.")) << Log();

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return Ended(pid); }, std::chrono::seconds(30)));
    EXPECT_EQ(Lines(m_dir / "shutdown"), std::vector<std::string>{"5"});
}

} // namespace
} // namespace e2e
