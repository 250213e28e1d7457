#include "bmc/i2c_device_SFP_PHY.h"

#include "istd/trace.h"
#include "bmc/bus_controller.h"

namespace bmc {

namespace {

constexpr uint8_t c_regControl = 0;
constexpr uint8_t c_regStatus = 1;
constexpr uint8_t c_regExtendedMode = 27;

} // namespace

SfpPhy::SfpPhy(BusController& controller, const std::string& name, BusDeviceId id, uint8_t, uint8_t bus)
    : I2cDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::SfpPhy::SfpPhy(bmc::BusController&, const std::string&, bmc::BusDeviceId, uint8_t, uint8_t)");
    SetBusParam<I2cBusParams>(*this, c_i2cAddr, bus, 100);
}

SfpPhy::~SfpPhy() = default;

void SfpPhy::_WriteWord(uint8_t reg, uint16_t value)
{
    const uint64_t bytes[2] = {uint64_t{value} >> 8, uint64_t{value} & 0xFF};
    Write(reg, bytes, 2);
}

uint16_t SfpPhy::_ReadWord(uint8_t reg) const
{
    uint64_t bytes[2] = {0, 0};
    Read(reg, bytes, 2);
    return static_cast<uint16_t>((bytes[0] & 0xFF) << 8 | (bytes[1] & 0xFF));
}

void SfpPhy::IsolateDisable()
{
    _WriteWord(c_regControl, 0x4011);
}

void SfpPhy::SetSgmii()
{
    _WriteWord(c_regExtendedMode, 0x8490);
    _WriteWord(c_regControl, 0x4091);
}

bool SfpPhy::GetStatus(uint16_t& status) const
{
    _ReadWord(c_regStatus);
    status = _ReadWord(c_regStatus);
    return true;
}

} // namespace bmc
