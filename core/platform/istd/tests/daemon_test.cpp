// Daemonising, run in a child of the test process: the child stands for the process the user
// started, and Start must leave it (success) or return -1 in it (failure).

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "istd/daemon.h"
#include "istd/trace_capture.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace {

// Runs f in a child of the test process and gives its exit status (-1 when it did not exit).
int InChild(const std::function<int()>& f)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(f());
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Readlink(const char* path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path, buffer, sizeof(buffer) - 1);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

TEST(Daemon, TheDetachedProcessWritesItsPidAndTheCallerExits)
{
    testsupport::TempDir dir;
    const std::string pidFile = dir / "app.pid";
    const std::string report = dir / "daemon.txt";
    const pid_t testSession = ::getsid(0);

    const int status = InChild([&] {
        const pid_t caller = ::getpid();
        if (istd::Daemon::Instance().Start(pidFile) != 0) {
            return 3; // failure in the caller
        }
        // The daemon: tell the test what it sees, written whole through a rename.
        std::ostringstream text;
        char cwd[4096] = {};
        text << ::getpid() << ' ' << caller << ' ' << ::getsid(0) << ' '
             << (::getcwd(cwd, sizeof(cwd)) ? cwd : "?") << ' ' << Readlink("/proc/self/fd/0") << ' '
             << Readlink("/proc/self/fd/1") << ' ' << Readlink("/proc/self/fd/2");
        {
            std::ofstream out(report + ".tmp");
            out << text.str();
        }
        std::rename((report + ".tmp").c_str(), report.c_str());
        return 0;
    });
    EXPECT_EQ(status, 0) << "the calling process exits with 0 once the daemon reported success";
    ASSERT_TRUE(testsupport::WaitUntil([&] { return std::ifstream(report).good(); }));

    std::istringstream in(testsupport::ReadFile(report));
    pid_t daemon = 0, caller = 0, session = 0;
    std::string cwd, in0, out1, err2;
    in >> daemon >> caller >> session >> cwd >> in0 >> out1 >> err2;
    EXPECT_EQ(testsupport::ReadFile(pidFile), std::to_string(daemon) + "\n");
    EXPECT_NE(daemon, caller);
    EXPECT_NE(session, testSession);
    EXPECT_NE(session, daemon) << "the daemon is no session leader, so it cannot gain a terminal";
    EXPECT_EQ(cwd, "/");
    EXPECT_EQ(in0, "/dev/null");
    EXPECT_EQ(out1, "/dev/null");
    EXPECT_EQ(err2, "/dev/null");
}

TEST(Daemon, ARelativePidFileIsTakenFromTheCallersDirectory)
{
    testsupport::TempDir dir;
    const int status = InChild([&] {
        if (::chdir(dir.Path().c_str()) != 0 || istd::Daemon::Instance().Start("rel.pid") != 0) {
            return 3;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !testsupport::ReadFile(dir / "rel.pid").empty(); }));
}

TEST(Daemon, AnUnwritablePidFileFailsInTheCallingProcess)
{
    testsupport::TempDir dir;
    const std::string pidFile = dir / "missing/app.pid";
    const std::string trace = dir / "trace.txt";
    const int status = InChild([&] {
        const pid_t caller = ::getpid();
        std::string text;
        int result = 0;
        {
            istd::TraceCapture capture(istd::eTraceError);
            result = istd::Daemon::Instance().Start(pidFile);
            text = capture.Text();
        }
        if (::getpid() != caller) {
            return 4; // must never return in a detached process
        }
        std::ofstream(trace) << text << "\nLastError: " << istd::Daemon::Instance().LastError() << "\n";
        return result == -1 ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
    const std::string text = testsupport::ReadFile(trace);
    const std::string reason = "cannot write pid file " + pidFile + ": No such file or directory";
    EXPECT_NE(text.find("Can not daemonize: " + reason), std::string::npos) << text;
    EXPECT_NE(text.find("\nLastError: " + reason + "\n"), std::string::npos) << text;
}

// At a clean stop the daemon removes its pid file, unless the file names another process by then.
TEST(Daemon, RemovePidFileRemovesOnlyTheDaemonsOwn)
{
    for (const bool rewritten : {false, true}) {
        SCOPED_TRACE(rewritten ? "rewritten by another daemon" : "its own");
        testsupport::TempDir dir;
        const std::string pidFile = dir / "app.pid";
        const std::string report = dir / "removed.txt";
        ASSERT_EQ(InChild([&] {
                      if (istd::Daemon::Instance().Start(pidFile) != 0) {
                          return 3;
                      }
                      if (rewritten) {
                          std::ofstream(pidFile) << "1\n";
                      }
                      const bool removed = istd::Daemon::Instance().RemovePidFile();
                      const bool again = istd::Daemon::Instance().RemovePidFile();
                      std::ofstream(report + ".tmp") << removed << again;
                      std::rename((report + ".tmp").c_str(), report.c_str());
                      return 0;
                  }),
                  0);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return std::ifstream(report).good(); }));
        EXPECT_EQ(testsupport::ReadFile(report), rewritten ? "00" : "10");
        EXPECT_EQ(testsupport::ReadFile(pidFile), rewritten ? "1\n" : "");
        EXPECT_EQ(std::ifstream(pidFile).good(), rewritten);
    }
}

TEST(Daemon, TheTestHookIsCalledInPlaceOfForking)
{
    std::string seen;
    istd::Daemon::Instance().SetStartHook([&](const std::string& path) {
        seen = path;
        return -1;
    });
    EXPECT_EQ(istd::Daemon::Instance().Start("/var/run/x.pid"), -1);
    EXPECT_EQ(seen, "/var/run/x.pid");
    istd::Daemon::Instance().SetStartHook(nullptr);
}

} // namespace
