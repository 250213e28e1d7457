#pragma once
// The serial-presence-detect EEPROM of a DDR3 memory module at address 0x53: 256 bytes behind the
// address pointer. Ddr3Image gives the SPD of a 2 GB single-rank DDR3-1333 module (x8 chips,
// 64-bit bus) with its CRC-16 in bytes 126 (low) and 127 (high), over bytes 0 to 116 or 0 to
// 125 as bit 7 of byte 0 says.
//
// Not modelled: the temperature sensor of modules that have one, and write protection.

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/chips/i2c_chip.h"

namespace sim {

class SpdEepromModel : public I2cChipBase {
public:
    static constexpr uint8_t c_address = 0x53;
    using Image = std::array<uint8_t, 256>;

    // Holds Ddr3Image(true).
    SpdEepromModel();

    void SetImage(const Image& image);
    Image GetImage() const;

    // crcOver117: bit 7 of byte 0 set, the CRC over bytes 0-116; otherwise over bytes 0-125.
    static Image Ddr3Image(bool crcOver117);
    // The SPD's CRC-16 (polynomial 0x1021, initial 0, most significant bit first).
    static uint16_t Crc16(const uint8_t* data, size_t length);
    // Writes the CRC of the image's covered bytes into bytes 126 and 127.
    static void SealImage(Image& image);
};

} // namespace sim
