// Delivery to many clients at once: while eight threads set nodes, 32 clients subscribe,
// unsubscribe and are destroyed. Each client must see every node's values in the order they were
// set, clients that stay receive every value, and nothing reaches a client once its last
// reference is gone.

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "common/ireg_test_util.h"
#include "ireg/reg_value_node.h"
#include "tests/support/wait_until.h"

using iregtest::Make;
using mci::c_noRelPath;

namespace {

constexpr int c_setters = 8;
constexpr int64_t c_rounds = 1000;
constexpr int c_churners = 32;
constexpr int c_stayers = 4;
// What reaches the clients is delivered at the pace the machine allows: under the sanitizers
// on a loaded machine the stayers' 8 000 notifications each took longer than WaitUntil's 10 s,
// so the waits for deliveries are bounded by a deadline only a lost notification can reach.
constexpr std::chrono::minutes c_deliveryDeadline{2};

using Node = ireg::RegValueNode<int64_t>;

// What one client saw. A value is setter << 32 | round.
struct Record {
    std::mutex mutex;
    std::map<int64_t, int64_t> last; // setter -> last round
    std::atomic<int64_t> received{0};
    std::atomic<int64_t> outOfOrder{0};
    std::atomic<int64_t> afterDestruction{0};
    std::atomic<bool> destroyed{false};

    void See(const mci::NotificationData& data)
    {
        if (destroyed.load()) {
            ++afterDestruction;
        }
        const int64_t value = std::any_cast<int64_t>(data.value);
        std::lock_guard<std::mutex> lock(mutex);
        auto it = last.find(value >> 32);
        if (it != last.end() && (value & 0xFFFFFFFF) <= it->second) {
            ++outOfOrder;
        }
        last[value >> 32] = value & 0xFFFFFFFF;
        ++received;
    }
};

// A client whose record learns when its last reference went, before the client is freed: no
// sender holds it then, so no delivery may start afterwards.
std::shared_ptr<mci::NotificationClient> MakeClient(const std::shared_ptr<Record>& record)
{
    const mci::Callback callback(mci::CallbackId(), [record](const mci::NotificationData& data) { record->See(data); });
    return std::shared_ptr<mci::NotificationClient>(new mci::NotificationClient(callback),
                                                    [record](mci::NotificationClient* client) {
                                                        record->destroyed.store(true);
                                                        delete client;
                                                    });
}

TEST(NotificationThreads, ClientsComeAndGoWhileNodesAreSet)
{
    std::vector<std::shared_ptr<Node>> nodes;
    for (int t = 0; t < c_setters; ++t) {
        nodes.push_back(Make<Node>("n" + std::to_string(t), int64_t(0)));
    }
    std::vector<std::shared_ptr<Record>> stayerRecords;
    std::vector<std::shared_ptr<mci::NotificationClient>> stayers;
    for (int s = 0; s < c_stayers; ++s) {
        stayerRecords.push_back(std::make_shared<Record>());
        stayers.push_back(MakeClient(stayerRecords.back()));
        for (const auto& node : nodes) {
            ASSERT_TRUE(stayers.back()->Register(mci::Node(node, c_noRelPath)));
        }
    }

    std::atomic<bool> stop{false};
    std::mutex recordsMutex;
    std::vector<std::shared_ptr<Record>> churnRecords;
    std::vector<std::thread> churners;
    std::atomic<int> subscribed{0};
    for (int c = 0; c < c_churners; ++c) {
        churners.emplace_back([&, c] {
            std::mt19937 random(static_cast<unsigned>(c));
            bool first = true;
            while (!stop.load()) {
                auto record = std::make_shared<Record>();
                {
                    std::lock_guard<std::mutex> lock(recordsMutex);
                    churnRecords.push_back(record);
                }
                auto client = MakeClient(record);
                bool any = false;
                for (const auto& node : nodes) {
                    if (random() % 2 == 0) {
                        any = client->Register(mci::Node(node, c_noRelPath)) || any;
                    }
                }
                if (first) {
                    // Subscribed before the setters start, so its first notification comes, at
                    // whatever pace the senders have on a loaded machine (a client that gave up
                    // early would drop its queue and the churners might receive nothing).
                    first = false;
                    ++subscribed;
                    if (any) {
                        EXPECT_TRUE(testsupport::WaitUntil([&] { return record->received.load() > 0; },
                                                           c_deliveryDeadline));
                    }
                }
                // Until something arrived, or a while.
                for (int wait = 0; wait < 500 && record->received.load() == 0 && !stop.load(); ++wait) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                client->Unregister(mci::Node(nodes[random() % nodes.size()], c_noRelPath));
                std::this_thread::yield();
                // Half are shut down first, the others simply let go.
                if (random() % 2 == 0) {
                    client->Shutdown();
                }
                client.reset();
            }
        });
    }
    // The setters start once every churner has a subscribed client.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return subscribed.load() >= c_churners; }, c_deliveryDeadline));
    std::vector<std::thread> setters;
    for (int t = 0; t < c_setters; ++t) {
        setters.emplace_back([&, t] {
            for (int64_t i = 0; i < c_rounds; ++i) {
                nodes[t]->Set((int64_t(t) << 32) | i, 0, c_noRelPath);
                if (i % 16 == 0) {
                    std::this_thread::yield();
                }
            }
        });
    }
    for (auto& setter : setters) {
        setter.join();
    }
    stop.store(true);
    for (auto& churner : churners) {
        churner.join();
    }

    for (const auto& record : stayerRecords) {
        ASSERT_TRUE(testsupport::WaitUntil([&] { return record->received.load() == c_setters * c_rounds; },
                                           c_deliveryDeadline))
            << record->received.load();
        EXPECT_EQ(record->outOfOrder.load(), 0);
        for (int t = 0; t < c_setters; ++t) {
            EXPECT_EQ(record->last[t], c_rounds - 1);
        }
    }
    for (const auto& client : stayers) {
        client->Shutdown();
    }
    int64_t churnReceived = 0;
    for (const auto& record : churnRecords) {
        EXPECT_EQ(record->outOfOrder.load(), 0);
        EXPECT_TRUE(testsupport::WaitUntil([&] { return record->destroyed.load(); }));
        EXPECT_EQ(record->afterDestruction.load(), 0);
        churnReceived += record->received.load();
    }
    EXPECT_GT(churnReceived, 0);
}

} // namespace
