// The health monitor on a simulated board's health device and identification block: the nodes
// each atom updates, the health mask, and when the monitor may run.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/board_streams.h"
#include "iapp/identification_block.h"
#include "iapp/kavrel_health_monitor.h"
#include "ireg/reg_node.h"
#include "ireg/tests/common/ireg_test_util.h"
#include "istd/trace_capture.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "tests/support/error_of.h"
#include "tests/support/wait_until.h"

using testsupport::ErrorOf;
using testsupport::WaitUntil;

namespace {

constexpr uint32_t c_mask = 0x00A5005A;
constexpr size_t c_maskOffset = 20;
const uint64_t c_max = std::numeric_limits<uint64_t>::max();

class HealthMonitorTest : public iapptest::EventBoard {
protected:
    void SetUp() override { StartBoard(); }

    void Make(bool enabled, bool registry = true)
    {
        monitor = iapp::Create<iapp::KavrelHealthMonitor>(
            *board, "health", healthStream.get(), c_mask,
            [this](uint64_t status) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_statuses.push_back(status);
            },
            board->GetIdentificationBlock(), enabled);
        if (registry) {
            monitor->AddRegistry(top);
            node = monitor->GetRegistryNode();
        }
    }

    mci::Node At(const std::string& name) const { return mci::Node(node, {name}); }
    template <class T>
    T Value(const std::string& name) const
    {
        T value{};
        At(name).Get(value);
        return value;
    }
    uint32_t Mask() const { return chassis->Get(3).ReadMemory32(c_maskOffset); }
    std::vector<uint64_t> Statuses(size_t count)
    {
        WaitUntil([&] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_statuses.size() >= count;
        });
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_statuses;
    }
    // The thread runs: its client is open on the device.
    bool Running() const { return devices->health.WaitForOpen(); }
    bool Stopped() const
    {
        return WaitUntil([&] { return devices->health.GetOpenDescriptorCount() == 0; });
    }

    mci::TreeNodePtr top = mci::factory::Create<ireg::RegNode>("registry");
    mci::TreeNodePtr node;
    iapp::KavrelHealthMonitor* monitor = nullptr;

private:
    std::mutex m_mutex;
    std::vector<uint64_t> m_statuses;
};

TEST_F(HealthMonitorTest, EachAtomSetsCounterThenStatusCallsBackAndKeepsTheMask)
{
    Make(true);
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(At("counter").GetTreeNode()));
    ASSERT_TRUE(recorder.Subscribe(At("status").GetTreeNode()));
    root->SetState(4);
    root->StartRunning();
    ASSERT_TRUE(Running());
    EXPECT_TRUE(WaitUntil([&] { return Mask() == c_mask; }));

    // Extreme values pass whole, split across writes as the device delivers them.
    const std::vector<isig::HealthStruct> atoms = {{1, 0}, {c_max, 0x8000000000000000u}, {0, c_max}, {7, 3}};
    devices->health.WriteSplit(atoms.data(), sizeof(isig::HealthStruct) * atoms.size(), {5, 11, 16, 1});
    ASSERT_TRUE(recorder.WaitFor(8));
    const std::vector<mci::NotificationData> received = recorder.Received();
    for (size_t i = 0; i < atoms.size(); ++i) {
        EXPECT_EQ(received[2 * i].node.GetName(), "counter") << i;
        EXPECT_EQ(std::any_cast<uint64_t>(received[2 * i].value), atoms[i].counter) << i;
        EXPECT_EQ(received[2 * i + 1].node.GetName(), "status") << i;
        EXPECT_EQ(std::any_cast<uint64_t>(received[2 * i + 1].value), atoms[i].status) << i;
    }
    EXPECT_EQ(Statuses(4), (std::vector<uint64_t>{0, 0x8000000000000000u, c_max, 3}));
    EXPECT_EQ(Value<uint64_t>("counter"), 7u);
    EXPECT_EQ(Value<uint64_t>("status"), 3u);
    EXPECT_EQ(Mask(), c_mask);

    // Both measured values are the monitor's alone.
    EXPECT_EQ(At("counter").GetFlags(), 2u);
    EXPECT_EQ(At("status").GetFlags(), 2u);
    EXPECT_EQ(At("enabled").GetFlags(), 14u);
    EXPECT_EQ(ErrorOf([&] { At("status").Set(uint64_t{5}); }), "Node is not writable.");
    EXPECT_EQ(Value<uint64_t>("status"), 3u);

    // Disabled while it waits for the next atom: the mask is cleared before the set returns.
    At("enabled").Set(false);
    EXPECT_EQ(Mask(), 0u);
    EXPECT_FALSE(Value<bool>("enabled"));
    EXPECT_TRUE(Stopped());
}

TEST_F(HealthMonitorTest, EnablingIsRefusedBeforeTheConfigurationPhase)
{
    Make(false);
    for (int state : {0, 1, 2}) {
        root->SetState(state);
        EXPECT_EQ(ErrorOf([&] { At("enabled").Set(true); }), "ireg: enabled: ireg: Can't set value: setter function failed: enabled")
            << state;
        monitor->SetEnabled(true); // traced, not thrown
        EXPECT_FALSE(Value<bool>("enabled"));
    }
    EXPECT_EQ(devices->health.GetOpenCount(), 0u);

    // From the configuration phase on (a stored "enabled" is loaded then) it starts and stops.
    root->SetState(3);
    At("enabled").Set(true);
    EXPECT_TRUE(Running());
    At("enabled").Set(false);
    EXPECT_TRUE(Stopped());
}

TEST_F(HealthMonitorTest, AThreadThatEndedByItselfLeavesEnabledUntilItIsToggled)
{
    Make(true);
    root->SetState(4);
    root->StartRunning();
    ASSERT_TRUE(Running());
    ASSERT_TRUE(WaitUntil([&] { return Mask() == c_mask; }));
    istd::TraceCapture capture(istd::eTraceError);
    devices->health.WriteError(EIO); // the stream fails: every client reads the failure
    ASSERT_TRUE(Stopped());
    EXPECT_TRUE(WaitUntil([&] { return Mask() == 0; }));
    EXPECT_TRUE(WaitUntil([&] {
        return capture.Contains("health_monitor_client: the health stream or monitor service has been "
                                "closed/canceled from outside world.");
    })) << capture.Text();
    EXPECT_TRUE(Value<bool>("enabled"));
    EXPECT_NE(monitor->GetStream(), nullptr); // a read failure while running keeps it

    // The same value does nothing; false and true again start a new thread.
    At("enabled").Set(true);
    EXPECT_EQ(devices->health.GetOpenCount(), 1u);
    At("enabled").Set(false);
    At("enabled").Set(true);
    EXPECT_TRUE(Running());
    EXPECT_EQ(devices->health.GetOpenCount(), 2u);
    devices->health.WriteAtoms(std::vector<isig::HealthStruct>{{9, 9}});
    EXPECT_TRUE(WaitUntil([&] { return Value<uint64_t>("counter") == 9; }));
}

TEST_F(HealthMonitorTest, ShutdownStopsTheThreadButKeepsEnabled)
{
    Make(true);
    root->SetState(4);
    root->StartRunning();
    ASSERT_TRUE(Running());
    root->SetState(5);
    root->Shutdown();
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(Mask(), 0u);
    EXPECT_TRUE(Value<bool>("enabled"));
    // The read ended while shutting down: the monitor forgot the stream, and a later disable only
    // joins.
    EXPECT_EQ(monitor->GetStream(), nullptr);
    monitor->SetEnabled(false);
    EXPECT_FALSE(Value<bool>("enabled"));

    // A disabled monitor stays so through start and shutdown.
    auto* off = iapp::Create<iapp::KavrelHealthMonitor>(*board, "off", healthStream.get(), c_mask, nullptr,
                                                        board->GetIdentificationBlock(), false);
    root->SetState(4);
    off->OnStartRunning();
    off->OnShutdown();
    bool enabled = true;
    off->_GetEnabled(enabled);
    EXPECT_FALSE(enabled);
    EXPECT_EQ(devices->health.GetOpenCount(), 1u);
}

TEST_F(HealthMonitorTest, WithoutRegistryOrStreamTheMonitorStillBehaves)
{
    // Before the registry exists SetEnabled goes to the setter directly.
    Make(false, false);
    root->SetState(3);
    monitor->SetEnabled(true);
    EXPECT_TRUE(Running());
    devices->health.WriteAtoms(std::vector<isig::HealthStruct>{{1, 42}});
    EXPECT_EQ(Statuses(1), std::vector<uint64_t>{42});
    monitor->SetEnabled(false);
    EXPECT_TRUE(Stopped());

    // A device that does not open ends the thread with the reason; the process goes on.
    istd::TraceCapture capture(istd::eTraceError);
    devices->health.SetOpenFailure(ENODEV);
    monitor->SetEnabled(true);
    EXPECT_TRUE(WaitUntil([&] { return capture.Contains("health_monitor_client: can't open: "); })) << capture.Text();
    monitor->SetEnabled(false);
    EXPECT_EQ(Mask(), 0u);

    // No stream at all.
    auto* none = iapp::Create<iapp::KavrelHealthMonitor>(*board, "none", nullptr, c_mask, nullptr, nullptr, false);
    none->SetEnabled(true);
    EXPECT_TRUE(WaitUntil([&] { return capture.Contains("health_monitor_client: can't open: terminated(-5)"); }));
    none->SetEnabled(false);
}

TEST_F(HealthMonitorTest, AShutDownStreamIsForgotten)
{
    Make(true);
    root->SetState(4);
    root->StartRunning();
    ASSERT_TRUE(Running());
    healthStream->ShutDown();
    EXPECT_TRUE(WaitUntil([&] { return monitor->GetStream() == nullptr; }));
    // The stream may go now; disabling reaches nothing of it.
    healthStream.reset();
    At("enabled").Set(false);
    EXPECT_EQ(Mask(), 0u);
}

} // namespace
