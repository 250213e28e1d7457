#ifndef BMC_SPI_DEVICE_CDCE72010_H
#define BMC_SPI_DEVICE_CDCE72010_H

// The CDCE72010 clock synchroniser: twelve registers of 28 bits, written and read as 32-bit words
// (least significant bit first) whose low four bits carry the register number.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_device.h"

namespace bmc {

class BMC_API CDCE72010 : public SpiDevice {
public:
    static constexpr uint32_t c_registers = 12;
    static constexpr uint32_t c_valueLimit = uint32_t{1} << 28;

    // 32-bit words LSB first at 1900 kHz, chip select released and taken again between a read
    // request and its answer; no bus access.
    CDCE72010(BusController& controller, const std::string& name, BusDeviceId id);
    ~CDCE72010() override;

    // Sends value << 4 | id. Throws, before anything is sent, "Invalid register ID" for an id
    // above 11 and "Invalid register value" for a value of 2^28 or more.
    bool Set(uint32_t id, const uint32_t& value);
    // Sends id << 4 | 0xE and receives one word. value is that word as the chip sends it, the
    // register's 28 bits above its number, not shifted down (Set takes the bare 28 bits).
    // Throws "Invalid register ID" for an id above 11.
    bool Get(uint32_t id, uint32_t& value);
};

} // namespace bmc

#endif
