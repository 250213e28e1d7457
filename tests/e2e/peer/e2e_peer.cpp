// A client of the example server for the delivery tests, in a process of its own. Times are
// nanoseconds of the monotonic clock, which every process of the machine shares.
//
//   e2e_peer watch PORT PATH COUNT SECONDS
//       subscribes to the int32 node PATH, prints "ready", then "<time> <value>" for each
//       notification (flushed at once for the first thousand, then by the thousand) until COUNT
//       arrived or SECONDS passed, then subscribes again and prints
//       "resubscribed true" (its notifications had broken: it starts afresh) or "resubscribed
//       false" (it was still subscribed), and ends.
//   e2e_peer write PORT PATH COUNT INTERVAL_MS
//       sets the int32 node PATH COUNT times to i % 101 (i from 1), INTERVAL_MS apart, printing
//       "<start> <end> <value>" for each set, then "done".
//   e2e_peer flood PORT PATH COUNT THREADS
//       sets the int32 node PATH COUNT times to i % 101 from THREADS threads at once (so that
//       many changes take few round-trip times), then prints "done".
//   e2e_peer hold PORT PATH 0 0
//       subscribes to PATH, prints "node <the reference of its remote node>" and waits to be
//       killed.
//   e2e_peer nodes PORT KEYPORT COUNT THREADS
//       asks for COUNT remote nodes from THREADS threads at once, each for a callback reference
//       of its own that nobody serves (corbaloc::127.0.0.1:KEYPORT/forged-<i>), as a client
//       that forges references would, then prints "served <n> refused <m>" (refused: with
//       CORBA::NO_RESOURCES; any other failure ends it with 1).
//
// Exit code 0, or 1 with the reason on standard error.

#include <omniORB4/CORBA.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"
#include "inet/remote_path.h"
#include "istd/convert.h"

namespace {

int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs call(t) on threads 0 .. threads-1 at once; the text of a CORBA failure on any of them,
// or "" when none failed.
std::string OnThreads(size_t threads, const std::function<void(size_t)>& call)
{
    std::mutex failedMutex;
    std::string failed;
    std::vector<std::thread> running;
    for (size_t t = 0; t < threads; ++t) {
        running.emplace_back([&, t] {
            try {
                call(t);
            } catch (const CORBA::Exception& e) {
                std::lock_guard<std::mutex> lock(failedMutex);
                failed = inet::ExceptionText(e);
            }
        });
    }
    for (std::thread& thread : running) {
        thread.join();
    }
    return failed;
}

class Watcher : public POA_i_NET::Notification {
public:
    void Emit(const i_NET::NotificationData& data) override
    {
        const int64_t now = Now();
        CORBA::Long value = -1;
        data.value >>= value;
        std::lock_guard<std::mutex> lock(m_mutex);
        std::printf("%lld %d\n", static_cast<long long>(now), static_cast<int>(value));
        // Each line at once while they are few; in blocks of a thousand for long runs.
        if (++m_count <= 1000 || m_count % 1000 == 0) {
            std::fflush(stdout);
        }
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }

private:
    std::mutex m_mutex;
    size_t m_count = 0;
};

int Run(int argc, char** argv)
{
    if (argc != 6) {
        std::cerr << "usage: e2e_peer watch|write|flood PORT PATH COUNT SECONDS|INTERVAL_MS|THREADS" << std::endl;
        return 1;
    }
    const std::string mode = argv[1];
    const std::string address = std::string("corbaloc::127.0.0.1:") + argv[2] + "/Application";
    const i_NET::NodePath path = mci::PathToRemoteNodeNames(istd::TokenizeString(argv[3], "/"));
    const size_t count = istd::FromString<size_t>(argv[4]);
    const int64_t last = istd::FromString<int64_t>(argv[5]);

    int orbArgc = 1;
    char* orbArgv[] = {argv[0], nullptr};
    inet::OrbManager::Init(orbArgc, orbArgv, 0, 64u << 20);
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(address.c_str());
    i_NET::Application_var app = i_NET::Application::_narrow(object);
    auto* watcher = new Watcher;
    inet::OM().Activate(watcher);
    i_NET::Notification_var callback = watcher->_this();
    i_NET::RemoteNode_var node = app->GetRemoteNode(callback);

    if (mode == "watch") {
        if (!node->Subscribe(path)) {
            std::cerr << "the subscription was refused" << std::endl;
            return 1;
        }
        std::printf("ready\n");
        std::fflush(stdout);
        const int64_t end = Now() + last * 1000000000;
        while (watcher->Count() < count && Now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const bool renewed = node->Subscribe(path);
        std::printf("resubscribed %s\n", renewed ? "true" : "false");
    } else if (mode == "write") {
        for (size_t i = 1; i <= count; ++i) {
            i_NET::Int32Buffer value;
            value.length(1);
            value[0] = static_cast<CORBA::Long>(i % 101);
            CORBA::Any any;
            any <<= value;
            const int64_t start = Now();
            node->SetValue(path, any, 0);
            std::printf("%lld %lld %d\n", static_cast<long long>(start), static_cast<long long>(Now()),
                        static_cast<int>(i % 101));
            if (last > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(last));
            }
        }
        std::printf("done\n");
    } else if (mode == "flood") {
        const size_t threads = static_cast<size_t>(last);
        const std::string failed = OnThreads(threads, [&](size_t t) {
            i_NET::Int32Buffer value;
            value.length(1);
            for (size_t i = 1 + t; i <= count; i += threads) {
                value[0] = static_cast<CORBA::Long>(i % 101);
                CORBA::Any any;
                any <<= value;
                node->SetValue(path, any, 0);
            }
        });
        if (!failed.empty()) {
            std::cerr << "e2e_peer: " << failed << std::endl;
            return 1;
        }
        std::printf("done\n");
    } else if (mode == "hold") {
        if (!node->Subscribe(path)) {
            std::cerr << "the subscription was refused" << std::endl;
            return 1;
        }
        CORBA::String_var reference = orb->object_to_string(node);
        std::printf("node %s\n", reference.in());
        std::fflush(stdout);
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    } else if (mode == "nodes") {
        const std::string keyPort = argv[3];
        std::atomic<size_t> next{0};
        std::atomic<size_t> served{0};
        std::atomic<size_t> refused{0};
        const std::string failed = OnThreads(static_cast<size_t>(last), [&](size_t) {
            for (size_t i = next++; i < count; i = next++) {
                try {
                    const std::string forged = "corbaloc::127.0.0.1:" + keyPort + "/forged-" + std::to_string(i);
                    CORBA::Object_var object = orb->string_to_object(forged.c_str());
                    i_NET::Notification_var reference = i_NET::Notification::_unchecked_narrow(object);
                    i_NET::RemoteNode_var forgedNode = app->GetRemoteNode(reference);
                    ++served;
                } catch (const CORBA::NO_RESOURCES&) {
                    ++refused;
                }
            }
        });
        if (!failed.empty()) {
            std::cerr << "e2e_peer: " << failed << std::endl;
            return 1;
        }
        std::printf("served %zu refused %zu\n", served.load(), refused.load());
    } else {
        std::cerr << "unknown mode " << mode << std::endl;
        return 1;
    }
    std::fflush(stdout);
    app->ReleaseRemoteNode(callback);
    inet::OM().ORBDestroy();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const CORBA::Exception& e) {
        std::cerr << "e2e_peer: " << inet::ExceptionText(e) << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "e2e_peer: " << e.what() << std::endl;
    }
    return 1;
}
