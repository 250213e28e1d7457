// The example programs from their command lines: registry-client against a running server, and
// the command-line errors of both programs.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/registry_e2e.h"
#include "inet/orb_manager.h"
#include "istd/convert.h"
#include "istd/ver_info.h"
#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

namespace e2e {
namespace {

using Args = std::vector<std::string>;

using ClientTest = RegistryServerTest;

// A server of another protocol on a loopback port: it answers whatever a connection sends with
// an HTTP error and closes it.
class OtherProtocol {
public:
    OtherProtocol() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(m_fd, 4) != 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (m_fd >= 0) {
                ::close(m_fd);
            }
            throw std::runtime_error("no loopback port to listen on");
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { _Serve(); });
    }
    ~OtherProtocol()
    {
        ::shutdown(m_fd, SHUT_RDWR); // ends the accept
        m_thread.join();
        ::close(m_fd);
    }
    OtherProtocol(const OtherProtocol&) = delete;
    OtherProtocol& operator=(const OtherProtocol&) = delete;

    unsigned Port() const { return m_port; }

private:
    void _Serve()
    {
        for (;;) {
            const int connection = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            const timeval wait{5, 0};
            ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
            char request[512];
            (void)::recv(connection, request, sizeof(request), 0);
            const char reply[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
            (void)::send(connection, reply, sizeof(reply) - 1, MSG_NOSIGNAL);
            ::close(connection);
        }
    }

    int m_fd;
    unsigned m_port = 0;
    std::thread m_thread;
};

TEST_F(ClientTest, ListsTheTreeWithTypesFlagsAndValues)
{
    const auto [rc, output] = RunClient(m_server->Port(), {"list"});
    ASSERT_EQ(rc, 0) << output;
    const std::vector<std::string> lines = istd::TokenizeString(output, "\n");
    EXPECT_EQ(lines.size(), 41u) << output;
    const std::vector<std::string> expected = {
        "/settings/count      int32      rwp-----  10",
        "/settings/mode       enum       rwp-----  internal",
        "/tables/labels       string[3]  rwp---a-  [a, b, c]",
        "/registers/divider   uint32     rw------  0",
        "/apply               enum       -w---x--",
        "/signal              -          r------s",
        "/signal/comp_names   string[2]  r--c--a-  [index, value]",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(output.find(line + "\n"), std::string::npos) << line << "\n" << output;
    }
    EXPECT_EQ(RunClient(m_server->Port(), {"list", "/tables/counts"}).second,
              "/tables/counts  int32[4]  rwp---a-  [1, 2, 3, 4]\n");
}

// Values given as text are written as the node's type and read back.
TEST_F(ClientTest, SetsByTheNodesType)
{
    struct Case {
        Args args;
        std::string output;
    };
    const Case cases[] = {
        {{"set", "/settings/enabled", "off"}, "/settings/enabled = false\n"},
        {{"set", "/settings/enabled", "Yes"}, "/settings/enabled = true\n"},
        {{"set", "/settings/count", "0x20"}, "/settings/count = 32\n"},
        {{"set", "/settings/limit", "4294967295"}, "/settings/limit = 4294967295\n"},
        {{"set", "/settings/offset", "-7"}, "/settings/offset = -7\n"},
        {{"set", "/settings/total", "18446744073709551615"}, "/settings/total = 18446744073709551615\n"},
        {{"set", "/settings/gain", "2.5e-3"}, "/settings/gain = 0.0025\n"},
        {{"set", "/settings/ratio", "0.1"}, "/settings/ratio = 0.1\n"},
        {{"set", "/settings/label", "two words"}, "/settings/label = two words\n"},
        {{"set", "/settings/mode", "external"}, "/settings/mode = external\n"},
        {{"set", "/settings/mode", "3"}, "/settings/mode = software\n"},
        {{"--pos", "1", "set", "/tables/counts", "-1", "-2"}, "/tables/counts = [-1, -2]\n"},
        {{"--pos", "1", "set", "/registers/modes", "internal", "software"}, "/registers/modes = [internal, software]\n"},
        {{"set", "/apply", "Execute"}, "/apply set\n"},
        {{"exec", "/apply"}, "/apply executed\n"},
        {{"get", "/applied"}, "/applied = 2\n"},
        // "-h" after the command is a value, as other words that begin with '-' are.
        {{"set", "/settings/label", "-h"}, "/settings/label = -h\n"},
        {{"--pos", "2", "--count", "5", "get", "/tables/counts"}, "/tables/counts = [-2, 4]\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunClient(m_server->Port(), c.args), std::make_pair(0, c.output)) << c.args[1];
    }
}

TEST_F(ClientTest, ShowsNodeInformation)
{
    EXPECT_EQ(RunClient(m_server->Port(), {"info", "/settings/count"}).second,
              "/settings/count\n"
              "  type       int32\n"
              "  size       1\n"
              "  flags      rwp----- (0xe)\n"
              "  value      10\n"
              "  validator  [0, 100]\n"
              "  domain     -\n"
              "  children   -\n");
    const std::string mode = RunClient(m_server->Port(), {"info", "settings/mode"}).second;
    EXPECT_NE(mode.find("  domain     off, internal, external, software\n"), std::string::npos) << mode;
    const std::string signal = RunClient(m_server->Port(), {"info", "/signal"}).second;
    EXPECT_NE(signal.find("  children   access_type, atom_size, group_size, comp_names, comp_num, comp_type\n"),
              std::string::npos)
        << signal;
}

// What the server refuses ends the client with code 1 and the node's reason; values that are
// no values of the node's type end it with code 2 before anything is sent. One style for all:
// "registry-client: <command> <path>: <reason>".
TEST_F(ClientTest, ReportsRefusalsAndBadValues)
{
    struct Case {
        Args args;
        int rc;
        std::string output;
    };
    const Case cases[] = {
        {{"set", "/settings/count", "500"}, 1,
         "registry-client: set /settings/count: Validation failed: [0, 100] for 500\n"},
        {{"get", "/settings/nope"}, 1, "registry-client: get /settings/nope: node not found: /settings/nope\n"},
        {{"set", "/settings", "1"}, 1, "registry-client: set /settings: Node doesn't contain any value.\n"},
        {{"set", "/settings/mode", "sometimes"}, 2,
         "registry-client: set /settings/mode: 'sometimes' is not one of off, internal, external, software\n"},
        {{"--pos", "1", "set", "/registers/modes", "internal", "often"}, 2,
         "registry-client: set /registers/modes: 'often' is not one of off, internal, external, software\n"},
        {{"set", "/settings/mode", "7"}, 1,
         "registry-client: set /settings/mode: Invalid enum value (its names are off, internal, external, software)\n"},
        {{"set", "/settings/count", "1", "2"}, 1,
         "registry-client: set /settings/count: Size too large (2 values from position 0, the node has 1 value)\n"},
        {{"--pos", "3", "set", "/tables/counts", "1", "2"}, 1,
         "registry-client: set /tables/counts: Size too large (2 values from position 3, the node has 4 values)\n"},
        {{"--pos", "4", "get", "/tables/counts"}, 1,
         "registry-client: get /tables/counts: Position out of range (position 4, the node has 4 values)\n"},
        {{"get", "/apply"}, 1,
         "registry-client: get /apply: the node is a command and cannot be read; run it with exec (TreeNode is not "
         "readable.)\n"},
        {{"exec", "/settings/count"}, 1,
         "registry-client: exec /settings/count: the node is no command (commands have the flag x in list)\n"},
        {{"watch", "/settings"}, 1, "registry-client: watch /settings: the node /settings has no value to watch\n"},
        {{"watch", "/settings/count", "/info"}, 1,
         "registry-client: watch /settings/count: the node /info has no value to watch\n"},
        {{"set", "/settings/count", "ten"}, 2, "registry-client: set /settings/count: 'ten' is no int32 value\n"},
        {{"set", "/settings/count", "99999999999"}, 2,
         "registry-client: set /settings/count: '99999999999' is no int32 value\n"},
        {{"set", "/settings/limit", "-1"}, 2, "registry-client: set /settings/limit: '-1' is no uint32 value\n"},
        {{"set", "/settings/enabled", "maybe"}, 2, "registry-client: set /settings/enabled: 'maybe' is no bool value\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunClient(m_server->Port(), c.args), std::make_pair(c.rc, c.output)) << c.args[1];
    }
    EXPECT_EQ(RunClient(m_server->Port(), {"get", "/settings/count"}).second, "/settings/count = 10\n");
    EXPECT_EQ(RunClient(m_server->Port(), {"get", "/registers/modes"}).second, "/registers/modes = [off, off, off]\n");
}

// Changes as get prints values: enumerations by name (their notifications carry numbers), also
// names the node held no earlier and the elements of an enumeration array.
TEST_F(ClientTest, WatchPrintsEachChange)
{
    // The time-out spans the seven client processes below, each seconds long on a loaded machine;
    // the watch ends at its sixth notification.
    auto watcher = StartClient(m_server->Port(), {"watch", "/settings/count", "/tables/counts", "/settings/mode",
                                                  "/registers/modes", "--notifications", "6", "--timeout", "600"});
    ASSERT_TRUE(testsupport::WaitUntil([&] { return watcher->Output().find("watching /registers/modes") != std::string::npos; }))
        << watcher->Output();
    const Args changes[] = {{"set", "/settings/count", "7"},      {"--pos", "3", "set", "/tables/counts", "9"},
                            {"set", "/settings/mode", "software"}, {"set", "/settings/mode", "0"},
                            {"--pos", "1", "set", "/registers/modes", "external", "internal"}};
    for (const Args& change : changes) {
        EXPECT_EQ(RunClient(m_server->Port(), change).first, 0) << change.back();
    }
    EXPECT_EQ(RunClient(m_server->Port(), {"exec", "/apply"}).first, 0); // not watched
    EXPECT_EQ(RunClient(m_server->Port(), {"set", "/settings/count", "8"}).first, 0);
    EXPECT_EQ(watcher->Wait(), 0);
    EXPECT_EQ(watcher->Output(), "watching /settings/count\nwatching /tables/counts\nwatching /settings/mode\n"
                                 "watching /registers/modes\n/settings/count = 7\n/tables/counts[3] = [9]\n"
                                 "/settings/mode = software\n/settings/mode = off\n"
                                 "/registers/modes[1] = [external, internal]\n/settings/count = 8\n");

    // Ended by SIGINT: a clean end. Ended by its time-out short of the notifications asked for:
    // code 1 and why.
    auto interrupted = StartClient(m_server->Port(), {"watch", "/settings/count"});
    ASSERT_TRUE(testsupport::WaitUntil([&] { return interrupted->Output().find("watching") != std::string::npos; }));
    interrupted->Kill(SIGINT);
    EXPECT_EQ(interrupted->Wait(), 0);
    EXPECT_EQ(RunClient(m_server->Port(), {"watch", "/settings/count", "--notifications", "1", "--timeout", "1"}),
              std::make_pair(1, std::string("watching /settings/count\n"
                                            "registry-client: watch /settings/count: 0 of 1 notifications arrived in 1 s\n")));
}

// Bad command lines of both programs: a clear message, exit code 2, no crash.
TEST(ProgramsTest, RefuseBadCommandLines)
{
    const std::string client = E2E_REGISTRY_CLIENT;
    const std::string server = E2E_REGISTRY_SERVER;
    struct Case {
        const std::string& program;
        Args args;
        std::string message;
    };
    const Case cases[] = {
        {client, {}, "registry-client: no command given"},
        {client, {"frob"}, "registry-client: unknown command 'frob'"},
        {client, {"get"}, "registry-client: wrong number of arguments for 'get'"},
        {client, {"get", "/a", "/b"}, "registry-client: wrong number of arguments for 'get'"},
        {client, {"set", "/a"}, "registry-client: wrong number of arguments for 'set'"},
        {client, {"watch"}, "registry-client: wrong number of arguments for 'watch'"},
        {client, {"exec"}, "registry-client: wrong number of arguments for 'exec'"},
        {client, {"exec", "/a", "/b"}, "registry-client: wrong number of arguments for 'exec'"},
        {client, {"--port", "0", "list"}, "registry-client: invalid port '0' (a number from 1 to 65535)"},
        {client, {"--port", "http", "list"}, "registry-client: invalid port 'http' (a number from 1 to 65535)"},
        {client, {"--port", "", "list"}, "registry-client: invalid port '' (a number from 1 to 65535)"},
        {client, {"--queue", "65537", "stream", "/signal"},
         "registry-client: invalid queue length '65537' (a number from 0 to 65536)"},
        {client, {"--pos", "-1", "get", "/a"}, "registry-client: invalid position '-1' (a number from 0 to 4294967295)"},
        {client, {"--timeout", "0", "watch", "/a"}, "registry-client: invalid time-out '0' (a number from 1 to 86400)"},
        {client, {"--ping", "3601", "watch", "/a"}, "registry-client: invalid ping period '3601' (a number from 0 to 3600)"},
        {client, {"--host", "a/b", "list"}, "registry-client: invalid host 'a/b'"},
        {client, {"--id", "", "list"}, "registry-client: the network id is empty"},
        {client, {"--frob", "list"}, "registry-client: unrecognised option '--frob'"},
        {client, {"--port"}, "registry-client: the required argument for option '--port' is missing"},
        {client, {"--port", "1", "--port", "2", "list"},
         "registry-client: option '--port' cannot be specified more than once"},
        {server, {"--port", "65536"}, "registry-server: invalid port '65536' (a number from 0 to 65535)"},
        {server, {"--port", "12ab"}, "registry-server: invalid port '12ab' (a number from 0 to 65535)"},
        {server, {"--port", ""}, "registry-server: invalid port '' (a number from 0 to 65535)"},
        {server, {"--max-packet-size", "12"},
         "registry-server: invalid maximum packet size '12' (a number from 1024 to 4294967295)"},
        {server, {"--debug", "9"}, "registry-server: invalid trace level '9' (a number from 0 to 5)"},
        {server, {"--config-file", ""}, "registry-server: the configuration file name is empty"},
        {server, {"--verbose"}, "registry-server: unrecognised option '--verbose'"},
        {server, {"extra"}, "registry-server: too many positional options have been specified on the command line"},
    };
    // All at once: one after the other, the starts of 28 instrumented programs outlast the test's
    // time-out on a loaded machine.
    std::vector<std::unique_ptr<inettest::ChildProcess>> processes;
    for (const Case& c : cases) {
        Args args{c.program};
        args.insert(args.end(), c.args.begin(), c.args.end());
        processes.push_back(StartMerged(args));
    }
    for (size_t i = 0; i < processes.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(processes[i]->Wait(120000), 2) << c.message;
        const std::string name = c.message.substr(0, c.message.find(':'));
        EXPECT_EQ(processes[i]->Output(), c.message + "\nTry '" + name + " --help'.\n");
    }
}

// Start-up failures: a clear message and exit code 1.
TEST_F(ClientTest, ServerThatCannotStartSaysWhy)
{
    Server taken(m_dir.Path(), {"--port", std::to_string(m_server->Port())});
    EXPECT_FALSE(taken.WaitServing());
    EXPECT_EQ(taken.Stop(), 1);
    EXPECT_NE(taken.Output().find("registry-server: inet: ORB start on port " + std::to_string(m_server->Port())),
              std::string::npos)
        << taken.Output();

    Server noSchema(m_dir.Path(), {"--types-schema", m_dir / "none.xsd"});
    EXPECT_FALSE(noSchema.WaitServing());
    EXPECT_EQ(noSchema.Stop(), 1);
    EXPECT_NE(noSchema.Output().find("the types schema " + (m_dir / "none.xsd") + " does not exist"), std::string::npos)
        << noSchema.Output();

    // Said once, with the reason.
    Server noTrace(m_dir.Path(), {"--debug", "2", "--trace-file", m_dir / "none/trace.log"});
    EXPECT_FALSE(noTrace.WaitServing());
    EXPECT_EQ(noTrace.Stop(), 1);
    EXPECT_EQ(noTrace.Output(),
              "registry-server: cannot open the trace file " + (m_dir / "none/trace.log") + ": No such file or directory\n");
}

// A server that is not there, or not at the address given: what happened and what to check,
// exit code 1.
TEST_F(ClientTest, ConnectionFailuresSayWhatToCheck)
{
    const Args get{"get", "/settings/count"};
    const unsigned nobody = testsupport::FreeLoopbackPort();
    EXPECT_EQ(RunClient(nobody, get),
              std::make_pair(1, "registry-client: cannot connect to corbaloc::127.0.0.1:" + std::to_string(nobody) +
                                    "/Application: connection refused (is registry-server running on that port?)\n"));

    const std::string server = "corbaloc::127.0.0.1:" + std::to_string(m_server->Port());
    EXPECT_EQ(RunClient(m_server->Port(), {"--id", "Registry", "list"}),
              std::make_pair(1, "registry-client: no object 'Registry' at " + server +
                                    " (registry-server serves 'Application'; see --id)\n"));

    EXPECT_EQ(RunClient(m_server->Port(), {"--host", "no-such-host.invalid", "list"}),
              std::make_pair(1, "registry-client: cannot connect to corbaloc::no-such-host.invalid:" +
                                    std::to_string(m_server->Port()) + "/Application: unknown host "
                                    "'no-such-host.invalid'\n"));

    OtherProtocol http;
    EXPECT_EQ(RunClient(http.Port(), get),
              std::make_pair(1, "registry-client: cannot connect to corbaloc::127.0.0.1:" + std::to_string(http.Port()) +
                                    "/Application: the program on that port does not answer in GIOP (is "
                                    "registry-server running on that port?)\n"));

    // A port that takes connections and never answers: the ORB's time-out.
    const testsupport::PortTaken taken(0);
    const unsigned silent = taken.Port();
    EXPECT_EQ(RunClient(silent, get),
              std::make_pair(1, "registry-client: no answer from 127.0.0.1:" + std::to_string(silent) + " within " +
                                    std::to_string(inet::OrbManager::c_clientCallTimeOutMs / 1000) + " s\n"));
}

// With --port 0 the system chooses the port, and the first line of standard output names it:
// a client reaches the server there.
TEST_F(ClientTest, ServerOnPortZeroPrintsItsPortFirst)
{
    ASSERT_EQ(m_server->Stop(), 0);
    inettest::ChildProcess server({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>/dev/null", E2E_REGISTRY_SERVER, "--port",
                                   "0", "--config-file", m_dir / "registry-server.xml", "--types-schema",
                                   testsupport::TypesXsd()});
    ASSERT_TRUE(testsupport::WaitUntil([&] { return server.Output().find('\n') != std::string::npos; }))
        << server.Output();
    const std::string first = server.Output().substr(0, server.Output().find('\n'));
    const std::string serving = "registry-server: serving on port ";
    ASSERT_EQ(first.compare(0, serving.size(), serving), 0) << first;
    const unsigned port = static_cast<unsigned>(std::stoul(first.substr(serving.size())));
    EXPECT_NE(port, 0u);
    EXPECT_EQ(first, serving + std::to_string(port) + " as corbaloc::127.0.0.1:" + std::to_string(port) +
                         "/Application");
    EXPECT_EQ(RunClient(port, {"get", "/settings/count"}), std::make_pair(0, std::string("/settings/count = 10\n")));
    server.Kill(SIGTERM);
    EXPECT_EQ(server.Wait(60000), 0) << server.Output();
}

// -h, --help and --version in both programs: exit code 0; the help lists the exit codes.
TEST(ProgramsTest, HelpAndVersion)
{
    const std::string version = " (kavrel) " + istd::VerInfo::GetInstance().VersionString() + "\n";
    for (const std::string& program : {std::string(E2E_REGISTRY_CLIENT), std::string(E2E_REGISTRY_SERVER)}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        for (const char* help : {"-h", "--help"}) {
            auto process = StartMerged({program, help});
            EXPECT_EQ(process->Wait(120000), 0) << name << " " << help;
            const std::string output = process->Output();
            EXPECT_EQ(output.rfind("Usage: " + name + " [options]", 0), 0u) << output;
            EXPECT_NE(output.find("\nExit codes:\n  0  "), std::string::npos) << output;
            EXPECT_NE(output.find("\n  1  "), std::string::npos) << output;
            EXPECT_NE(output.find("\n  2  a bad command line"), std::string::npos) << output;
        }
        auto process = StartMerged({program, "--version"});
        EXPECT_EQ(process->Wait(120000), 0) << name;
        EXPECT_EQ(process->Output(), name + version);
    }
    // Options before the command: -h among them asks for the help.
    auto process = StartMerged({E2E_REGISTRY_CLIENT, "--port", "1", "-h", "get", "/a"});
    EXPECT_EQ(process->Wait(120000), 0);
    EXPECT_NE(process->Output().find("Exit codes:"), std::string::npos) << process->Output();
}

} // namespace
} // namespace e2e
