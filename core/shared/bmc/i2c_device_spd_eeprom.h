#ifndef BMC_I2C_DEVICE_SPD_EEPROM_H
#define BMC_I2C_DEVICE_SPD_EEPROM_H

// The serial-presence-detect EEPROM of a DDR3 memory module at address 0x53: the driver reads the
// 256-byte image and accepts it when the CRC-16 stored in bytes 126 (low) and 127 (high) matches
// the covered bytes (0-116 when bit 7 of byte 0 is set, else 0-125). It decodes nothing else.
// An image of 256 zero bytes passes the check (its CRC is 0).

#include <cstddef>
#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/i2c_device.h"

namespace bmc {

// The EEPROM's 256 bytes, byte i = register i.
struct tSpdEepromRegMap {
    uint8_t bytes[256];
    uint8_t& operator[](size_t i) { return bytes[i]; }
    const uint8_t& operator[](size_t i) const { return bytes[i]; }
};
// The same bytes seen as a DDR3 SPD.
using tDdr3RegMap = tSpdEepromRegMap;

class BMC_API SpdEeprom : public I2cDevice {
public:
    static constexpr uint8_t c_i2cAddr = 0x53;

    // The address argument is not used: the EEPROM is always at c_i2cAddr.
    SpdEeprom(BusController& controller, const std::string& name, BusDeviceId id, uint8_t address, uint8_t bus);
    ~SpdEeprom() override;

    // Always true: the EEPROM has no presence detection.
    bool SpdEepromIsPresent();
    // One register, one transfer.
    uint8_t SpdEepromRead(uint8_t reg);
    void SpdEepromWrite(uint8_t reg, uint8_t value);

    // CRC-16 with polynomial 0x1021, initial value 0, most significant bit first; 0 for a length
    // of 0 or less.
    static uint16_t Crc16(const char* data, int length);
    static bool Ddr3SpdCheck(const tDdr3RegMap* map);

    // Reads registers 0 to 255 into map, one transfer each, and checks the CRC. A mismatch logs
    // "SpdEeprom not present" at error level and answers false; map keeps what was read.
    bool SpdEepromReadDdrMemoryMap(tSpdEepromRegMap& map);
};

} // namespace bmc

#endif
