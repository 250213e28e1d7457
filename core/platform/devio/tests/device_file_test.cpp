#include "devio/device_file.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_device.h"
#include "istd/exception.h"

namespace {

using devio_test::CountOpenDescriptors;
using devio_test::TestDevice;
using Calls = std::vector<std::string>;

// The steps by which a board maps its monitor device; on failure it closes what it opened and
// names the step that failed.
struct Mapped {
    int fd = -1;
    void* area = nullptr;
    uint32_t size = 0;
    std::string failed;
};

Mapped MapLikeABoard(const std::string& path)
{
    Mapped m;
    m.fd = devio::Open(path, O_RDWR | O_DSYNC);
    if (m.fd < 0) {
        m.failed = "open";
        return m;
    }
    devio::MapInfo info;
    if (devio::Ioctl(m.fd, devio::c_mapInfoRequest, &info) < 0) {
        devio::Close(m.fd);
        m.failed = "request";
        return m;
    }
    m.size = info.size;
    m.area = devio::Mmap(nullptr, m.size, PROT_READ | PROT_WRITE, MAP_SHARED, m.fd, 0);
    if (m.area == MAP_FAILED) {
        devio::Close(m.fd);
        m.failed = "map";
    }
    return m;
}

class DeviceFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/devio_test_XXXXXX";
        const int fd = ::mkstemp(name);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 8192), 0);
        ::close(fd);
        tempFile = name;
    }
    void TearDown() override
    {
        devio::ReleaseDevice(path);
        devio::ReleaseDevice(tempFile);
        ::unlink(tempFile.c_str());
    }

    const std::string path = "/dev/kavrel-devio-test.monitor";
    std::string tempFile;
    std::shared_ptr<TestDevice> device = std::make_shared<TestDevice>(8192);
};

TEST_F(DeviceFileTest, EveryCallOnAClaimedDeviceReachesItsHandler)
{
    devio::ClaimDevice(path, device);
    const Mapped mapped = MapLikeABoard(path);
    ASSERT_EQ(mapped.failed, "");
    EXPECT_TRUE(device->Owns(mapped.fd));
    EXPECT_EQ(mapped.size, 8192u);
    static_cast<volatile uint32_t*>(mapped.area)[2047] = 7; // the whole reported size is mapped

    EXPECT_EQ(devio::Munmap(mapped.area, mapped.size), 0);
    EXPECT_EQ(devio::Close(mapped.fd), 0);
    EXPECT_FALSE(device->Owns(mapped.fd));
    EXPECT_EQ(device->Calls(), (Calls{"open " + path, "ioctl", "mmap", "munmap", "close"}));
    EXPECT_EQ(device->StrayCalls(), 0u);
}

TEST_F(DeviceFileTest, UnclaimedPathsAndDescriptorsReachTheSystem)
{
    // A real file maps, but is no device and refuses the request.
    const int fd = devio::Open(tempFile, O_RDWR);
    ASSERT_GE(fd, 0);
    devio::MapInfo info;
    errno = 0;
    EXPECT_EQ(devio::Ioctl(fd, devio::c_mapInfoRequest, &info), -1);
    EXPECT_EQ(errno, ENOTTY);
    void* area = devio::Mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(area, MAP_FAILED);
    static_cast<volatile char*>(area)[100] = 'x';
    EXPECT_EQ(devio::Munmap(area, 8192), 0);
    char byte = 0;
    EXPECT_EQ(::pread(fd, &byte, 1, 100), 1);
    EXPECT_EQ(byte, 'x');
    EXPECT_EQ(devio::Close(fd), 0);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "closed for real";

    errno = 0;
    EXPECT_EQ(devio::Open("/nonexistent/kavrel0.monitor", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(devio::Close(-1), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(DeviceFileTest, AClaimOverridesAnExistingFileUntilReleased)
{
    devio::ClaimDevice(tempFile, device);
    const int simulated = devio::Open(tempFile, O_RDWR);
    EXPECT_TRUE(device->Owns(simulated));
    EXPECT_TRUE(devio::ReleaseDevice(tempFile));
    EXPECT_FALSE(devio::ReleaseDevice(tempFile));

    const int real = devio::Open(tempFile, O_RDWR);
    ASSERT_GE(real, 0);
    EXPECT_FALSE(device->Owns(real));
    EXPECT_EQ(devio::Close(real), 0);

    // The descriptor opened during the claim stays with the device.
    devio::MapInfo info;
    EXPECT_EQ(devio::Ioctl(simulated, devio::c_mapInfoRequest, &info), 0);
    EXPECT_EQ(devio::Close(simulated), 0);
    EXPECT_EQ(device->Calls(), (Calls{"open " + tempFile, "ioctl", "close"}));
}

TEST_F(DeviceFileTest, ADescriptorNumberFreedByTheDeviceIsNotRoutedToItAgain)
{
    devio::ClaimDevice(path, device);
    const int simulated = devio::Open(path, O_RDWR);
    ASSERT_GE(simulated, 0);
    ASSERT_EQ(devio::Close(simulated), 0);

    // The lowest free number is the one just freed.
    const int real = devio::Open(tempFile, O_RDWR);
    ASSERT_EQ(real, simulated);
    devio::MapInfo info;
    EXPECT_EQ(devio::Ioctl(real, devio::c_mapInfoRequest, &info), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(devio::Close(real), 0);
    EXPECT_EQ(device->Calls(), (Calls{"open " + path, "close"}));
}

TEST_F(DeviceFileTest, FailedMappingsLeaveNoDescriptorOpen)
{
    struct Case {
        const char* what;
        std::string path;
        int failOpen;
        int failMap;
        const char* failedStep;
        int error;
    };
    const Case cases[] = {
        {"missing real device", "/nonexistent/kavrel3.monitor", 0, 0, "open", ENOENT},
        {"empty device name", "", 0, 0, "open", ENOENT},
        {"real file that is no device", tempFile, 0, 0, "request", ENOTTY},
        {"real character device", "/dev/zero", 0, 0, "request", ENOTTY},
        {"simulated open fails", path, ENXIO, 0, "open", ENXIO},
        {"simulated map fails", path, 0, ENOMEM, "map", ENOMEM},
    };
    devio::ClaimDevice(path, device);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device->failOpen = c.failOpen;
        device->failMap = c.failMap;
        const size_t before = CountOpenDescriptors();
        errno = 0;
        const Mapped mapped = MapLikeABoard(c.path);
        EXPECT_EQ(mapped.failed, c.failedStep);
        EXPECT_EQ(errno, c.error) << std::strerror(errno);
        EXPECT_EQ(CountOpenDescriptors(), before);
    }
    EXPECT_EQ(device->StrayCalls(), 0u);
}

TEST_F(DeviceFileTest, ASimulatedAreaIsReleasedWholeByItsAddress)
{
    devio::ClaimDevice(path, device);
    const Mapped mapped = MapLikeABoard(path);
    ASSERT_EQ(mapped.failed, "");
    errno = 0;
    EXPECT_EQ(devio::Munmap(static_cast<char*>(mapped.area) + 4096, 4096), -1);
    EXPECT_EQ(errno, EINVAL);
    static_cast<volatile char*>(mapped.area)[4096] = 1; // still mapped
    EXPECT_EQ(devio::Munmap(mapped.area, mapped.size), 0);
    EXPECT_EQ(devio::Close(mapped.fd), 0);
    EXPECT_EQ(device->Calls(), (Calls{"open " + path, "ioctl", "mmap", "munmap", "close"}));
}

TEST_F(DeviceFileTest, ClaimsThatCannotBeServedAreRefused)
{
    devio::ClaimDevice(path, device);
    EXPECT_THROW(devio::ClaimDevice(path, std::make_shared<TestDevice>()), istd::Exception);
    EXPECT_THROW(devio::ClaimDevice("", device), istd::Exception);
    EXPECT_THROW(devio::ClaimDevice("/dev/other", nullptr), istd::Exception);
    try {
        devio::ClaimDevice(path, device);
        ADD_FAILURE() << "claimed twice";
    } catch (const istd::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "devio: device " + path + " is already claimed");
    }
}

TEST_F(DeviceFileTest, HandlerDefaultsBehaveAsADeviceWithoutMapping)
{
    class OpenOnly : public devio::DeviceHandler {
    public:
        int OnOpen(const std::string&, int) override { return ::eventfd(0, EFD_CLOEXEC); }
    };
    devio::ClaimDevice(path, std::make_shared<OpenOnly>());
    const size_t before = CountOpenDescriptors();
    errno = 0;
    const Mapped mapped = MapLikeABoard(path);
    EXPECT_EQ(mapped.failed, "request");
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(CountOpenDescriptors(), before);

    const int fd = devio::Open(path, O_RDWR);
    errno = 0;
    EXPECT_EQ(devio::Mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0), MAP_FAILED);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(devio::Close(fd), 0);
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST_F(DeviceFileTest, ReadsOfAClaimedDeviceReachItsHandlerAndPollSeesItsDescriptor)
{
    // A stream device: its descriptor is readable while it has bytes to give.
    class Stream : public devio::DeviceHandler {
    public:
        int OnOpen(const std::string&, int) override { return m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }
        ssize_t OnRead(int fd, void* buffer, size_t bytes) override
        {
            reads.push_back(fd);
            eventfd_t value = 0;
            ::eventfd_read(m_fd, &value);
            const size_t n = std::min(bytes, size_t{3});
            std::memcpy(buffer, "abc", n);
            return static_cast<ssize_t>(n);
        }
        void Ready() { ::eventfd_write(m_fd, 1); }
        std::vector<int> reads;

    private:
        int m_fd = -1;
    };
    auto stream = std::make_shared<Stream>();
    devio::ClaimDevice(path, stream);
    const int fd = devio::Open(path, O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    struct pollfd entry {fd, POLLIN, 0};
    EXPECT_EQ(devio::Poll(&entry, 1, 0), 0);
    stream->Ready();
    EXPECT_EQ(devio::Poll(&entry, 1, 1000), 1);
    EXPECT_TRUE(entry.revents & POLLIN);
    char buffer[8] = {};
    EXPECT_EQ(devio::Read(fd, buffer, sizeof(buffer)), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(stream->reads, std::vector<int>{fd});
    entry.revents = 0;
    EXPECT_EQ(devio::Poll(&entry, 1, 0), 0);
    EXPECT_EQ(devio::Close(fd), 0);

    // A plain file is read by the system.
    const int file = devio::Open(tempFile, O_RDONLY);
    ASSERT_GE(file, 0);
    EXPECT_EQ(devio::Read(file, buffer, sizeof(buffer)), static_cast<ssize_t>(sizeof(buffer)));
    EXPECT_EQ(devio::Close(file), 0);
    errno = 0;
    EXPECT_EQ(devio::Read(file, buffer, 1), -1);
    EXPECT_EQ(errno, EBADF);
}

} // namespace
