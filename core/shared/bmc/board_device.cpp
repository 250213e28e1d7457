#include "bmc/board_device.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "devio/device_file.h"
#include "devio/reg_access.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/board.h"

namespace bmc {

void* const c_MapFailed = MAP_FAILED;

namespace {

const std::string c_devicePrefix = "/dev/kavrel";

// Read and write with synchronous writes, as the board driver expects its monitor device opened.
constexpr int c_monitorOpenFlags = O_RDWR | O_DSYNC | O_LARGEFILE;
static_assert(c_monitorOpenFlags == 0x1002, "the monitor device is opened with flags 0x1002");

// The smallest area a mapping may have: up to the end of the feature word.
constexpr size_t c_minimumMappedSize = c_featureWordOffset + sizeof(uint32_t);

bool _IsMapped(const DeviceMapping_t& mapping)
{
    return mapping.address != nullptr && mapping.address != c_MapFailed;
}

} // namespace

void RequireMappedWindow(const DeviceMapping_t& mapping, size_t offset, size_t length)
{
    ISTD_TRACE_FNC("void bmc::RequireMappedWindow(const bmc::DeviceMapping_t&, size_t, size_t)");
    if (!_IsMapped(mapping)) {
        throw istd::Exception("bmc: device is not mapped", true);
    }
    if (offset > mapping.size || length > mapping.size - offset) {
        std::ostringstream text;
        text << "bmc: mapped area of " << mapping.size << " bytes has no window of " << length
             << " bytes at offset 0x" << std::hex << offset;
        throw istd::Exception(text.str(), true);
    }
}

std::string Board::GetDevicePrefix() const
{
    const Uri::SubSystem_e subSystem = m_uri.GetSubSystem();
    const FirmwareType_e firmware = GetFirmwareType();
    if ((subSystem != Uri::eChassis && subSystem != Uri::eAmc) || firmware == eFirmwareTypeInvalid ||
        firmware == eFirmwareTypeUnknown) {
        return std::string();
    }
    return c_devicePrefix + m_uri.GetId();
}

std::string Board::CreateDeviceName(DataStreamAccessType_e type, int n) const
{
    std::string name = GetDevicePrefix();
    if (name.empty()) {
        return name;
    }
    switch (type) {
    case eDataDevice:
        return name + ".dd" + std::to_string(n);
    case eStreamDevice:
        return name + ".strm" + std::to_string(n);
    case eEventDevice:
        return name + ".event";
    case eHealthDevice:
        return name + ".health";
    case eMonitorDevice:
        return name + ".monitor";
    }
    return name;
}

void Board::MapDevice(DeviceMapping_t& mapping) const
{
    ISTD_TRACE_FNC("void bmc::Board::MapDevice(bmc::DeviceMapping_t&) const");
    const std::string name = CreateDeviceName(eMonitorDevice, 0);
    mapping.fd = devio::Open(name, c_monitorOpenFlags);
    if (mapping.fd == -1) {
        const int error = errno;
        throw istd::Exception("Can't open device: " + name + ". (" + std::strerror(error) + ")", true);
    }
    devio::MapInfo info;
    if (devio::Ioctl(mapping.fd, devio::c_mapInfoRequest, &info) < 0) {
        const int error = errno;
        UnmapDevice(mapping);
        throw istd::Exception("ioctl failed: " + name + ". Error: " + std::strerror(error), true);
    }
    // The driver decides the size; an area without the feature word would fault at the first
    // look at it.
    if (info.size < c_minimumMappedSize) {
        UnmapDevice(mapping);
        throw istd::Exception("bmc: mapped area of " + name + " too small: " + std::to_string(info.size) + " bytes",
                              true);
    }
    mapping.size = info.size;
    void* area = devio::Mmap(nullptr, mapping.size, PROT_READ | PROT_WRITE, MAP_SHARED, mapping.fd, 0);
    if (area == c_MapFailed) {
        const int error = errno;
        UnmapDevice(mapping);
        throw istd::Exception("mmap failed: " + name + ". Error: " + std::strerror(error), true);
    }
    mapping.address = static_cast<volatile uint8_t*>(area);
    ISTD_TRACE(3, "Device " << name << " is mapped to 0x" << std::hex << reinterpret_cast<uintptr_t>(area));
}

void Board::UnmapDevice(DeviceMapping_t& mapping) const
{
    ISTD_TRACE_FNC("void bmc::Board::UnmapDevice(bmc::DeviceMapping_t&) const");
    if (_IsMapped(mapping)) {
        devio::Munmap(const_cast<uint8_t*>(mapping.address), mapping.size);
    }
    if (mapping.fd != -1) {
        devio::Close(mapping.fd);
    }
    mapping.fd = -1;
    mapping.size = 0xFFFFFFFFu;
    mapping.address = nullptr;
}

bool Board::IsFeatureSupported(const DeviceMapping_t& mapping, unsigned mask) const
{
    ISTD_TRACE_FNC("bool bmc::Board::IsFeatureSupported(const bmc::DeviceMapping_t&, unsigned int) const");
    RequireMappedWindow(mapping, c_featureWordOffset, sizeof(uint32_t));
    const auto* word = reinterpret_cast<const volatile uint32_t*>(mapping.address + c_featureWordOffset);
    return (devio::Read32(word) & mask) != 0;
}

} // namespace bmc
