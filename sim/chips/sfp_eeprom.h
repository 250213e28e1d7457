#pragma once
// The identification EEPROM of a pluggable SFP module at address 0x50: 256 bytes behind the
// address pointer, in the module's serial-ID layout. The texts that software reads are the
// vendor name (bytes 20-35), the vendor part number (40-55) and revision (56-59), ASCII padded
// with spaces.
//
// Not modelled: the diagnostics page at 0x51, the check codes, and write protection (every byte
// can be written).

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/chips/i2c_chip.h"

namespace sim {

class SfpEepromModel : public I2cChipBase {
public:
    static constexpr uint8_t c_address = 0x50;
    static constexpr size_t c_vendorName = 20;
    static constexpr size_t c_vendorPart = 40;
    static constexpr size_t c_vendorRev = 56;

    // An optical module (identifier 3, LC connector) named "SIMULATED" / "SFP-SIM-1G" / "1.0".
    SfpEepromModel();

    // Writes the text into the field at offset, cut to length bytes, padded with pad.
    void SetField(size_t offset, size_t length, const std::string& text, char pad = ' ');
    void SetVendorName(const std::string& name) { SetField(c_vendorName, 16, name); }
    void SetVendorPart(const std::string& part) { SetField(c_vendorPart, 16, part); }
    void SetVendorRev(const std::string& rev) { SetField(c_vendorRev, 4, rev); }
};

} // namespace sim
