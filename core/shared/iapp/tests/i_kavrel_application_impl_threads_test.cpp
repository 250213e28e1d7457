// The application servant under concurrent requests on the ORB's threads.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/application_fixture.h"

namespace iapptest {
namespace {

constexpr int c_threads = 8;

// Concurrent first requests of one client, each with a reference object of its own, make one
// remote node.
TEST_F(ApplicationTest, ConcurrentFirstRequestsOfOneClientMakeOneNode)
{
    for (int round = 0; round < 5; ++round) {
        const std::string key = "client-" + std::to_string(round);
        std::vector<i_NET::RemoteNode_var> nodes(c_threads);
        std::vector<std::thread> threads;
        for (int t = 0; t < c_threads; ++t) {
            threads.emplace_back([&, t] {
                i_NET::Application_var app = Application();
                i_NET::Notification_var client = Unserved(1, key);
                nodes[static_cast<size_t>(t)] = app->GetRemoteNode(client);
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        for (int t = 1; t < c_threads; ++t) {
            EXPECT_TRUE(nodes[0]->_is_equivalent(nodes[static_cast<size_t>(t)])) << "round " << round << ", thread " << t;
        }
    }
}

// Clients getting, using and releasing their nodes at once, some of them hashing alike: every
// node a client holds answers until the client releases it.
TEST_F(ApplicationTest, ClientsGetAndReleaseConcurrently)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([&, t] {
            i_NET::Application_var app = Application();
            // Pairs of threads use one key on two ports: references that hash alike.
            i_NET::Notification_var client = Unserved(1 + static_cast<unsigned>(t % 2), "c" + std::to_string(t / 2));
            for (int i = 0; i < 50; ++i) {
                i_NET::RemoteNode_var node = app->GetRemoteNode(client);
                i_NET::RemoteNode_var again = app->GetRemoteNode(client);
                if (!node->_is_equivalent(again) || node->GetNodeCount(i_NET::NodePath()) != 1) {
                    ++failures;
                }
                app->ReleaseRemoteNode(client);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
} // namespace iapptest
