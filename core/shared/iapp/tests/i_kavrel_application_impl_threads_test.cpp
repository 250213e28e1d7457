// The application servant under concurrent requests on the ORB's threads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/application_fixture.h"
#include "tests/support/wait_until.h"

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

// Nodes ended as fast as the servant can (a client that never answers, asked every round) while
// the client asks for its node and uses it from several threads: every call finds a node that
// answers or one that was ended (OBJECT_NOT_EXIST), never one that is gone from memory.
TEST_F(ApplicationTest, EndingNodesRacesNoRequestOfTheirClient)
{
    iapp::RemoteNodeLimits limits;
    limits.idlePeriod = std::chrono::milliseconds(1);
    iapp::i_KavrelApplication_impl* servant = StartLimited(limits);
    std::atomic<int> failures{0};
    std::atomic<int> ended{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            i_NET::Application_var app = Limited();
            i_NET::Notification_var client = Unserved(1, "c" + std::to_string(t % 2));
            for (int i = 0; i < 100; ++i) {
                try {
                    i_NET::RemoteNode_var node = app->GetRemoteNode(client);
                    if (node->GetNodeCount(i_NET::NodePath()) != 1) {
                        ++failures;
                    }
                    if (i % 10 == 0) {
                        app->ReleaseRemoteNode(client);
                    }
                } catch (const CORBA::OBJECT_NOT_EXIST&) {
                    ++ended;
                } catch (const CORBA::Exception&) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return servant->RemoteNodeCount() == 0; }, std::chrono::seconds(30)));
}

} // namespace
} // namespace iapptest
