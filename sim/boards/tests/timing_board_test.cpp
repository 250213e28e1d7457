// The simulated timing board through a mapping of its monitor device, as a board component
// maps it: the preset words, the trigger event that channel 2's Pulse source generates, the
// machine clock's "mc" events and the lines the board reports.

#include <fcntl.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devio/device_file.h"
#include "devio/reg_access.h"
#include "isig/event_device.h"
#include "sim/boards/chassis.h"
#include "sim/boards/timing_board.h"
#include "tests/support/wait_until.h"

namespace {

using sim::boards::TimingBoard;

// The board's whole space mapped through devio, as bmc::Board maps it.
class Mapping {
public:
    explicit Mapping(const std::string& path)
    {
        m_fd = devio::Open(path, O_RDWR | O_DSYNC);
        devio::MapInfo info;
        if (m_fd < 0 || devio::Ioctl(m_fd, devio::c_mapInfoRequest, &info) < 0) {
            return;
        }
        m_size = info.size;
        void* area = devio::Mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
        m_base = area == MAP_FAILED ? nullptr : static_cast<char*>(area);
    }
    ~Mapping()
    {
        if (m_base != nullptr) {
            devio::Munmap(m_base, m_size);
        }
        if (m_fd >= 0) {
            devio::Close(m_fd);
        }
    }
    bool Ok() const { return m_base != nullptr; }
    volatile uint32_t* W32(size_t offset) const { return reinterpret_cast<volatile uint32_t*>(m_base + offset); }
    volatile uint64_t* W64(size_t offset) const { return reinterpret_cast<volatile uint64_t*>(m_base + offset); }

private:
    int m_fd = -1;
    size_t m_size = 0;
    char* m_base = nullptr;
};

// A reader of the board's ".event" device.
class EventReader {
public:
    explicit EventReader(const std::string& path) : m_fd(devio::Open(path, O_RDONLY | O_NONBLOCK)) {}
    ~EventReader()
    {
        if (m_fd >= 0) {
            devio::Close(m_fd);
        }
    }
    int Fd() const { return m_fd; }
    // The events readable now.
    std::vector<isig::EventStruct> Take()
    {
        std::vector<isig::EventStruct> events;
        isig::EventStruct event{};
        while (devio::Read(m_fd, &event, sizeof(event)) == static_cast<ssize_t>(sizeof(event))) {
            events.push_back(event);
        }
        return events;
    }

private:
    const int m_fd;
};

class TimingBoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        board.SetMcRate(0);
        ASSERT_TRUE(map.Ok());
    }

    sim::boards::Chassis chassis;
    TimingBoard board{chassis.Get(3)};
    Mapping map{"/dev/kavrel3.monitor"};
};

TEST_F(TimingBoardTest, PresetsTheClockWordsAndLogsTheTriggerWindow)
{
    EXPECT_EQ(devio::Read32(map.W32(TimingBoard::c_clockInfo)), TimingBoard::c_adcFrequency);
    EXPECT_EQ(devio::Read32(map.W32(TimingBoard::c_clockManager + TimingBoard::c_lockStatus)), TimingBoard::c_lockBits);

    // Plain memory behind the log: what is written reads back and lands in the board's memory.
    devio::Write32(map.W32(TimingBoard::c_triggers + 0x48), 1000);
    EXPECT_EQ(devio::Read32(map.W32(TimingBoard::c_triggers + 0x48)), 1000u);
    EXPECT_EQ(chassis.Get(3).ReadMemory32(TimingBoard::c_triggers + 0x48), 1000u);
    const std::vector<sim::boards::Access> expected = {{sim::boards::Access::eWrite, 0x48, 32, 1000},
                                                       {sim::boards::Access::eRead, 0x48, 32, 1000}};
    EXPECT_EQ(board.TriggerLog()->Entries(), expected);
}

TEST_F(TimingBoardTest, Channel2TurningToPulseGeneratesEvent2)
{
    EventReader reader(TimingBoard::EventPathForSlot(3));
    ASSERT_GE(reader.Fd(), 0);
    board.Events().SetClock([] { return uint64_t{5000}; });
    const size_t source = TimingBoard::c_triggers + TimingBoard::c_channel2Source;

    struct Step {
        const char* what;
        size_t offset;
        unsigned width;
        uint64_t value;
        uint64_t pulses; // after the step
    };
    const std::vector<Step> steps = {
        {"64-bit Pulse from Off", source, 64, 3, 1},
        {"Pulse again: no turn", source, 64, 3, 1},
        {"back to External", source, 64, 1, 1},
        {"32-bit low half to Pulse", source, 32, 3, 2},
        {"upper half only", source + 4, 32, 3, 2},
        {"Off", source, 64, 0, 2},
        {"Pulse with other bits set", source, 64, 0xB, 3},
        {"channel 1 to Pulse", TimingBoard::c_triggers + 0x20, 64, 3, 3},
    };
    for (const Step& step : steps) {
        if (step.width == 64) {
            devio::Write64(map.W64(step.offset), step.value);
        } else {
            devio::Write32(map.W32(step.offset), static_cast<uint32_t>(step.value));
        }
        EXPECT_EQ(board.GetPulseCount(), step.pulses) << step.what;
    }
    const std::vector<isig::EventStruct> events = reader.Take();
    ASSERT_EQ(events.size(), 3u);
    for (const isig::EventStruct& event : events) {
        EXPECT_EQ(event.id, 2u);
        EXPECT_EQ(event.timestamp, 5000u);
    }

    // A disabled event 2 is still a turn to Pulse, but the board writes no event.
    isig::EventIdType id = 2;
    ASSERT_EQ(devio::Ioctl(reader.Fd(), isig::c_eventDisableRequest, &id), 0);
    devio::Write64(map.W64(source), 0);
    devio::Write64(map.W64(source), 3);
    EXPECT_EQ(board.GetPulseCount(), 4u);
    EXPECT_TRUE(reader.Take().empty());
}

TEST_F(TimingBoardTest, MachineClockSendsMcWhileEnabled)
{
    EventReader reader(TimingBoard::EventPathForSlot(3));
    ASSERT_GE(reader.Fd(), 0);
    board.SetMcRate(200);
    std::vector<isig::EventStruct> events;
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        for (const isig::EventStruct& event : reader.Take()) {
            events.push_back(event);
        }
        return events.size() >= 3;
    }));
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].id, TimingBoard::c_mcEvent);
        EXPECT_EQ(events[i].value, i + 1) << "sequence numbers";
    }

    // Disabled, the clock ticks on but writes nothing (but a tick already under way).
    isig::EventIdType id = TimingBoard::c_mcEvent;
    ASSERT_EQ(devio::Ioctl(reader.Fd(), isig::c_eventDisableRequest, &id), 0);
    const uint64_t written = board.GetMcCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(board.GetMcCount(), written + 1);

    // Enabled again at rate 0: nothing comes.
    board.SetMcRate(0);
    ASSERT_EQ(devio::Ioctl(reader.Fd(), isig::c_eventEnableRequest, &id), 0);
    reader.Take();
    const uint64_t stopped = board.GetMcCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(board.GetMcCount(), stopped);
    EXPECT_TRUE(reader.Take().empty());
}

TEST_F(TimingBoardTest, ReportsAccessesAsLines)
{
    std::mutex mutex;
    std::vector<std::string> lines;
    board.SetLineSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    });
    devio::Write64(map.W64(TimingBoard::c_triggers + TimingBoard::c_channel2Source), 3);
    EXPECT_EQ(devio::Read32(map.W32(TimingBoard::c_clockManager + TimingBoard::c_lockStatus)), 3u);
    board.SetLineSink(nullptr);
    devio::Write64(map.W64(TimingBoard::c_triggers), 1);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(lines, (std::vector<std::string>{"triggers W64 +0x40 = 0x3", "clk_mgr R32 +0x8 = 0x3"}));
}

} // namespace
