// Threads sharing one bus: the bus traffic of the simulated I2C core shows whole transfers one
// after another, a sequence held by a BusControllerLocker stays together, and the controller's
// callbacks run outside its mutex.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/bus_rigs.h"
#include "tests/support/wait_until.h"

namespace {

using bmctest::I2cRig;

const std::vector<std::string> c_setA = {"STOP", "START 0xa0 ACK", "WRITE 0x01 ACK", "WRITE 0xaa ACK", "STOP", "STOP"};
const std::vector<std::string> c_getA = {"STOP",           "START 0xa0 ACK", "WRITE 0x01 ACK", "STOP",
                                         "START 0xa1 ACK", "READ 0xaa NACK", "STOP"};
const std::vector<std::string> c_setB = {"STOP", "START 0xa2 ACK", "WRITE 0x02 ACK", "WRITE 0xbb ACK", "STOP", "STOP"};

// Cuts the trace into the given blocks, choosing each by the address of its first START; false
// (with the place) when the trace is not such a sequence.
testing::AssertionResult IsSequenceOf(const std::vector<std::string>& events,
                                      const std::vector<std::string>& blockA, const std::vector<std::string>& blockB,
                                      size_t& countA, size_t& countB)
{
    countA = countB = 0;
    size_t at = 0;
    while (at < events.size()) {
        const bool a = at + 1 < events.size() && events[at + 1] == blockA[1];
        const std::vector<std::string>& block = a ? blockA : blockB;
        if (at + block.size() > events.size() ||
            !std::equal(block.begin(), block.end(), events.begin() + static_cast<std::ptrdiff_t>(at))) {
            return testing::AssertionFailure() << "transfers interleave at event " << at;
        }
        at += block.size();
        ++(a ? countA : countB);
    }
    return testing::AssertionSuccess();
}

std::vector<std::string> Concat(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    std::vector<std::string> joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

class BusThreadsTest : public testing::Test {
protected:
    BusThreadsTest()
    {
        m_rig.AddChip("a", 0, 0x50, 1, m_a);
        m_rig.AddChip("b", 1, 0x51, 1, m_b);
    }

    bmc::I2cDevice& A() { return static_cast<bmc::I2cDevice&>(*m_a); }
    bmc::I2cDevice& B() { return static_cast<bmc::I2cDevice&>(*m_b); }

    static constexpr int c_rounds = 300;
    I2cRig m_rig;
    bmc::BusDevicePtr m_a;
    bmc::BusDevicePtr m_b;
};

TEST_F(BusThreadsTest, TwoDevicesOnTwoThreadsInterleaveWholeTransfersOnly)
{
    std::thread first([&] {
        for (int i = 0; i < c_rounds; ++i) {
            A().Set(0x01, 0xAA);
        }
    });
    std::thread second([&] {
        for (int i = 0; i < c_rounds; ++i) {
            B().Set(0x02, 0xBB);
        }
    });
    first.join();
    second.join();
    size_t a = 0;
    size_t b = 0;
    EXPECT_TRUE(IsSequenceOf(m_rig.core->GetEventTexts(), c_setA, c_setB, a, b));
    EXPECT_EQ(a, size_t{c_rounds});
    EXPECT_EQ(b, size_t{c_rounds});
}

TEST_F(BusThreadsTest, ALockedSequenceStaysTogether)
{
    std::thread first([&] {
        for (int i = 0; i < c_rounds; ++i) {
            bmc::BusControllerLocker lock(*m_rig.bus);
            A().Set(0x01, 0xAA);
            EXPECT_EQ(A().Get(0x01), 0xAA);
        }
    });
    std::thread second([&] {
        for (int i = 0; i < c_rounds; ++i) {
            B().Set(0x02, 0xBB);
        }
    });
    first.join();
    second.join();
    size_t a = 0;
    size_t b = 0;
    EXPECT_TRUE(IsSequenceOf(m_rig.core->GetEventTexts(), Concat(c_setA, c_getA), c_setB, a, b));
    EXPECT_EQ(a, size_t{c_rounds});
    EXPECT_EQ(b, size_t{c_rounds});
}

// The controller's callbacks may take a registry node's lock: a client thread that holds that
// lock and then transfers on the bus (a node's setter reaching a chip) must not deadlock with
// them. The callback waits for the node while the client transfers; both must finish.
TEST_F(BusThreadsTest, CallbacksThatTakeANodeLockDoNotDeadlockWithATransferUnderThatLock)
{
    struct Case {
        const char* name;
        // Sets the callback on the rig, then makes the controller call it.
        std::function<void(I2cRig&, const std::function<void(bmc::BusDevice&)>&)> run;
    };
    const std::vector<Case> cases = {
        {"add device",
         [](I2cRig& rig, const std::function<void(bmc::BusDevice&)>& callback) {
             rig.bus->SetOnAddDevice(callback);
             bmc::BusDevicePtr added;
             rig.AddChip("c", 2, 0x52, 1, added);
         }},
        {"state change at shutdown",
         [](I2cRig& rig, const std::function<void(bmc::BusDevice&)>& callback) {
             bmc::BusDevicePtr chip;
             rig.AddChip("c", 2, 0x52, 1, chip);
             chip->SetOnStateChange(callback);
             rig.bus->Shutdown();
         }},
    };
    for (const Case& c : cases) {
        I2cRig rig;
        bmc::BusDevicePtr a;
        rig.AddChip("a", 0, 0x50, 1, a);
        std::mutex nodeLock;
        std::atomic<bool> clientHolds{false};
        std::atomic<bool> inCallback{false};
        std::atomic<bool> clientDone{false};
        std::atomic<bool> controllerDone{false};

        std::thread client([&] {
            // The node's lock is held from before the callback until after the transfer.
            std::lock_guard<std::mutex> node(nodeLock);
            clientHolds = true;
            EXPECT_TRUE(testsupport::WaitUntil([&] { return inCallback.load(); }, std::chrono::seconds(60)));
            static_cast<bmc::I2cDevice&>(*a).Set(0x01, 0xAA);
            clientDone = true;
        });
        std::thread controller([&] {
            EXPECT_TRUE(testsupport::WaitUntil([&] { return clientHolds.load(); }, std::chrono::seconds(60)));
            c.run(rig, [&](bmc::BusDevice&) {
                inCallback = true;
                std::lock_guard<std::mutex> node(nodeLock);
            });
            controllerDone = true;
        });
        // A deadlock cannot be joined: the watchdog ends the program instead of hanging.
        if (!testsupport::WaitUntil([&] { return clientDone && controllerDone; }, std::chrono::seconds(120))) {
            std::fprintf(stderr, "%s: deadlock (client done %d, controller done %d)\n", c.name, clientDone.load(),
                         controllerDone.load());
            std::abort();
        }
        client.join();
        controller.join();
    }
}

} // namespace
