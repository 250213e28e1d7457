#ifndef BMC_BOARD_DEVICE_H
#define BMC_BOARD_DEVICE_H

// The device files of a board and the mapping of its FPGA register space.
//
// An FPGA board has a family of character device files named from its device prefix
// (bmc::Board::GetDevicePrefix, "/dev/kavrel" and the board's URI id) and a suffix per function;
// the monitor device is the one whose memory is mapped to reach the FPGA's registers:
//
//     bmc::DeviceMapping_t mapping;                  // unmapped
//     board.MapDevice(mapping);                      // throws istd::Exception on failure
//     ... devio::Read32(...) in [mapping.address, mapping.address + mapping.size) ...
//     board.UnmapDevice(mapping);                    // unmapped again
//
// The calls go through core/platform/devio, where a simulated device may take the name over.

#include <cstddef>
#include <cstdint>

#include "bmc/bmc_export.h"

namespace bmc {

// The kind of device file, and the suffix it adds to the board's device prefix.
enum DataStreamAccessType_e {
    eDataDevice = 0,      // ".dd" and the device number in decimal
    eStreamDevice = 1,    // ".strm" and the device number in decimal
    eEventDevice = 2,     // ".event"
    eHealthDevice = 3,    // ".health"
    eMonitorDevice = 128  // ".monitor", the memory-mapped one
};

// One mapping of a monitor device; its owner prepares it unmapped and releases it with
// UnmapDevice. Mapping the same device twice gives two independent mappings.
struct BMC_API DeviceMapping_t {
    volatile uint8_t* address = nullptr; // the FPGA register space; null when unmapped
    uint32_t size = 0xFFFFFFFFu;         // bytes mapped; all ones when unmapped
    int fd = -1;                         // the open device file; -1 when unmapped
};

// The address value of a failed mmap; users of a mapping compare addresses against it.
extern BMC_API void* const c_MapFailed;

// The feature word of the mapped area: a 32-bit word at byte offset 12.
constexpr size_t c_featureWordOffset = 12;
// Bit 0 of the feature word: the configuration flash can be written over PCIe.
constexpr unsigned c_featurePcieFlash = 1;

// Throws istd::Exception unless the mapping is in place and covers [offset, offset + length).
// A caller that lays a register window over a mapping checks it here first: the driver decides
// the mapped size, and an access past it faults.
BMC_API void RequireMappedWindow(const DeviceMapping_t& mapping, size_t offset, size_t length);

} // namespace bmc

#endif
