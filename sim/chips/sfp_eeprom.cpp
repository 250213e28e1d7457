#include "sim/chips/sfp_eeprom.h"

namespace sim {

SfpEepromModel::SfpEepromModel() : I2cChipBase(256)
{
    Set(0, 0x03); // SFP
    Set(1, 0x04); // serial ID defined by the two-wire interface
    Set(2, 0x07); // LC connector
    SetVendorName("SIMULATED");
    SetVendorPart("SFP-SIM-1G");
    SetVendorRev("1.0");
}

void SfpEepromModel::SetField(size_t offset, size_t length, const std::string& text, char pad)
{
    for (size_t i = 0; i < length; ++i) {
        Set(offset + i, static_cast<uint8_t>(i < text.size() ? text[i] : pad));
    }
}

} // namespace sim
