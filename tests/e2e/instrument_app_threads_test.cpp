// The example application under concurrent clients: threads of this process get and set the
// example plug-in's nodes while SIGTERM stops the application in the middle of it. The
// application's process runs under the build's sanitizers; it must end cleanly and report nothing.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/instrument_app_e2e.h"
#include "inet/orb_manager.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

constexpr int c_clients = 4;
const std::string c_plugin = "application/plugins/demo/";

TEST_F(InstrumentAppTest, SigtermWhileClientsGetAndSet)
{
    auto process = Start({"-P", PluginFolder({"demo"}) + "/", "-b", "kvr:///test/1"});
    ASSERT_TRUE(WaitServing(process.get())) << process->Output();

    static const char* const modes[] = {"off", "internal", "external", "software"};
    i_NET::Application_var app = App();
    ClientThreads clients(app, c_clients, [](i_NET::RemoteNode_ptr node, int t, CORBA::ULong i) {
        // Notifications of every change go out while the application stops.
        if (i == 0) {
            node->Subscribe(Path(c_plugin + "settings/count"));
        }
        node->SetValue(Path(c_plugin + "settings/count"),
                       Buffer<i_NET::Int32Buffer, CORBA::Long>({CORBA::Long(i % 100)}), 0);
        CORBA::Any_var count = node->GetValue(Path(c_plugin + "settings/count"), 0, 1, CORBA::_tc_long);
        node->SetValue(Path(c_plugin + "tables/counts"), Buffer<i_NET::Int32Buffer, CORBA::Long>({CORBA::Long(i)}),
                       static_cast<CORBA::ULong>(t));
        // Two fields of one register word, written by different threads.
        if (t % 2 == 0) {
            node->SetValue(Path(c_plugin + "registers/divider"), Buffer<i_NET::UInt32Buffer, CORBA::ULong>({i % 256}),
                           0);
        } else {
            node->SetValue(Path(c_plugin + "registers/enable"),
                           Buffer<i_NET::BooleanBuffer, CORBA::Boolean>({i % 2 == 0}), 0);
        }
        node->SetValue(Path(c_plugin + "settings/mode"), Strings({modes[i % 4]}), 0);
        CORBA::Any_var words = node->GetValue(Path(c_plugin + "registers/words"), 0, 0, CORBA::_tc_ulong);
        CORBA::Any_var name = node->GetValue(Path("app-name"), 0, 0, CORBA::_tc_string);
    });

    ASSERT_TRUE(testsupport::WaitUntil([&] { return clients.Operations() >= 4 * c_clients || clients.Failures() > 0; },
                                       std::chrono::seconds(120)));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    clients.Terminating();
    process->Kill(SIGTERM);
    const int rc = process->Wait(60000);
    clients.Stop();
    const std::string output = process->Output();
    EXPECT_EQ(rc, 0) << output;
    EXPECT_EQ(clients.Failures(), 0);
    EXPECT_EQ(output.find("Sanitizer"), std::string::npos) << output;
    EXPECT_EQ(output.find("runtime error"), std::string::npos) << output;
    EXPECT_EQ(CountLines(Log(), "INFO Plug-in demo shut down."), 1u) << Log();
    EXPECT_EQ(Lines(m_dir / "shutdown"), std::vector<std::string>{"5"});
}

} // namespace
} // namespace e2e
