#include "bmc/spi_device_DAC7554.h"

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

namespace {

void _CheckChannel(uint32_t channel)
{
    if (channel >= DAC7554::c_channels) {
        throw istd::Exception("Invalid channel id " + std::to_string(channel), true);
    }
}

} // namespace

DAC7554::DAC7554(BusController& controller, const std::string& name, BusDeviceId id) : SpiDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::DAC7554::DAC7554(bmc::BusController&, const std::string&, bmc::BusDeviceId)");
    SetBusParam<SpiBusParams>(*this, false, 16, false, true, false, true, 12500);
    for (uint32_t channel = 0; channel < c_channels; ++channel) {
        SetValue(channel, 0);
    }
}

DAC7554::~DAC7554() = default;

// The cache changes with the word on the wire under the controller's lock: a power-down request
// writes the cached value again, and may come from another thread than the value's.
bool DAC7554::SetValue(uint32_t channel, uint16_t value)
{
    _CheckChannel(channel);
    BusControllerLocker lock(m_controller);
    if (value > c_maxValue) {
        throw istd::Exception("Specified value " + std::to_string(value) + " is out of range", true);
    }
    const uint64_t word = 0x8000u + channel * 4096u + value;
    Write(0, word);
    m_values[channel] = value;
    m_power_down_modes[channel] = ePowerDownOff;
    return true;
}

uint16_t DAC7554::GetValue(uint32_t channel) const
{
    _CheckChannel(channel);
    BusControllerLocker lock(m_controller);
    return m_values[channel];
}

bool DAC7554::SetPowerDownMode(uint32_t channel, PowerDownMode_e mode)
{
    _CheckChannel(channel);
    BusControllerLocker lock(m_controller);
    if (mode != ePowerDownOff) {
        throw istd::Exception("Invalid power down option " + std::to_string(static_cast<int>(mode)), true);
    }
    return SetValue(channel, m_values[channel]);
}

DAC7554::PowerDownMode_e DAC7554::GetPowerDownMode(uint32_t channel) const
{
    _CheckChannel(channel);
    BusControllerLocker lock(m_controller);
    return m_power_down_modes[channel];
}

} // namespace bmc
