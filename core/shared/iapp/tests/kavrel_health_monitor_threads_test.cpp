// The health monitor's thread: stopped promptly while it waits, gone after shutdown, and
// "enabled" toggled by several clients at once while atoms arrive.

#include <dirent.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "common/board_streams.h"
#include "iapp/kavrel_health_monitor.h"
#include "ireg/reg_node.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "tests/support/wait_until.h"

using testsupport::WaitUntil;

namespace {

constexpr uint32_t c_mask = 0xF0F0;
constexpr size_t c_maskOffset = 20;

// The threads of this process.
size_t CountThreads()
{
    size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(dir);
    }
    return count;
}

class HealthMonitorThreads : public iapptest::EventBoard {
protected:
    void SetUp() override
    {
        StartBoard();
        monitor = iapp::Create<iapp::KavrelHealthMonitor>(*board, "health", healthStream.get(), c_mask, nullptr,
                                                          board->GetIdentificationBlock(), false);
        monitor->AddRegistry(top);
        enabled = mci::Node(monitor->GetRegistryNode(), {"enabled"});
        root->SetState(4);
        root->StartRunning();
    }

    uint32_t Mask() const { return chassis->Get(3).ReadMemory32(c_maskOffset); }

    // The threads once the monitor ran and stopped once (a sanitizer's own thread comes with the
    // first thread started).
    size_t BaseThreads()
    {
        enabled.Set(true);
        EXPECT_TRUE(devices->health.WaitForOpen());
        enabled.Set(false);
        EXPECT_TRUE(WaitUntil([&] { return devices->health.GetOpenDescriptorCount() == 0; }));
        return CountThreads();
    }

    mci::TreeNodePtr top = mci::factory::Create<ireg::RegNode>("registry");
    iapp::KavrelHealthMonitor* monitor = nullptr;
    mci::Node enabled;
};

TEST_F(HealthMonitorThreads, DisableWhileTheThreadWaitsReturnsPromptly)
{
    for (int round = 0; round < 5; ++round) {
        enabled.Set(true);
        ASSERT_TRUE(devices->health.WaitForOpen());
        ASSERT_TRUE(WaitUntil([&] { return Mask() == c_mask; }));
        const auto before = std::chrono::steady_clock::now();
        enabled.Set(false);
        const auto took = std::chrono::steady_clock::now() - before;
        // A cancel and a join, not a wait for an atom; generous for loaded, sanitised machines.
        EXPECT_LT(took, std::chrono::seconds(1)) << round;
        EXPECT_EQ(Mask(), 0u);
        EXPECT_TRUE(WaitUntil([&] { return devices->health.GetOpenDescriptorCount() == 0; }));
    }
}

TEST_F(HealthMonitorThreads, ShutdownLeavesNoThreadBehind)
{
    const size_t before = BaseThreads();
    enabled.Set(true);
    ASSERT_TRUE(devices->health.WaitForOpen());
    devices->health.WriteAtoms(std::vector<isig::HealthStruct>{{1, 2}, {3, 4}});
    ASSERT_TRUE(WaitUntil([&] {
        uint64_t counter = 0;
        mci::Node(monitor->GetRegistryNode(), {"counter"}).Get(counter);
        return counter == 3;
    }));
    EXPECT_GT(CountThreads(), before); // the monitor's and the stream's
    root->SetState(5);
    root->Shutdown();
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() == before; })) << CountThreads() << " threads, " << before
                                                                     << " before";
    bool value = false;
    enabled.Get(value);
    EXPECT_TRUE(value);
}

TEST_F(HealthMonitorThreads, EnabledToggledByManyClientsAtOnce)
{
    const size_t before = BaseThreads();
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        uint64_t n = 0;
        while (feeding.load()) {
            devices->health.WriteAtoms(std::vector<isig::HealthStruct>{{n, ~n}});
            ++n;
            std::this_thread::yield();
        }
    });
    constexpr int c_clients = 4;
    constexpr int c_toggles = 250; // 1000 in all
    std::vector<std::thread> clients;
    for (int c = 0; c < c_clients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < c_toggles; ++i) {
                enabled.Set((i + c) % 2 == 0);
                bool value = false;
                enabled.Get(value);
                uint64_t status = 0;
                mci::Node(monitor->GetRegistryNode(), {"status"}).Get(status);
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    enabled.Set(true);
    ASSERT_TRUE(devices->health.WaitForOpen());
    enabled.Set(false);
    feeding = false;
    feeder.join();
    EXPECT_EQ(Mask(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return devices->health.GetOpenDescriptorCount() == 0; }));
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() == before; })) << CountThreads() << " threads, " << before
                                                                     << " before";
}

} // namespace
