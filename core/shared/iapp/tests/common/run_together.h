#ifndef IAPP_TESTS_COMMON_RUN_TOGETHER_H
#define IAPP_TESTS_COMMON_RUN_TOGETHER_H

// Two loops of count steps on threads of their own, started together so that their steps
// overlap from the first on. When they have not both ended within the time-out the program
// aborts, naming how far each got: threads stuck on each other's locks cannot be joined.
// Header only: the programs that include it link kavrel_test_support.
//
//     iapptest::RunTogether(10000, [&](int i) { a->Set(...); }, [&](int i) { b->Set(...); });

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "tests/support/wait_until.h"

namespace iapptest {

inline void RunTogether(int count, const std::function<void(int)>& first, const std::function<void(int)>& second,
                        std::chrono::milliseconds timeout = std::chrono::minutes(5))
{
    std::atomic<int> progress[2] = {{0}, {0}};
    std::atomic<int> finished{0};
    std::atomic<int> ready{0};
    auto loop = [&](const std::function<void(int)>& body, std::atomic<int>& done) {
        return std::thread([&body, &done, &finished, &ready, count] {
            ++ready;
            while (ready.load() < 2) {
                std::this_thread::yield();
            }
            for (int i = 0; i < count; ++i) {
                body(i);
                done.store(i + 1);
            }
            ++finished;
        });
    };
    std::thread a = loop(first, progress[0]);
    std::thread b = loop(second, progress[1]);
    if (!testsupport::WaitUntil([&] { return finished.load() == 2; }, timeout)) {
        std::fprintf(stderr, "watchdog: the loops did not end (done %d and %d of %d)\n", progress[0].load(),
                     progress[1].load(), count);
        std::abort();
    }
    a.join();
    b.join();
}

} // namespace iapptest

#endif
