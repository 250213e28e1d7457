#include "isig/event_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <typeinfo>
#include <vector>

#include "isig/health_stream.h"
#include "sim/devices/stream_device.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

using testsupport::ErrorOf;

namespace {

const std::string c_eventPath = "/dev/kavrel4.event";
const std::string c_healthPath = "/dev/kavrel4.health";
constexpr unsigned c_queue = (isig::c_maxEventId + 1) * 2;

uint64_t MonotonicNs()
{
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

class EventStreamTest : public ::testing::Test {
protected:
    EventStreamTest() { device.SetClock([this] { return clock; }); }

    sim::EventStreamDevice device{c_eventPath};
    uint64_t clock = 1000000;
    isig::KavrelEventStream stream{"board4.event", c_eventPath, true, "board4"};
};

TEST_F(EventStreamTest, IsAnEventStreamOfSingleAtoms)
{
    EXPECT_EQ(stream.GetName(), "board4.event");
    EXPECT_EQ(stream.GetOwner(), "board4");
    EXPECT_EQ(stream.GetDevice(), c_eventPath);
    EXPECT_EQ(stream.GroupSize(), 1u);
    EXPECT_EQ(stream.AtomSize(), 32u);
    EXPECT_EQ(stream.Length(), 4u);
    EXPECT_EQ(stream.GetMode(), isig::eDispatchOnDemand);
    EXPECT_EQ(stream.BaseEnumType(), isig::eAtomUInt64);
    EXPECT_EQ(stream.GetComponentNames(), (std::vector<std::string>{"id", "value", "timestamp", "reserved"}));
}

TEST_F(EventStreamTest, CommandsReachTheDeviceAsRequestsAndTheRecord)
{
    struct Case {
        std::function<void()> command;
        unsigned long request;
        uint64_t argument;
    };
    const Case cases[] = {
        {[&] { stream.SetDefaultEvents(isig::c_allEventMask); }, isig::c_eventSetDefaultRequest, isig::c_allEventMask},
        {[&] { stream.DisableEvent(2); }, isig::c_eventDisableRequest, 2},
        {[&] { stream.ResetEventCounter(2); }, isig::c_eventResetCounterRequest, 2},
        {[&] { stream.EnableEvent(63); }, isig::c_eventEnableRequest, 63},
        {[&] { stream.IncrementMachineTime(5000); }, isig::c_eventIncrementTimeRequest, 5000},
        {[&] { stream.AdjustMachineTime(-8000); }, isig::c_eventAdjustTimeRequest, static_cast<uint64_t>(int64_t{-8000})},
        {[&] { stream.SetSyncEvent(16); }, isig::c_eventSetSyncRequest, 16},
    };
    // Without a client the device is opened for each command; with one, its descriptor serves.
    isig::KavrelEventStream::Client client(&stream, "ltim_event_clt", c_queue);
    for (size_t i = 0; i < std::size(cases); ++i) {
        if (i == 3) {
            ASSERT_EQ(client.Open(), isig::eSuccess);
        }
        cases[i].command();
    }
    EXPECT_EQ(device.GetOpenCount(), 4u); // three commands and the client
    EXPECT_EQ(device.GetOpenDescriptorCount(), 1u);
    const std::vector<sim::EventStreamDevice::Request> requests = device.GetRequests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].request, cases[i].request) << i;
        EXPECT_EQ(requests[i].argument, cases[i].argument) << i;
        EXPECT_EQ(requests[i].error, 0) << i;
    }

    // The device moved its machine time by the offset, modulo 2^64; the record agrees.
    EXPECT_EQ(client.GetCurrentMachineTime().Value(), clock - 3000);
    EXPECT_EQ(device.GetEnabledMask(), ~uint64_t{4});
    EXPECT_EQ(device.GetSyncEvent(), 16);
    const isig::KavrelEventStream::Record record = stream.GetRecord();
    EXPECT_EQ(record.enabledMask, ~uint64_t{4});
    EXPECT_EQ(record.timeOffset, static_cast<uint64_t>(int64_t{-3000}));
    EXPECT_EQ(record.syncEvent, 16u);
    EXPECT_TRUE(record.syncEventSet);
    EXPECT_EQ(record.commands, std::size(cases));
    EXPECT_EQ(record.recordedOnly, 0u);
}

TEST_F(EventStreamTest, RefusedCommandsThrowAndChangeNothing)
{
    EXPECT_EQ(ErrorOf([&] { stream.EnableEvent(64); }), "isig: board4.event: EnableEvent: event id 64 is above 63");
    EXPECT_EQ(ErrorOf([&] { stream.GetEventCounter(99); }), "isig: board4.event: GetEventCounter: event id 99 is above 63");
    device.SetRequestFailure(EIO);
    EXPECT_EQ(ErrorOf([&] { stream.DisableEvent(1); }), "isig: board4.event: DisableEvent failed: Input/output error");
    EXPECT_EQ(ErrorOf([&] { stream.GetCurrentMachineTime(); }),
              "isig: board4.event: GetCurrentMachineTime failed: Input/output error");
    EXPECT_EQ(stream.GetRecord().enabledMask, isig::c_allEventMask);
    EXPECT_EQ(stream.GetRecord().commands, 0u);
    EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);

    isig::KavrelEventStream absent("absent.event", "/nonexistent/kavrel9.event", true, "absent");
    EXPECT_EQ(ErrorOf([&] { absent.EnableEvent(1); }),
              "isig: Can't open stream device /nonexistent/kavrel9.event: No such file or directory");
}

TEST_F(EventStreamTest, EventsAreReadOneAtATimeAndCountedById)
{
    isig::KavrelEventStream::Client client(&stream, "event_client", c_queue);
    ASSERT_EQ(client.Open(), isig::eSuccess);
    ASSERT_TRUE(device.WaitForOpen());
    device.WriteEvent(1, 10, 100);
    device.WriteEvent(100, 20, 200); // no id of the mask: read, never counted
    device.WriteEvent(1, 30, 300);
    std::vector<isig::EventStruct> events(3);
    for (isig::EventStruct& event : events) {
        ASSERT_EQ(client.Read(event), isig::eSuccess);
    }
    EXPECT_EQ(events[0].id, 1u);
    EXPECT_EQ(events[0].value, 10u);
    EXPECT_EQ(events[1].id, 100u);
    EXPECT_EQ(events[2].timestamp, 300u);
    EXPECT_EQ(stream.GetRecord().counters[1], 2u);
    EXPECT_EQ(stream.GetEventCounter(1), 2u); // the device's own count

    // The events reader ends when the feature cancels its client by name.
    stream.Cancel(std::string("event_client"));
    isig::EventStruct event{};
    EXPECT_EQ(client.Read(event), isig::eCancelled);
    EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
}

TEST(EventStreamClientTest, AClientReachesItsStreamOrNothing)
{
    isig::KavrelEventStream::Client orphan(nullptr, "orphan", 4);
    EXPECT_EQ(orphan.Open(), isig::eTerminated);
    EXPECT_EQ(orphan.GetEventStream(), nullptr);
    EXPECT_EQ(ErrorOf([&] { orphan.GetStream(); }), "isig: orphan: the client has no event stream.");
    EXPECT_EQ(ErrorOf([&] { orphan.GetCurrentMachineTime(); }), "isig: orphan: the client has no event stream.");

    isig::KavrelEventStream stream("e", "/dev/kavrel4.event", true, "b");
    isig::KavrelEventStream::Client client(&stream, "client", 4);
    EXPECT_EQ(&dynamic_cast<isig::KavrelEventStream&>(client.GetStream()), &stream);
    isig::KavrelHealthStream health("h", c_healthPath, true, "b");
    isig::SignalSource& other = health;
    EXPECT_THROW(static_cast<void>(dynamic_cast<isig::KavrelEventStream&>(other)), std::bad_cast);
}

TEST(EventStreamFifoTest, ADeviceThatKnowsNoRequestsChangesOnlyTheRecord)
{
    testsupport::TempDir dir;
    const std::string fifo = dir / "kavrel8.event";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    isig::KavrelEventStream stream("fifo.event", fifo, true, "fifo");
    stream.DisableEvent(3);
    stream.AdjustMachineTime(-5);
    stream.IncrementMachineTime(1000005);
    stream.SetSyncEvent(2);
    stream.ResetEventCounter(4);
    isig::KavrelEventStream::Record record = stream.GetRecord();
    EXPECT_EQ(record.enabledMask, ~uint64_t{8});
    EXPECT_EQ(record.timeOffset, 1000000u);
    EXPECT_EQ(record.commands, 5u);
    EXPECT_EQ(record.recordedOnly, 5u);

    // The machine time is the monotonic clock plus the recorded offset.
    const uint64_t before = MonotonicNs();
    const uint64_t now = stream.GetCurrentMachineTime().Value();
    const uint64_t after = MonotonicNs();
    EXPECT_GE(now, before + 1000000);
    EXPECT_LE(now, after + 1000000);

    // Events come through the FIFO; the record counts them.
    isig::KavrelEventStream::Client client(&stream, "event_client", c_queue);
    ASSERT_EQ(client.Open(), isig::eSuccess);
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const isig::EventStruct written[2] = {{4, 1, 2, 0}, {4, 3, 4, 0}};
    ASSERT_EQ(::write(writer, written, sizeof(written)), static_cast<ssize_t>(sizeof(written)));
    ::close(writer);
    isig::EventStruct event{};
    ASSERT_EQ(client.Read(event), isig::eSuccess);
    ASSERT_EQ(client.Read(event), isig::eSuccess);
    EXPECT_EQ(event.timestamp, 4u);
    EXPECT_EQ(stream.GetEventCounter(4), 2u);
    stream.ResetEventCounter(4);
    EXPECT_EQ(stream.GetEventCounter(4), 0u);
}

TEST(EventStreamModeTest, AContinuousStreamTakesClientsOnceStarted)
{
    sim::EventStreamDevice device(c_eventPath);
    isig::KavrelEventStream stream("continuous.event", c_eventPath, false, "board");
    EXPECT_EQ(stream.GetMode(), isig::eDispatchContinuous);
    isig::KavrelEventStream::Client client(&stream, "client", 4);
    EXPECT_EQ(client.Open(), isig::eNotStarted);
    EXPECT_EQ(stream.Start(), isig::eSuccess);
    EXPECT_EQ(client.Open(), isig::eSuccess);
    client.Close();
    EXPECT_EQ(device.GetOpenDescriptorCount(), 1u); // it goes on reading
    EXPECT_TRUE(stream.IsInputOpen());
}

TEST(HealthStreamTest, ReadsHealthAtomsWholeWhateverTheirValues)
{
    sim::StreamDevice device(c_healthPath, sizeof(isig::HealthStruct));
    isig::KavrelHealthStream stream("board4.health", c_healthPath, true, "board4");
    EXPECT_EQ(stream.GroupSize(), 1u);
    EXPECT_EQ(stream.GetComponentNames(), (std::vector<std::string>{"counter", "status"}));
    isig::StreamClient<isig::HealthTraits> client(&stream, "health_monitor_client", 16);
    ASSERT_EQ(client.Open(), isig::eSuccess);
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    const std::vector<isig::HealthStruct> atoms = {{max, 0}, {0, max}, {1, 0x8000000000000000u}};
    device.WriteSplit(atoms.data(), sizeof(isig::HealthStruct) * atoms.size(), {5, 20});
    for (const isig::HealthStruct& expected : atoms) {
        isig::HealthStruct atom{};
        ASSERT_EQ(client.Read(atom), isig::eSuccess);
        EXPECT_EQ(atom.counter, expected.counter);
        EXPECT_EQ(atom.status, expected.status);
    }
}

} // namespace
