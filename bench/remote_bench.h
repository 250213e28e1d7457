#ifndef BENCH_REMOTE_BENCH_H
#define BENCH_REMOTE_BENCH_H

// What the benchmarks with a server in a process of their own share: the server forked before
// the benchmark starts any thread, and the benchmarks run repeated and interleaved, so that a
// change of the machine's load during the run falls on all of them alike. Header only.
//
//     [[noreturn]] void Serve(unsigned port, int readyFd) {  // its ORB and servants, then
//         ...
//         bench::ServeOrb(readyFd);                          // one byte to readyFd, serves
//     }
//     int main(int argc, char** argv) {
//         const pid_t server = bench::ForkServer(port, &Serve);   // -1: it did not start
//         ... the client's ORB ...
//         bench::RunInterleaved(argc, argv, 5);
//         bench::StopServer(server);
//     }

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "inet/orb_manager.h"

namespace bench {

// The server's end of its start, once its servants are active: says so on readyFd, then runs
// the ORB until the process is stopped.
[[noreturn]] inline void ServeOrb(int readyFd)
{
    const char ready = 'r';
    if (::write(readyFd, &ready, 1) != 1) {
        std::_Exit(1);
    }
    ::close(readyFd);
    inet::OM().ORBRun();
    std::_Exit(0);
}

// Forks the server, which runs serve(port, fd) and writes one byte to fd once it serves; its pid
// when that byte came, -1 (said on standard error) when it did not.
inline pid_t ForkServer(unsigned port, void (*serve)(unsigned port, int readyFd))
{
    int fds[2];
    if (::pipe(fds) != 0) {
        std::perror("pipe");
        return -1;
    }
    const pid_t server = ::fork();
    if (server == 0) {
        ::close(fds[0]);
        serve(port, fds[1]);
        std::_Exit(0);
    }
    ::close(fds[1]);
    char ready = 0;
    const bool started = server > 0 && ::read(fds[0], &ready, 1) == 1;
    ::close(fds[0]);
    if (!started) {
        std::fprintf(stderr, "the server did not start\n");
        return -1;
    }
    return server;
}

inline void StopServer(pid_t server)
{
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
}

// Runs the benchmarks, each repeated that many times in a random interleaving, aggregates only;
// the command line's options come after these, so they may change them.
inline void RunInterleaved(int argc, char** argv, int repetitions)
{
    std::string repeated = "--benchmark_repetitions=" + std::to_string(repetitions);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    std::vector<char*> args{argv[0], repeated.data(), interleave, aggregates};
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}

} // namespace bench

#endif
