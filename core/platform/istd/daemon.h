#ifndef ISTD_DAEMON_H
#define ISTD_DAEMON_H

// Puts the process in the background.
//
//     if (istd::Daemon::Instance().Start("/var/run/app.pid") == -1) {
//         throw istd::Exception("Can not daemonize", true);
//     }
//     // from here on: the detached process
//
// Start forks, makes the child a session leader, forks again and lets that child (the daemon)
// change to "/", turn its standard streams to /dev/null and write its pid into the pid file.
// The calling process waits for the daemon's report through a pipe: on success it exits with
// status 0, on failure Start returns -1 in the calling process (never in a detached one) and
// the reason is traced at level 1 and kept for LastError. Call it before any thread is started: only the calling
// thread goes along into the daemon.

#include <functional>
#include <mutex>
#include <string>

#include "istd/istd_export.h"

namespace istd {

class ISTD_API Daemon {
public:
    static Daemon& Instance();

    // 0 in the daemon; -1 in the calling process when any step failed. A relative pid file
    // path is taken relative to the current directory at the time of the call.
    int Start(const std::string& pidFile);
    // Why the last Start failed ("cannot write pid file /run/x.pid: Permission denied"); empty
    // after a success, or when a start hook refused.
    std::string LastError() const;
    // In the daemon: removes the pid file Start wrote, when it still holds this process's id
    // (another daemon may have written it since); false when there was none to remove. For a
    // clean stop: a pid file left behind names a process that has gone.
    bool RemovePidFile();

    // For tests of code that daemonises: while a hook is set, Start only calls it with the pid
    // file path and returns its result. An empty hook restores the real Start.
    using StartHook = std::function<int(const std::string& pidFile)>;
    void SetStartHook(StartHook hook);

private:
    Daemon() = default;
    // Traces and keeps the reason; -1.
    int _Failed(const std::string& reason);

    mutable std::mutex m_mutex; // all members
    StartHook m_hook;
    std::string m_error;
    std::string m_pidFile; // the one this daemon wrote

};

} // namespace istd

#endif
