#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "bmc/uri.h"

namespace {

using bmc::Uri;

// Copies of a URI shared between threads stay whole while other threads use it through const
// operations, which rebuild its cached text.
TEST(UriThreads, CopiesAreWholeWhileOthersPrintTheSource)
{
    for (int round = 0; round < 200; ++round) {
        Uri shared(Uri::eAmc, std::to_string(round), Uri::eInterfaceIpmiUsb);
        const std::string expected = "kvr:///amc;ipmi-usb/" + std::to_string(round);
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        std::vector<std::string> copies(4);
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([&, i] {
                while (!go.load()) {
                }
                if (i % 2 == 0) {
                    EXPECT_EQ(shared.ToString(), expected);
                } else {
                    const Uri copy(shared);
                    copies[i] = copy.ToString();
                }
            });
        }
        go.store(true);
        for (std::thread& t : threads) {
            t.join();
        }
        for (int i = 1; i < 4; i += 2) {
            EXPECT_EQ(copies[i], expected);
        }
    }
}

TEST(UriThreads, CrossedAssignmentsDoNotDeadlock)
{
    Uri a(Uri::eAmc, "1", Uri::eInterfaceDefault);
    Uri b(Uri::eChassis, "2", Uri::eInterfaceDefault);
    std::thread first([&] {
        for (int i = 0; i < 2000; ++i) {
            a = b;
        }
    });
    std::thread second([&] {
        for (int i = 0; i < 2000; ++i) {
            b = a;
        }
    });
    first.join();
    second.join();
    EXPECT_EQ(a.ToString(), b.ToString());
}

} // namespace
