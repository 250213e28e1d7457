#include "sim/devices/monitor_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "devio/device_file.h"
#include "devio/reg_access.h"
#include "istd/exception.h"

namespace {

const std::string c_path = "/dev/kavrel3.monitor";

size_t CountOpenDescriptors()
{
    size_t count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (const dirent* entry = ::readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    ::closedir(dir);
    return count - 1; // the directory's own descriptor
}

// One mapping made the way a board makes it, released on destruction.
struct Mapping {
    explicit Mapping(const std::string& path, int access = O_RDWR)
    {
        fd = devio::Open(path, access | O_DSYNC);
        if (fd < 0) {
            failed = "open";
            return;
        }
        devio::MapInfo info;
        if (devio::Ioctl(fd, devio::c_mapInfoRequest, &info) < 0) {
            failed = "request";
            return;
        }
        size = info.size;
        void* area = devio::Mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (area == MAP_FAILED) {
            failed = "map";
            return;
        }
        base = static_cast<uint8_t*>(area);
    }
    ~Mapping()
    {
        if (base != nullptr) {
            devio::Munmap(base, size);
        }
        if (fd >= 0) {
            devio::Close(fd);
        }
    }
    volatile uint32_t* Word32(size_t offset) const
    {
        return reinterpret_cast<volatile uint32_t*>(base + offset);
    }
    volatile uint64_t* Word64(size_t offset) const
    {
        return reinterpret_cast<volatile uint64_t*>(base + offset);
    }

    int fd = -1;
    uint32_t size = 0;
    uint8_t* base = nullptr;
    std::string failed;
};

TEST(MonitorDeviceTest, MapsThroughDevioAndSharesItsMemoryWithEveryMapping)
{
    sim::MonitorDevice device(c_path, 0x10000, 0x5);
    EXPECT_EQ(device.GetFeatures(), 0x5u);
    const size_t before = CountOpenDescriptors();
    {
        Mapping first(c_path);
        ASSERT_EQ(first.failed, "");
        EXPECT_EQ(first.size, 0x10000u);
        EXPECT_EQ(devio::Read32(first.Word32(sim::MonitorDevice::c_featureOffset)), 0x5u);

        Mapping second(c_path);
        ASSERT_EQ(second.failed, "");
        EXPECT_NE(second.base, first.base);
        EXPECT_NE(second.fd, first.fd);
        EXPECT_EQ(device.GetOpenDescriptorCount(), 2u);
        EXPECT_EQ(device.GetMappedAreaCount(), 2u);

        devio::Write64(first.Word64(0xFFF8), 0x0123456789ABCDEFull);
        device.WriteMemory32(0x100, 0xBEEF);
        EXPECT_EQ(device.ReadMemory64(0xFFF8), 0x0123456789ABCDEFull);
        EXPECT_EQ(devio::Read64(second.Word64(0xFFF8)), 0x0123456789ABCDEFull);
        EXPECT_EQ(devio::Read32(second.Word32(0x100)), 0xBEEFu);

        // Releasing one mapping leaves the other in place.
        devio::Munmap(first.base, first.size);
        first.base = nullptr;
        device.SetFeatures(0x1);
        EXPECT_EQ(devio::Read32(second.Word32(12)), 0x1u);
        EXPECT_EQ(device.GetMappedAreaCount(), 1u);
    }
    EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
    EXPECT_EQ(device.GetMappedAreaCount(), 0u);
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST(MonitorDeviceTest, EachStepCanFailAndNothingStaysOpen)
{
    struct Case {
        const char* what;
        size_t size;
        sim::MonitorDevice::Step_e step;
        int error;
        const char* failedStep;
        int expectedError;
    };
    using Step = sim::MonitorDevice::Step_e;
    const Case cases[] = {
        {"open refused", 4096, Step::eOpen, EBUSY, "open", EBUSY},
        {"request refused", 4096, Step::eRequest, EIO, "request", EIO},
        {"map refused", 4096, Step::eMap, ENOMEM, "map", ENOMEM},
        {"empty register space", 0, Step::eMap, 0, "map", EINVAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::MonitorDevice device(c_path, c.size);
        device.SetFailure(c.step, c.error);
        const size_t before = CountOpenDescriptors();
        {
            errno = 0;
            Mapping mapping(c_path);
            EXPECT_EQ(mapping.failed, c.failedStep);
            EXPECT_EQ(errno, c.expectedError) << std::strerror(errno);
        }
        EXPECT_EQ(CountOpenDescriptors(), before);
        EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);

        device.SetFailure(c.step, 0);
        if (c.size > 0) {
            EXPECT_EQ(Mapping(c_path).failed, "");
        }
    }
}

TEST(MonitorDeviceTest, BehavesAsADriverWouldForOddRequests)
{
    sim::MonitorDevice device(c_path, 8192);
    const int readOnly = devio::Open(c_path, O_RDONLY);
    ASSERT_GE(readOnly, 0);
    errno = 0;
    EXPECT_EQ(devio::Mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, readOnly, 0),
              MAP_FAILED);
    EXPECT_EQ(errno, EACCES);
    void* area = devio::Mmap(nullptr, 4096, PROT_READ, MAP_SHARED, readOnly, 4096);
    ASSERT_NE(area, MAP_FAILED);
    EXPECT_EQ(devio::Munmap(area, 4096), 0);

    errno = 0;
    EXPECT_EQ(devio::Mmap(nullptr, 8192, PROT_READ, MAP_SHARED, readOnly, 4096), MAP_FAILED)
        << "past the register space";
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(devio::Ioctl(readOnly, 0x1234, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(devio::Ioctl(readOnly, devio::c_mapInfoRequest, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(devio::Close(readOnly), 0);
}

TEST(MonitorDeviceTest, ASpaceTooSmallForTheFeatureWordIsReportedAsItIs)
{
    sim::MonitorDevice device(c_path, 8, 0x1);
    Mapping mapping(c_path);
    ASSERT_EQ(mapping.failed, "");
    EXPECT_EQ(mapping.size, 8u);
    EXPECT_THROW(device.GetFeatures(), istd::Exception);
    EXPECT_THROW(device.ReadMemory32(8), istd::Exception);
    EXPECT_THROW(device.ReadMemory64(4), istd::Exception) << "outside the space";
    EXPECT_THROW(device.ReadMemory32(2), istd::Exception) << "not aligned";
    EXPECT_THROW(sim::MonitorDevice(c_path, 4096), istd::Exception) << "path taken";
}

// Counts its accesses and keeps a register file of its own.
class BlockModel : public devio::RegisterModel {
public:
    uint32_t OnRead32(size_t offset) override
    {
        ++accesses;
        return offset == 0 ? 0xB10C : static_cast<uint32_t>(offset);
    }
    void OnWrite32(size_t offset, uint32_t value) override
    {
        ++accesses;
        last = (static_cast<uint64_t>(offset) << 32) | value;
    }
    std::atomic<size_t> accesses{0};
    std::atomic<uint64_t> last{0};
};

TEST(MonitorDeviceTest, ModelWindowsServeEveryMappingPresentAndFuture)
{
    sim::MonitorDevice device(c_path, 0x4000, 0x1);
    auto early = std::make_shared<BlockModel>();
    auto late = std::make_shared<BlockModel>();
    device.AttachModel(0x1000, 0x100, early);
    {
        Mapping mapping(c_path);
        ASSERT_EQ(mapping.failed, "");
        device.AttachModel(0x2000, 0x100, late);
        EXPECT_EQ(devio::GetClaimedRangeCount(), 2u);

        EXPECT_EQ(devio::Read32(mapping.Word32(0x1000)), 0xB10Cu);
        EXPECT_EQ(devio::Read32(mapping.Word32(0x10FC)), 0xFCu);
        devio::Write32(mapping.Word32(0x2008), 0x77);
        EXPECT_EQ(late->last.load(), (uint64_t{8} << 32) | 0x77);
        EXPECT_EQ(device.ReadMemory32(0x2008), 0u) << "the model's window keeps the memory out";

        // The feature word and every word outside the windows are memory.
        EXPECT_EQ(devio::Read32(mapping.Word32(12)), 0x1u);
        devio::Write32(mapping.Word32(0x1100), 0x55);
        EXPECT_EQ(device.ReadMemory32(0x1100), 0x55u);
        EXPECT_EQ(early->accesses.load(), 2u);
        EXPECT_EQ(late->accesses.load(), 1u);

        Mapping second(c_path);
        EXPECT_EQ(devio::Read32(second.Word32(0x2004)), 0x4u);
        EXPECT_EQ(devio::GetClaimedRangeCount(), 4u);
    }
    EXPECT_EQ(devio::GetClaimedRangeCount(), 0u) << "claims end with their mapping";

    EXPECT_THROW(device.AttachModel(0x1080, 0x100, late), istd::Exception) << "overlap";
    EXPECT_THROW(device.AttachModel(0x3F00, 0x200, late), istd::Exception) << "past the end";
    EXPECT_THROW(device.AttachModel(0x3000, 0, late), istd::Exception) << "empty";
    EXPECT_THROW(device.AttachModel(0x3000, 4, nullptr), istd::Exception) << "no model";
}

TEST(MonitorDeviceTest, OutlivedDescriptorsAndMappingsStayUsable)
{
    Mapping* mapping = nullptr;
    {
        sim::MonitorDevice device(c_path, 4096, 0x3);
        mapping = new Mapping(c_path);
        ASSERT_EQ(mapping->failed, "");
    }
    errno = 0;
    EXPECT_EQ(devio::Open(c_path, O_RDWR), -1) << "the path is released";
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(devio::Read32(mapping->Word32(12)), 0x3u);
    delete mapping;
}

} // namespace
