// The simulated timing board used from several threads at once, as an application uses it: a
// thread that triggers through channel 2, the machine clock changing its rate, a line sink set and
// cleared, and a reader of the event device. Every turn to Pulse gives one event 2.

#include <fcntl.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "devio/device_file.h"
#include "devio/reg_access.h"
#include "isig/event_device.h"
#include "sim/boards/chassis.h"
#include "sim/boards/timing_board.h"
#include "tests/support/wait_until.h"

namespace {

using sim::boards::TimingBoard;

TEST(TimingBoardThreads, TriggersClockRateAndSinkChangesTogether)
{
    sim::boards::Chassis chassis;
    TimingBoard board(chassis.Get(3));
    const int monitor = devio::Open("/dev/kavrel3.monitor", O_RDWR | O_DSYNC);
    ASSERT_GE(monitor, 0);
    devio::MapInfo info;
    ASSERT_EQ(devio::Ioctl(monitor, devio::c_mapInfoRequest, &info), 0);
    void* area = devio::Mmap(nullptr, info.size, PROT_READ | PROT_WRITE, MAP_SHARED, monitor, 0);
    ASSERT_NE(area, MAP_FAILED);
    auto* source = reinterpret_cast<volatile uint64_t*>(static_cast<char*>(area) + TimingBoard::c_triggers +
                                                        TimingBoard::c_channel2Source);
    const int reader = devio::Open(TimingBoard::EventPathForSlot(3), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);

    constexpr uint64_t c_triggers = 500;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> triggerEvents{0};
    std::thread consumer([&] {
        isig::EventStruct event{};
        while (!stop.load()) {
            if (devio::Read(reader, &event, sizeof(event)) == static_cast<ssize_t>(sizeof(event))) {
                triggerEvents += event.id == TimingBoard::c_triggerEvent ? 1 : 0;
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });
    std::thread trigger([&] {
        for (uint64_t i = 0; i < c_triggers; ++i) {
            devio::Write64(source, 1);
            devio::Write64(source, TimingBoard::c_pulseSource);
        }
    });
    std::atomic<size_t> lines{0};
    for (int i = 0; i < 50; ++i) {
        board.SetMcRate(i % 2 == 0 ? 2000 : 0);
        board.SetLineSink(i % 3 == 0 ? TimingBoard::LineSink() : [&](const std::string&) { ++lines; });
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    trigger.join();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return triggerEvents.load() >= c_triggers; }));
    stop = true;
    consumer.join();
    EXPECT_EQ(board.GetPulseCount(), c_triggers);
    EXPECT_EQ(board.Events().GetCounter(TimingBoard::c_triggerEvent), c_triggers);
    EXPECT_EQ(triggerEvents.load(), c_triggers);
    board.SetLineSink(nullptr);
    devio::Close(reader);
    devio::Munmap(area, info.size);
    devio::Close(monitor);
}

} // namespace
