// A program started with KAVREL_SIM_CHASSIS gets the chassis, its boards' monitor devices and the
// timing boards' models when the library loads: the test runs itself again with the variables
// set and looks at the set-up from inside that process, feeds atoms through a FIFO, reads the
// board log, and forks to see that the machine clock runs on in both processes.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "devio/device_file.h"
#include "isig/event_device.h"
#include "sim/boards/chassis.h"
#include "sim/boards/environment.h"
#include "sim/cmc/simulator.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

extern char** environ;

namespace {

using sim::boards::Environment;
using sim::boards::TimingBoard;

// Reads the events readable now from the descriptor.
std::vector<isig::EventStruct> Take(int fd)
{
    std::vector<isig::EventStruct> events;
    isig::EventStruct event{};
    while (devio::Read(fd, &event, sizeof(event)) == static_cast<ssize_t>(sizeof(event))) {
        events.push_back(event);
    }
    return events;
}

// The child: everything the variables promise.
void CheckInside(const std::string& dir)
{
    EXPECT_EQ(sim::cmc::Simulator::Instance().Slots(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    const int monitor = devio::Open("/dev/kavrel3.monitor", 0);
    ASSERT_GE(monitor, 0);
    devio::MapInfo info;
    EXPECT_EQ(devio::Ioctl(monitor, devio::c_mapInfoRequest, &info), 0);
    EXPECT_EQ(info.size, sim::boards::Chassis::c_memorySize);
    devio::Close(monitor);
    EXPECT_LT(devio::Open("/dev/kavrel7.monitor", 0), 0);

    Environment* environment = Environment::Get();
    ASSERT_NE(environment, nullptr);
    // Timing boards (PAX) and event-receiver boards (ZOLT); not the chassis manager.
    for (int slot : {1, 2, 3, 4, 5, 6}) {
        EXPECT_NE(environment->FindTimingBoard(slot), nullptr) << slot;
    }
    EXPECT_EQ(environment->FindTimingBoard(0), nullptr);
    // The event-receiver boards (ZOLT) have their own models too.
    EXPECT_NE(environment->FindEventReceiverBoard(2), nullptr);
    EXPECT_NE(environment->FindEventReceiverBoard(5), nullptr);
    EXPECT_EQ(environment->FindEventReceiverBoard(3), nullptr);
    EXPECT_EQ(environment->GetChassis().Get(3).ReadMemory32(TimingBoard::c_clockInfo), TimingBoard::c_adcFrequency);
    TimingBoard& pax = *environment->FindTimingBoard(3);
    pax.SetMcRate(0);

    // Atoms through the FIFO: an atom and a half, then the rest, arrive as two whole atoms.
    const std::string fifo = dir + "/kavrel3.event";
    // One FIFO per ".event" device, and one per ".strm0" device of the two ZOLT boards.
    EXPECT_EQ(environment->FeedPaths().size(), 8u);
    const int reader = devio::Open(TimingBoard::EventPathForSlot(3), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const isig::EventStruct atoms[2] = {{7, 1, 100, 0}, {8, 2, 200, 0}};
    const char* bytes = reinterpret_cast<const char*>(atoms);
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, bytes, 48), 48);
    std::vector<isig::EventStruct> events;
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        for (const isig::EventStruct& event : Take(reader)) {
            events.push_back(event);
        }
        return !events.empty();
    }));
    ASSERT_EQ(::write(writer, bytes + 48, 16), 16);
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        for (const isig::EventStruct& event : Take(reader)) {
            events.push_back(event);
        }
        return events.size() >= 2;
    }));
    ::close(writer);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].id, 7u);
    EXPECT_EQ(events[1].id, 8u);
    EXPECT_EQ(events[1].timestamp, 200u);

    // Trigger codes through the ".strm0" FIFO of slot 2, whole 16-byte atoms.
    const int codes = devio::Open(sim::boards::EventReceiverBoard::StreamPathForSlot(2), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(codes, 0);
    const int64_t code[2] = {42, 4200};
    const int codeWriter = ::open((dir + "/kavrel2.strm0").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(codeWriter, 0);
    ASSERT_EQ(::write(codeWriter, code, sizeof(code)), static_cast<ssize_t>(sizeof(code)));
    ::close(codeWriter);
    int64_t got[2] = {};
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return devio::Read(codes, got, sizeof(got)) == static_cast<ssize_t>(sizeof(got)); }));
    EXPECT_EQ(got[0], 42);
    EXPECT_EQ(got[1], 4200);
    devio::Close(codes);

    // The board log: the turn of channel 2 to Pulse, as the line of slot 3.
    pax.TriggerLog()->OnWrite64(TimingBoard::c_channel2Source, 3);
    EXPECT_TRUE(testsupport::WaitUntil([&] {
        return testsupport::ReadFile(dir + "/board.log").find("slot 3 triggers W64 +0x40 = 0x3\n") != std::string::npos;
    }));
    EXPECT_EQ(Take(reader).size(), 1u) << "the trigger event";

    // Forked, both processes keep their machine clocks (stopped for the fork, started again).
    pax.SetMcRate(500);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uint64_t before = pax.GetMcCount();
        const bool ticks = testsupport::WaitUntil([&] { return pax.GetMcCount() > before + 2; });
        ::_exit(ticks ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const uint64_t before = pax.GetMcCount();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return pax.GetMcCount() > before + 2; }));
    devio::Close(reader);
}

TEST(Environment, AProgramStartedWithTheVariablesHasTheBoards)
{
    if (const char* dir = std::getenv("SIM_ENVIRONMENT_TEST_DIR")) {
        CheckInside(dir);
        return;
    }
    testsupport::TempDir dir("sim-environment");
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    env.push_back("KAVREL_SIM_CHASSIS=" + sim::boards::SampleChassisPath());
    env.push_back("KAVREL_SIM_FEED_DIR=" + dir.Path());
    env.push_back("KAVREL_SIM_BOARD_LOG=" + dir / "board.log");
    env.push_back("SIM_ENVIRONMENT_TEST_DIR=" + dir.Path());
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=Environment.AProgramStartedWithTheVariablesHasTheBoards";
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(Environment, NoneWithoutTheVariable)
{
    if (std::getenv("KAVREL_SIM_CHASSIS") == nullptr) {
        EXPECT_EQ(Environment::Get(), nullptr);
    }
}

} // namespace
