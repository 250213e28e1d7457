#include "bmc/spi_device_LMH6518.h"

#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

LMH6518::LMH6518(BusController& controller, const std::string& name, BusDeviceId id, bool use_cache)
    : SpiDevice(controller, name, id), m_use_cache(use_cache)
{
    ISTD_TRACE_FNC("bmc::LMH6518::LMH6518(bmc::BusController&, const std::string&, bmc::BusDeviceId, bool)");
    // A frame whose command byte has the read bit clear is a write: the bus's usual zero word
    // would clear the register it clocks the answer out of.
    SetBusParam<SpiBusParams>(*this, false, 24, true, false, false, true, 8000)->m_read_frame = c_readFrame;
}

LMH6518::~LMH6518() = default;

// The field setters read, change and write back the one control word; each holds the controller's
// (recursive) lock throughout, so that setters of two fields on two threads never lose a field.
bool LMH6518::SetRaw(uint16_t raw)
{
    BusControllerLocker lock(m_controller);
    Write(0, uint64_t{raw});
    m_raw = raw;
    return true;
}

bool LMH6518::GetRaw(uint16_t& raw)
{
    BusControllerLocker lock(m_controller);
    if (m_use_cache) {
        raw = m_raw;
        return true;
    }
    uint64_t word = 0;
    Read(0, word);
    raw = static_cast<uint16_t>(word);
    return true;
}

bool LMH6518::Set(bool full_power, tFilterBandwidth bandwidth, bool high_gain, tAttenuator attenuation)
{
    const auto raw = static_cast<uint16_t>((attenuation & c_attenuationMask) | (bandwidth & 7) << c_bandwidthShift |
                                           (full_power ? 0 : c_fullPowerOff) | (high_gain ? c_highGain : 0));
    return SetRaw(raw);
}

bool LMH6518::Get(bool& full_power, tFilterBandwidth& bandwidth, bool& high_gain, tAttenuator& attenuation)
{
    uint16_t raw = 0;
    GetRaw(raw);
    full_power = (raw & c_fullPowerOff) == 0;
    high_gain = (raw & c_highGain) != 0;
    bandwidth = static_cast<tFilterBandwidth>((raw & c_bandwidthMask) >> c_bandwidthShift);
    attenuation = static_cast<tAttenuator>(raw & c_attenuationMask);
    return true;
}

bool LMH6518::SetAttenuation(const tAttenuator& attenuation)
{
    BusControllerLocker lock(m_controller);
    uint16_t raw = 0;
    GetRaw(raw);
    // Masked: a code above 15 would otherwise set the high-gain and bandwidth bits too.
    return SetRaw(static_cast<uint16_t>((raw & ~c_attenuationMask) | (attenuation & c_attenuationMask)));
}

bool LMH6518::GetAttenuation(tAttenuator& attenuation)
{
    uint16_t raw = 0;
    GetRaw(raw);
    attenuation = static_cast<tAttenuator>(raw & c_attenuationMask);
    return true;
}

bool LMH6518::SetFilterBandWidth(const tFilterBandwidth& bandwidth)
{
    BusControllerLocker lock(m_controller);
    uint16_t raw = 0;
    GetRaw(raw);
    return SetRaw(static_cast<uint16_t>((raw & ~c_bandwidthMask) | ((bandwidth << c_bandwidthShift) & c_bandwidthMask)));
}

bool LMH6518::GetFilterBandWidth(tFilterBandwidth& bandwidth)
{
    uint16_t raw = 0;
    GetRaw(raw);
    bandwidth = static_cast<tFilterBandwidth>((raw & c_bandwidthMask) >> c_bandwidthShift);
    return true;
}

bool LMH6518::SetHiGain(bool on)
{
    BusControllerLocker lock(m_controller);
    uint16_t raw = 0;
    GetRaw(raw);
    return SetRaw(static_cast<uint16_t>(on ? raw | c_highGain : raw & ~c_highGain));
}

bool LMH6518::GetHiGain(bool& on)
{
    uint16_t raw = 0;
    GetRaw(raw);
    on = (raw & c_highGain) != 0;
    return true;
}

bool LMH6518::SetFullPower(bool on)
{
    BusControllerLocker lock(m_controller);
    uint16_t raw = 0;
    GetRaw(raw);
    return SetRaw(static_cast<uint16_t>(on ? raw & ~c_fullPowerOff : raw | c_fullPowerOff));
}

bool LMH6518::GetFullPower(bool& on)
{
    uint16_t raw = 0;
    GetRaw(raw);
    on = (raw & c_fullPowerOff) == 0;
    return true;
}

} // namespace bmc
