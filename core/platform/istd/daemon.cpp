#include "istd/daemon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "istd/trace.h"

namespace istd {

namespace {

// The daemon's report to the calling process: "0" for success, "E" and the reason otherwise.
// End of file without a report means that the daemon or the intermediate child died first.
constexpr char c_success = '0';
constexpr char c_failure = 'E';

// False (with errno set) when not all of the text was written.
bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

std::string ErrnoText(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

// In a child: reports the failure and ends the child without running anything of the parent's
// (no atexit handlers, no static destructors, no buffered output written twice).
[[noreturn]] void Fail(int report, const std::string& reason)
{
    WriteAll(report, std::string(1, c_failure) + reason);
    ::_exit(1);
}

std::string Absolute(const std::string& path)
{
    if (path.empty() || path[0] == '/') {
        return path;
    }
    std::string cwd(4096, '\0');
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        return path;
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return cwd + (cwd.back() == '/' ? "" : "/") + path;
}

void WritePidFile(int report, const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Fail(report, ErrnoText("cannot write pid file " + path, errno));
    }
    if (!WriteAll(fd, std::to_string(::getpid()) + "\n") || ::close(fd) != 0) {
        Fail(report, ErrnoText("cannot write pid file " + path, errno));
    }
}

// The daemon's own steps, in the second child.
void BecomeDaemon(int report, const std::string& pidFile)
{
    if (::chdir("/") != 0) {
        Fail(report, ErrnoText("chdir(\"/\")", errno));
    }
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) {
        Fail(report, ErrnoText("cannot open /dev/null", errno));
    }
    for (int fd = 0; fd <= 2; ++fd) {
        if (::dup2(null, fd) < 0) {
            Fail(report, ErrnoText("cannot redirect the standard streams", errno));
        }
    }
    if (null > 2) {
        ::close(null);
    }
    WritePidFile(report, pidFile);
}

} // namespace

Daemon& Daemon::Instance()
{
    static Daemon* const instance = new Daemon();
    return *instance;
}

void Daemon::SetStartHook(StartHook hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

std::string Daemon::LastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

int Daemon::_Failed(const std::string& reason)
{
    ISTD_TRACE(1, "Can not daemonize: " << reason);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_error = reason;
    return -1;
}

bool Daemon::RemovePidFile()
{
    ISTD_TRACE_FNC("bool istd::Daemon::RemovePidFile()");
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        path = std::exchange(m_pidFile, std::string());
    }
    if (path.empty()) {
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const std::string text = ReadAll(fd);
    ::close(fd);
    if (text != std::to_string(::getpid()) + "\n") {
        ISTD_TRACE(2, "Pid file " << path << " left as it is: it names another process");
        return false;
    }
    if (::unlink(path.c_str()) != 0) {
        ISTD_TRACE(1, "Cannot remove the pid file " << path << ": " << std::strerror(errno));
        return false;
    }
    return true;
}

int Daemon::Start(const std::string& pidFile)
{
    ISTD_TRACE_FNC("int istd::Daemon::Start(const std::string&)");
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_error.clear();
        if (m_hook) {
            StartHook hook = m_hook;
            lock.unlock();
            return hook(pidFile);
        }
    }
    const std::string path = Absolute(pidFile);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return _Failed(ErrnoText("pipe", errno));
    }
    // Buffered output would otherwise be written once by each process.
    std::fflush(nullptr);
    const pid_t first = ::fork();
    if (first < 0) {
        const int error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return _Failed(ErrnoText("fork", error));
    }
    if (first == 0) {
        ::close(pipeFds[0]);
        if (::setsid() < 0) {
            Fail(pipeFds[1], ErrnoText("setsid", errno));
        }
        const pid_t second = ::fork();
        if (second < 0) {
            Fail(pipeFds[1], ErrnoText("second fork", errno));
        }
        if (second > 0) {
            ::_exit(0); // the session leader goes, so the daemon can never regain a terminal
        }
        BecomeDaemon(pipeFds[1], path);
        if (!WriteAll(pipeFds[1], std::string(1, c_success))) {
            ::_exit(1); // the caller would report a failure: no daemon may live on
        }
        ::close(pipeFds[1]);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pidFile = path;
        return 0;
    }

    // The calling process: the pipe ends when both children have closed their copies.
    ::close(pipeFds[1]);
    const std::string report = ReadAll(pipeFds[0]);
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    if (!report.empty() && report[0] == c_success) {
        ::_exit(0);
    }
    const std::string reason =
        report.empty() ? std::string("the detached process ended without a report") : report.substr(1);
    return _Failed(reason);
}

} // namespace istd
