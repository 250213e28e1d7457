#include "hpi_daemon.h"

#include "bmc/hpi_connection.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace bmctest {

namespace {

const char c_daemon[] = "/usr/sbin/openhpid";
constexpr auto c_startTimeout = std::chrono::seconds(30);
constexpr auto c_stopTimeout = std::chrono::seconds(10);
constexpr auto c_poll = std::chrono::milliseconds(20);

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const sockaddr_in address = Loopback(port);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 || ::fchmod(fd, mode) != 0 ||
        ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("cannot write " + path);
    }
    ::close(fd);
}

} // namespace

const char* const HpiDaemon::c_chassisData = KAVREL_TEST_DATA_DIR "/hpi_utca_chassis.data";
const char* const HpiDaemon::c_shelfData = KAVREL_TEST_DATA_DIR "/hpi_shelf.data";

int HpiDaemon::ClientPort()
{
    static const int s_port = [] {
        const int port = static_cast<int>(testsupport::FreeLoopbackPort());
        ::setenv("OPENHPI_DAEMON_HOST", "127.0.0.1", 1);
        ::setenv("OPENHPI_DAEMON_PORT", std::to_string(port).c_str(), 1);
        return port;
    }();
    return s_port;
}

HpiDaemon::HpiDaemon(const std::string& dataFile) : m_dataFile(m_dir / "shelf.data")
{
    std::filesystem::copy_file(dataFile, m_dataFile);
    // The daemon refuses a configuration that others may read.
    WriteFile(m_dir / "openhpi.conf",
              "handler libdyn_simulator {\n"
              "        entity_root = \"{SYSTEM_CHASSIS,1}\"\n"
              "        file = \"" + m_dataFile + "\"\n"
              "}\n",
              0600);
    Start();
}

HpiDaemon::~HpiDaemon()
{
    Stop();
}

void HpiDaemon::Start()
{
    if (IsRunning()) {
        return;
    }
    const int port = ClientPort();
    // Everything the child needs is prepared before fork: it only calls what is safe there.
    std::vector<std::string> arguments{c_daemon, "-n", "-c", m_dir / "openhpi.conf",
                                       "-p", std::to_string(port), "-b", "127.0.0.1",
                                       "-f", m_dir / "openhpid.pid"};
    std::vector<std::string> environment{"OPENHPI_UID_MAP=" + (m_dir / "uid_map")};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, "OPENHPI_UID_MAP=", 16) != 0) {
            environment.emplace_back(*variable);
        }
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    const int output = ::open((m_dir / "openhpid.out").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (output < 0) {
        throw std::runtime_error("cannot create the daemon's output file");
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The daemon dies with the test process, however that ends.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
            ::_exit(126);
        }
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
        ::closefrom(STDERR_FILENO + 1);
        ::execve(c_daemon, argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(output);
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    m_pid = pid;

    const auto deadline = std::chrono::steady_clock::now() + c_startTimeout;
    while (!Accepts(port)) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("openhpid ended at start (status " + std::to_string(status) + "):\n" + Output());
        }
        if (std::chrono::steady_clock::now() > deadline) {
            Stop();
            throw std::runtime_error("openhpid did not come up on port " + std::to_string(port) + ":\n" + Output());
        }
        std::this_thread::sleep_for(c_poll);
    }
}

void HpiDaemon::Stop()
{
    if (!IsRunning()) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + c_stopTimeout;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(c_poll);
    }
    m_pid = -1;
}

std::string HpiDaemon::Output() const
{
    return testsupport::ReadFile(m_dir / "openhpid.out");
}

std::vector<SaHpiRptEntryT> ResourceTable()
{
    const bmc::HpiFunctions& hpi = bmc::HpiFunctions::Real();
    HpiDaemon::ClientPort();
    SaHpiSessionIdT session = 0;
    if (hpi.sessionOpen(SAHPI_UNSPECIFIED_DOMAIN_ID, &session, nullptr) != SA_OK || hpi.discover(session) != SA_OK) {
        throw std::runtime_error("no session to read the resource table in");
    }
    std::vector<SaHpiRptEntryT> table;
    SaHpiEntryIdT entry = SAHPI_FIRST_ENTRY;
    while (entry != SAHPI_LAST_ENTRY) {
        SaHpiRptEntryT rpt{};
        if (hpi.rptEntryGet(session, entry, &entry, &rpt) != SA_OK) {
            break;
        }
        table.push_back(rpt);
    }
    hpi.sessionClose(session);
    return table;
}

} // namespace bmctest
