// Board device files: the names a board gives them, and the mapping of its monitor device
// through devio, against simulated monitor devices.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devio/reg_access.h"
#include "bmc/board.h"
#include "common/board_helpers.h"
#include "common/host_commands.h"
#include "sim/devices/monitor_device.h"
#include "tests/support/error_of.h"

namespace {

using bmc::Board;
using bmc::DeviceMapping_t;
using bmctest::CountOpenDescriptors;
using testsupport::ErrorOf;
using bmctest::Identity;
using bmctest::IdentityConnection;

// A powered board of the URI whose identity names the firmware type.
struct TestBoard {
    TestBoard(const std::string& uri, uint8_t firmware, uint8_t type = 173)
        : connection(Identity(type, firmware)),
          board(bmc::DecomposeUri(uri), bmc::eBoardPowerMngMain, "", &connection)
    {
    }

    IdentityConnection connection;
    Board board;
};

bool IsUnmapped(const DeviceMapping_t& mapping)
{
    return mapping.address == nullptr && mapping.size == 0xFFFFFFFFu && mapping.fd == -1;
}

TEST(BoardDevice, NamesAreThePrefixAndTheSuffixOfTheirKind)
{
    const TestBoard slot3("kvr:///chassis/3", 44, 44);
    struct Case {
        bmc::DataStreamAccessType_e type;
        int n;
        const char* name;
    };
    const std::vector<Case> cases = {
        {bmc::eDataDevice, 0, "/dev/kavrel3.dd0"},
        {bmc::eStreamDevice, 2, "/dev/kavrel3.strm2"},
        {bmc::eEventDevice, 7, "/dev/kavrel3.event"},
        {bmc::eHealthDevice, 0, "/dev/kavrel3.health"},
        {bmc::eMonitorDevice, 0, "/dev/kavrel3.monitor"},
        {bmc::eDataDevice, -1, "/dev/kavrel3.dd-1"},
        {static_cast<bmc::DataStreamAccessType_e>(5), 1, "/dev/kavrel3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(slot3.board.CreateDeviceName(c.type, c.n), c.name);
    }
    EXPECT_EQ(TestBoard("kvr:///amc/5", 173).board.GetDevicePrefix(), "/dev/kavrel5");
}

TEST(BoardDevice, BoardsWithoutFirmwareTypeOrOutsideTheChassisHaveNoDeviceFiles)
{
    const std::vector<std::pair<std::string, uint8_t>> cases = {
        {"kvr:///chassis/3", 0}, {"kvr:///chassis/3", 255}, {"kvr:///os/", 44}, {"kvr:///test/1", 44},
    };
    for (const auto& c : cases) {
        const TestBoard t(c.first, c.second);
        EXPECT_EQ(t.board.GetDevicePrefix(), "") << c.first;
        EXPECT_EQ(t.board.CreateDeviceName(bmc::eMonitorDevice, 0), "") << c.first;
        DeviceMapping_t mapping;
        EXPECT_EQ(ErrorOf([&] { t.board.MapDevice(mapping); }).rfind("Can't open device: . (", 0), 0u)
            << c.first;
        EXPECT_TRUE(IsUnmapped(mapping));
    }
    // A board that was never identified has no firmware type either.
    IdentityConnection silent(Identity(0));
    const Board off(bmc::DecomposeUri("kvr:///chassis/3"), bmc::eBoardPowerOff, "", &silent);
    EXPECT_EQ(off.GetDevicePrefix(), "");
}

class MonitorMapping : public ::testing::Test {
protected:
    static constexpr size_t c_size = 0x10000;

    void SetUp() override { m_device = std::make_unique<sim::MonitorDevice>("/dev/kavrel3.monitor", c_size, 0x5); }

    TestBoard m_board{"kvr:///chassis/3", 44, 44};
    std::unique_ptr<sim::MonitorDevice> m_device;
};

TEST_F(MonitorMapping, AMappingReachesTheDeviceMemoryAndItsFeatureWord)
{
    const size_t before = CountOpenDescriptors();
    DeviceMapping_t mapping;
    m_board.board.MapDevice(mapping);
    ASSERT_NE(mapping.address, nullptr);
    EXPECT_EQ(mapping.size, c_size);
    EXPECT_GE(mapping.fd, 0);
    EXPECT_TRUE(m_board.board.IsFeatureSupported(mapping, bmc::c_featurePcieFlash));
    EXPECT_TRUE(m_board.board.IsFeatureSupported(mapping, 0x6));
    EXPECT_FALSE(m_board.board.IsFeatureSupported(mapping, 0x2));
    EXPECT_FALSE(m_board.board.IsFeatureSupported(mapping, 0));
    m_device->SetFeatures(0);
    EXPECT_FALSE(m_board.board.IsFeatureSupported(mapping, bmc::c_featurePcieFlash));

    // The mapping and the device share their bytes.
    devio::Write32(reinterpret_cast<volatile uint32_t*>(mapping.address + 0x100), 0xA5A55A5Au);
    EXPECT_EQ(m_device->ReadMemory32(0x100), 0xA5A55A5Au);

    // A second mapping is independent of the first, with its own descriptor.
    DeviceMapping_t second;
    m_board.board.MapDevice(second);
    EXPECT_NE(second.fd, mapping.fd);
    EXPECT_EQ(m_device->GetOpenDescriptorCount(), 2u);
    m_board.board.UnmapDevice(second);
    EXPECT_TRUE(IsUnmapped(second));

    m_board.board.UnmapDevice(mapping);
    EXPECT_TRUE(IsUnmapped(mapping));
    EXPECT_EQ(m_device->GetOpenDescriptorCount(), 0u);
    EXPECT_EQ(m_device->GetMappedAreaCount(), 0u);
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST_F(MonitorMapping, AFailedStepLeavesNoDescriptorOpen)
{
    struct Case {
        sim::MonitorDevice::Step_e step;
        int error;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {sim::MonitorDevice::Step_e::eOpen, EACCES,
         "Can't open device: /dev/kavrel3.monitor. (" + std::string(std::strerror(EACCES)) + ")"},
        {sim::MonitorDevice::Step_e::eRequest, ENOTTY,
         "ioctl failed: /dev/kavrel3.monitor. Error: " + std::string(std::strerror(ENOTTY))},
        {sim::MonitorDevice::Step_e::eMap, ENOMEM,
         "mmap failed: /dev/kavrel3.monitor. Error: " + std::string(std::strerror(ENOMEM))},
    };
    const size_t before = CountOpenDescriptors();
    for (const Case& c : cases) {
        m_device->SetFailure(c.step, c.error);
        DeviceMapping_t mapping;
        EXPECT_EQ(ErrorOf([&] { m_board.board.MapDevice(mapping); }), c.failure);
        EXPECT_TRUE(IsUnmapped(mapping)) << c.failure;
        EXPECT_EQ(m_device->GetOpenDescriptorCount(), 0u) << c.failure;
        EXPECT_EQ(CountOpenDescriptors(), before) << c.failure;
        m_device->SetFailure(c.step, 0);
    }

    // A failed open keeps what the caller had in size and address.
    m_device->SetFailure(sim::MonitorDevice::Step_e::eOpen, ENOENT);
    DeviceMapping_t prepared;
    prepared.size = 7;
    EXPECT_THROW(m_board.board.MapDevice(prepared), istd::Exception);
    EXPECT_EQ(prepared.fd, -1);
    EXPECT_EQ(prepared.size, 7u);
    EXPECT_EQ(prepared.address, nullptr);
}

// A driver that reports an area without the whole feature word is refused before anything is
// mapped: reading the word would fault.
TEST(BoardDevice, AnAreaTooSmallForTheFeatureWordIsRefused)
{
    const TestBoard t("kvr:///chassis/3", 44, 44);
    const size_t before = CountOpenDescriptors();
    for (const size_t size : {size_t{0}, size_t{8}, size_t{15}}) {
        sim::MonitorDevice device("/dev/kavrel3.monitor", size);
        DeviceMapping_t mapping;
        EXPECT_EQ(ErrorOf([&] { t.board.MapDevice(mapping); }),
                  "bmc: mapped area of /dev/kavrel3.monitor too small: " + std::to_string(size) + " bytes");
        EXPECT_TRUE(IsUnmapped(mapping));
        EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
        EXPECT_EQ(device.GetMappedAreaCount(), 0u);
    }
    EXPECT_EQ(CountOpenDescriptors(), before);

    sim::MonitorDevice device("/dev/kavrel3.monitor", 16, 1);
    DeviceMapping_t mapping;
    t.board.MapDevice(mapping);
    EXPECT_TRUE(t.board.IsFeatureSupported(mapping, 1));
    EXPECT_NO_THROW(bmc::RequireMappedWindow(mapping, 0, 16));
    EXPECT_EQ(ErrorOf([&] { bmc::RequireMappedWindow(mapping, 8, 16); }),
              "bmc: mapped area of 16 bytes has no window of 16 bytes at offset 0x8");
    EXPECT_THROW(bmc::RequireMappedWindow(mapping, 17, 0), istd::Exception);
    t.board.UnmapDevice(mapping);
}

TEST(BoardDevice, UnmappingReleasesOnlyWhatTheMappingHolds)
{
    const TestBoard t("kvr:///chassis/3", 44, 44);
    DeviceMapping_t unmapped;
    t.board.UnmapDevice(unmapped);
    EXPECT_TRUE(IsUnmapped(unmapped));

    // An address that is the failure value is not unmapped; the descriptor is closed.
    const size_t before = CountOpenDescriptors();
    DeviceMapping_t failed;
    failed.fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(failed.fd, 0);
    failed.address = static_cast<volatile uint8_t*>(bmc::c_MapFailed);
    failed.size = 4096;
    t.board.UnmapDevice(failed);
    EXPECT_TRUE(IsUnmapped(failed));
    EXPECT_EQ(CountOpenDescriptors(), before);

    // Nothing in place: the feature word cannot be read.
    EXPECT_EQ(ErrorOf([&] { t.board.IsFeatureSupported(unmapped, 1); }), "bmc: device is not mapped");
}

} // namespace
