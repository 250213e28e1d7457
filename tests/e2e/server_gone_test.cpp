// registry-client's stream and watch while the server goes away: registry-server and the example
// application (with the example plug-in's generated signal), each stopped with SIGTERM and, in a
// second run, killed with SIGKILL. No client may wait for ever: a stopped server closes the
// stream with terminated(-5), and what it does not close the client's periodic check of the
// server (--ping, 2 s by default) ends with the lost connection.

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/instrument_app_e2e.h"
#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

using inettest::ChildProcess;

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// One server under test: registry-server, or the application with the example plug-in.
struct Running {
    std::unique_ptr<Server> server;
    std::unique_ptr<ChildProcess> app;
    unsigned port = 0;
    std::string signal;  // the path of a signal node
    std::string watched; // the path of a value node

    // Sends the signal and waits for the end: the exit code, or -signal.
    int Stop(int sig)
    {
        if (server) {
            return server->Stop(sig);
        }
        app->Kill(sig);
        return app->Wait();
    }
};

class ServerGoneTest : public InstrumentAppTest {
protected:
    Running StartServer(bool registryServer, const std::string& name)
    {
        Running running;
        if (registryServer) {
            const std::string dir = m_dir / name;
            std::filesystem::create_directories(dir);
            running.server = std::make_unique<Server>(dir);
            EXPECT_TRUE(running.server->WaitServing()) << running.server->Output();
            running.port = running.server->Port();
            running.signal = "/signal";
            running.watched = "/settings/count";
        } else {
            // A port of its own for each run: the one before may not be free again yet.
            m_appPort = testsupport::FreeLoopbackPort();
            running.app = Start({"-P", m_plugins + "/"});
            EXPECT_TRUE(WaitServing(running.app.get())) << running.app->Output();
            running.port = m_appPort;
            running.signal = "/application/plugins/demo/ramp/signal";
            running.watched = "/application/plugins/demo/settings/count";
        }
        return running;
    }

    std::string m_plugins = PluginFolder({"demo"});
};

TEST_F(ServerGoneTest, StreamAndWatchEndByThemselvesWhenTheServerStopsOrDies)
{
    const std::string lost = ": lost the connection to corbaloc::127.0.0.1:";
    const struct {
        bool registryServer;
        int signal;
        int serverRc;
        int streamRc;
        std::string streamEnd; // the stream's last line, after "registry-client: stream <path>"
    } rows[] = {
        {true, SIGTERM, 0, 3, ": the server closed the signal: terminated(-5) after "},
        {true, SIGKILL, -SIGKILL, 1, lost},
        {false, SIGTERM, 0, 3, ": the server closed the signal: terminated(-5) after "},
        {false, SIGKILL, -SIGKILL, 1, lost},
    };
    for (const auto& row : rows) {
        const std::string name = std::string(row.registryServer ? "registry-server" : "instrument-app") + " " +
                                 (row.signal == SIGTERM ? "SIGTERM" : "SIGKILL");
        SCOPED_TRACE(name);
        Running running = StartServer(row.registryServer, name);
        if (::testing::Test::HasFailure()) {
            return;
        }
        auto stream = StartClient(running.port, {"stream", running.signal});
        auto watch = StartClient(running.port, {"watch", running.watched});
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            return Has(stream->Output(), "  connected   as ") && Has(watch->Output(), "watching ");
        })) << stream->Output()
            << watch->Output();

        EXPECT_EQ(running.Stop(row.signal), row.serverRc);
        // Each ends by itself: Wait kills one that does not, and that is a failure.
        EXPECT_EQ(stream->Wait(120000), row.streamRc);
        const std::string streamOutput = stream->Output();
        const std::string streamLine = "registry-client: stream " + running.signal + row.streamEnd;
        EXPECT_TRUE(Has(streamOutput, streamLine)) << streamOutput;
        EXPECT_TRUE(EndsWith(streamOutput, row.streamRc == 1 ? std::to_string(running.port) + "/Application\n"
                                                             : " atoms\n"))
            << streamOutput;
        EXPECT_EQ(watch->Wait(120000), 1);
        EXPECT_TRUE(EndsWith(watch->Output(), "registry-client: watch " + running.watched + lost +
                                                  std::to_string(running.port) + "/Application\n"))
            << watch->Output();
    }
}

} // namespace
} // namespace e2e
