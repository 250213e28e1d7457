#include "sim/devices/stream_device.h"

#include <fcntl.h>
#include <poll.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "devio/device_file.h"
#include "tests/support/error_of.h"
#include "tests/support/open_descriptors.h"
#include "tests/support/wait_until.h"

using testsupport::CountOpenDescriptors;
using testsupport::ErrorOf;
using testsupport::WaitUntil;

namespace {

const std::string c_path = "/dev/kavrel3.strm0";
const std::string c_eventPath = "/dev/kavrel3.event";

bool Readable(int fd, int timeoutMs = 0)
{
    struct pollfd entry {fd, POLLIN, 0};
    return devio::Poll(&entry, 1, timeoutMs) == 1;
}

// One read of at most `room` bytes: the bytes, or "error <errno>", or "end".
std::string ReadOnce(int fd, size_t room = 64)
{
    std::string buffer(room, '\0');
    const ssize_t n = devio::Read(fd, buffer.data(), room);
    if (n < 0) {
        return "error " + std::to_string(errno);
    }
    return n == 0 ? "end" : buffer.substr(0, static_cast<size_t>(n));
}

TEST(StreamDeviceTest, WritesReachTheOpenDescriptorsOneWriteAtMostPerRead)
{
    const size_t descriptors = CountOpenDescriptors();
    {
        sim::StreamDevice device(c_path, 4);
        EXPECT_EQ(device.Write("lost", 4), 0u); // nobody reads yet
        EXPECT_EQ(device.GetDroppedBytes(), 4u);

        const int fd = devio::Open(c_path, O_RDWR | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(device.WaitForOpen(1, std::chrono::milliseconds(0)));
        EXPECT_FALSE(Readable(fd));
        EXPECT_EQ(ReadOnce(fd), "error " + std::to_string(EAGAIN));

        EXPECT_EQ(device.WriteSplit("abcdefghij", 10, {3, 0, 5}), 10u);
        EXPECT_EQ(device.Write("", 0), 0u); // writes nothing, unlike an end
        EXPECT_TRUE(Readable(fd));
        EXPECT_EQ(ReadOnce(fd), "abc");
        EXPECT_EQ(ReadOnce(fd, 2), "de");
        EXPECT_EQ(ReadOnce(fd), "fgh");
        EXPECT_EQ(ReadOnce(fd), "ij");
        EXPECT_FALSE(Readable(fd));
        EXPECT_TRUE(device.WaitUntilRead(std::chrono::milliseconds(0)));

        // An error is read once, in its place; the end stays.
        device.Write("xy", 2);
        device.WriteError(EIO);
        device.Write("z", 1);
        device.WriteEnd();
        EXPECT_EQ(ReadOnce(fd), "xy");
        EXPECT_EQ(ReadOnce(fd), "error " + std::to_string(EIO));
        EXPECT_EQ(ReadOnce(fd), "z");
        EXPECT_EQ(ReadOnce(fd), "end");
        EXPECT_EQ(ReadOnce(fd), "end");
        EXPECT_TRUE(Readable(fd));

        // Unread bytes are dropped with the descriptor; a new open starts clean.
        const int second = devio::Open(c_path, O_RDWR | O_NONBLOCK);
        device.Write("late", 4);
        EXPECT_EQ(devio::Close(second), 0);
        EXPECT_EQ(device.GetDroppedBytes(), 8u);
        EXPECT_EQ(devio::Close(fd), 0);
        EXPECT_EQ(device.GetOpenCount(), 2u);
        EXPECT_EQ(device.GetCloseCount(), 2u);
        EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
    }
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

TEST(StreamDeviceTest, BlockingReadsWaitForDataAndFullDescriptorsHoldWritesBack)
{
    sim::StreamDevice device(c_path, 4);
    device.SetCapacity(4);
    const int fd = devio::Open(c_path, O_RDWR);
    ASSERT_GE(fd, 0);
    std::string first;
    std::thread reader([&] { first = ReadOnce(fd); });
    device.Write("1234", 4);
    reader.join();
    EXPECT_EQ(first, "1234");

    device.Write("aaaa", 4);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        device.Write("bbbb", 4); // waits: the descriptor is full
        written = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return device.GetReadCount() == 1u; }));
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadOnce(fd), "aaaa");
    writer.join();
    EXPECT_EQ(ReadOnce(fd), "bbbb");
    EXPECT_EQ(devio::Close(fd), 0);
}

TEST(StreamDeviceTest, OpensFailOnRequestAndPlainDevicesKnowNoRequests)
{
    sim::StreamDevice device(c_path, 16);
    EXPECT_EQ(ErrorOf([&] { sim::StreamDevice again(c_path, 16); }), "devio: device " + c_path + " is already claimed");
    EXPECT_EQ(ErrorOf([] { sim::StreamDevice empty("/dev/kavrel3.strm1", 0); }),
              "sim: stream device /dev/kavrel3.strm1 with atoms of 0 bytes");
    device.SetOpenFailure(ENODEV);
    errno = 0;
    EXPECT_EQ(devio::Open(c_path, O_RDWR), -1);
    EXPECT_EQ(errno, ENODEV);
    device.SetOpenFailure(0);
    const int fd = devio::Open(c_path, O_RDWR);
    uint64_t argument = 1;
    errno = 0;
    EXPECT_EQ(devio::Ioctl(fd, isig::c_eventEnableRequest, &argument), -1);
    EXPECT_EQ(errno, ENOTTY);
    devio::Close(fd);
}

TEST(EventStreamDeviceTest, AnswersAndRecordsEveryRequest)
{
    sim::EventStreamDevice device(c_eventPath);
    uint64_t clock = 1000;
    device.SetClock([&clock] { return clock; });
    const int fd = devio::Open(c_eventPath, O_RDWR);
    ASSERT_GE(fd, 0);

    struct Case {
        unsigned long request;
        uint64_t argument;
        int error;
    };
    const Case cases[] = {
        {isig::c_eventDisableRequest, 2, 0},
        {isig::c_eventDisableRequest, 5, 0},
        {isig::c_eventEnableRequest, 5, 0},
        {isig::c_eventEnableRequest, 64, EINVAL},
        {isig::c_eventIncrementTimeRequest, 500, 0},
        {isig::c_eventAdjustTimeRequest, static_cast<uint64_t>(int64_t{-200}), 0},
        {isig::c_eventSetSyncRequest, 16, 0},
        {isig::c_eventResetCounterRequest, 1, 0},
        {0x12345678UL, 0, ENOTTY},
    };
    for (const Case& c : cases) {
        uint64_t argument = c.argument;
        errno = 0;
        EXPECT_EQ(devio::Ioctl(fd, c.request, &argument), c.error == 0 ? 0 : -1) << std::hex << c.request;
        EXPECT_EQ(errno, c.error) << std::hex << c.request;
    }
    EXPECT_EQ(device.GetEnabledMask(), ~uint64_t{4});
    EXPECT_EQ(device.GetTimeOffset(), 300u);
    EXPECT_EQ(device.GetSyncEvent(), 16);
    uint64_t value = 0;
    ASSERT_EQ(devio::Ioctl(fd, isig::c_eventGetTimeRequest, &value), 0);
    EXPECT_EQ(value, 1300u);
    clock = 2000;
    EXPECT_EQ(device.GetMachineTime(), 2300u);
    ASSERT_EQ(devio::Ioctl(fd, isig::c_eventGetMaskRequest, &value), 0);
    EXPECT_EQ(value, ~uint64_t{4});

    const std::vector<sim::EventStreamDevice::Request> requests = device.GetRequests();
    ASSERT_EQ(requests.size(), std::size(cases) + 2);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(requests[i].request, cases[i].request) << i;
        EXPECT_EQ(requests[i].argument, cases[i].argument) << i;
        EXPECT_EQ(requests[i].error, cases[i].error) << i;
    }

    device.SetRequestFailure(EIO);
    errno = 0;
    EXPECT_EQ(devio::Ioctl(fd, isig::c_eventSetDefaultRequest, &value), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(device.GetEnabledMask(), ~uint64_t{4});
    EXPECT_EQ(devio::Ioctl(fd, isig::c_eventGetTimeRequest, nullptr), -1);
    devio::Close(fd);
}

TEST(EventStreamDeviceTest, GeneratesOnlyEnabledEventsAndCountsThem)
{
    sim::EventStreamDevice device(c_eventPath);
    device.SetClock([] { return uint64_t{77}; });
    const int fd = devio::Open(c_eventPath, O_RDWR | O_NONBLOCK);
    uint64_t id = 2;
    ASSERT_EQ(devio::Ioctl(fd, isig::c_eventDisableRequest, &id), 0);
    EXPECT_TRUE(device.WriteEvent(1, 11));
    EXPECT_FALSE(device.WriteEvent(2, 22, 5));
    EXPECT_TRUE(device.WriteEvent(1, 12, 6));
    EXPECT_TRUE(device.WriteEvent(100, 0, 7)); // beyond the mask: always generated, never counted
    isig::EventCounter counter{1, 0};
    ASSERT_EQ(devio::Ioctl(fd, isig::c_eventGetCounterRequest, &counter), 0);
    EXPECT_EQ(counter.count, 2u);
    EXPECT_EQ(device.GetCounter(2), 0u);

    isig::EventStruct events[3] = {};
    for (auto& event : events) {
        ASSERT_EQ(devio::Read(fd, &event, sizeof(event)), static_cast<ssize_t>(sizeof(event)));
    }
    EXPECT_EQ(events[0].id, 1u);
    EXPECT_EQ(events[0].value, 11u);
    EXPECT_EQ(events[0].timestamp, 77u); // the machine time
    EXPECT_EQ(events[1].timestamp, 6u);
    EXPECT_EQ(events[2].id, 100u);
    EXPECT_FALSE(Readable(fd));

    uint64_t reset = 1;
    ASSERT_EQ(devio::Ioctl(fd, isig::c_eventResetCounterRequest, &reset), 0);
    EXPECT_EQ(device.GetCounter(1), 0u);
    devio::Close(fd);
}

} // namespace
