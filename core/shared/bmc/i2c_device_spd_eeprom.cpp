#include "bmc/i2c_device_spd_eeprom.h"

#include "istd/log.h"
#include "istd/trace.h"
#include "bmc/bus_controller.h"

namespace bmc {

SpdEeprom::SpdEeprom(BusController& controller, const std::string& name, BusDeviceId id, uint8_t, uint8_t bus)
    : I2cDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::SpdEeprom::SpdEeprom(bmc::BusController&, const std::string&, bmc::BusDeviceId, uint8_t, uint8_t)");
    SetBusParam<I2cBusParams>(*this, c_i2cAddr, bus, 100);
}

SpdEeprom::~SpdEeprom() = default;

bool SpdEeprom::SpdEepromIsPresent()
{
    return true;
}

uint8_t SpdEeprom::SpdEepromRead(uint8_t reg)
{
    return Get(reg);
}

void SpdEeprom::SpdEepromWrite(uint8_t reg, uint8_t value)
{
    Set(reg, value);
}

uint16_t SpdEeprom::Crc16(const char* data, int length)
{
    unsigned crc = 0;
    for (int i = 0; i < length; ++i) {
        crc ^= static_cast<unsigned>(static_cast<uint8_t>(data[i])) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        }
    }
    return static_cast<uint16_t>(crc);
}

bool SpdEeprom::Ddr3SpdCheck(const tDdr3RegMap* map)
{
    const int length = ((*map)[0] & 0x80) ? 117 : 126;
    const uint16_t crc = Crc16(reinterpret_cast<const char*>(map->bytes), length);
    if ((*map)[126] != (crc & 0xFF)) {
        return false;
    }
    return (*map)[127] == (crc >> 8);
}

bool SpdEeprom::SpdEepromReadDdrMemoryMap(tSpdEepromRegMap& map)
{
    ISTD_TRACE_FNC("bool bmc::SpdEeprom::SpdEepromReadDdrMemoryMap(bmc::tSpdEepromRegMap&)");
    if (SpdEepromIsPresent()) {
        for (unsigned reg = 0; reg < 256; ++reg) {
            map[reg] = SpdEepromRead(static_cast<uint8_t>(reg));
        }
    }
    if (Ddr3SpdCheck(&map)) {
        return true;
    }
    istd::LogError("SpdEeprom not present");
    return false;
}

} // namespace bmc
