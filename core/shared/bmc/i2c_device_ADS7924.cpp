#include "bmc/i2c_device_ADS7924.h"

#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/bus_sleep.h"

namespace bmc {

namespace {

constexpr uint8_t c_regMode = 0;
constexpr uint8_t c_regAlarm = 1;
constexpr uint8_t c_regData = 2;   // + 2 × channel: bits 11..4, then bits 3..0
constexpr uint8_t c_regLimits = 10; // + 2 × channel: upper, lower
constexpr uint8_t c_regInterrupt = 18;
constexpr uint8_t c_regSleep = 19;
constexpr uint8_t c_regAcquire = 20;
constexpr uint8_t c_regPowerUp = 21;
constexpr uint8_t c_regReset = 22;
constexpr uint8_t c_awakeBits = 0x80; // the awake mode in register 0

// Channels 1..3 by number; channel 0 and anything else give channel 0.
unsigned _Index(ADS7924::tChannel channel)
{
    return channel >= 1 && channel <= 3 ? static_cast<unsigned>(channel) : 0;
}

uint8_t _ModeBits(ADS7924::tMode mode, unsigned channel)
{
    return static_cast<uint8_t>(static_cast<unsigned>(mode) << 2 | (channel & 3));
}

} // namespace

ADS7924::ADS7924(BusController& controller, const std::string& name, BusDeviceId id, uint8_t address, uint8_t bus)
    : I2cDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::ADS7924::ADS7924(bmc::BusController&, const std::string&, bmc::BusDeviceId, uint8_t, uint8_t)");
    SetBusParam<I2cBusParams>(*this, address, bus, 100);
}

ADS7924::~ADS7924()
{
    ISTD_TRACE_FNC("virtual bmc::ADS7924::~ADS7924()");
}

bool ADS7924::SetPwrUpConfiguration(tPwrMuxoutMode mux, tPwrPinPolarity polarity, tPwrPinMode mode, tPwrUpTime time)
{
    Set(c_regPowerUp, static_cast<uint8_t>(mux << 7 | (polarity << 6 & 0x40) | (mode << 5 & 0x20) | (time & 0x1F)));
    return true;
}

bool ADS7924::GetPwrUpConfiguration(tPwrMuxoutMode& mux, tPwrPinPolarity& polarity, tPwrPinMode& mode,
                                    tPwrUpTime& time) const
{
    const uint8_t value = Get(c_regPowerUp);
    mux = static_cast<tPwrMuxoutMode>(value >> 7 & 1);
    polarity = static_cast<tPwrPinPolarity>(value >> 6 & 1);
    mode = static_cast<tPwrPinMode>(value >> 5 & 1);
    time = static_cast<tPwrUpTime>(value & 0x1F);
    return true;
}

bool ADS7924::SetAcquireConfiguration(tAcquireTime time)
{
    Set(c_regAcquire, static_cast<uint8_t>(time & 0x1F));
    return true;
}

bool ADS7924::GetAcquireConfiguration(tAcquireTime& time) const
{
    time = static_cast<tAcquireTime>(Get(c_regAcquire) & 0x1F);
    return true;
}

bool ADS7924::SetSleepConfiguration(tSleepTime time, bool divideBy4, bool multiplyBy8, tConversionMode mode)
{
    Set(c_regSleep, static_cast<uint8_t>((time & 7) | (divideBy4 ? 0x20 : 0) | (multiplyBy8 ? 0x10 : 0) |
                                         (mode << 6 & 0x40)));
    return true;
}

bool ADS7924::GetSleepConfiguration(tSleepTime& time, bool& divideBy4, bool& multiplyBy8, tConversionMode& mode) const
{
    const uint8_t value = Get(c_regSleep);
    time = static_cast<tSleepTime>(value & 7);
    divideBy4 = (value & 0x20) != 0;
    multiplyBy8 = (value & 0x10) != 0;
    mode = static_cast<tConversionMode>(value >> 6 & 1);
    return true;
}

bool ADS7924::SetInterruptConfiguration(tAlarmCounter counter, tIntPinConfig pin, tIntPolarity polarity,
                                        tIntTriggeringMode trigger)
{
    Set(c_regInterrupt,
        static_cast<uint8_t>(counter << 5 | (pin << 2 & 0x1C) | (polarity << 1 & 0x02) | (trigger & 1)));
    return true;
}

bool ADS7924::GetInterruptConfiguration(tAlarmCounter& counter, tIntPinConfig& pin, tIntPolarity& polarity,
                                        tIntTriggeringMode& trigger) const
{
    const uint8_t value = Get(c_regInterrupt);
    counter = static_cast<tAlarmCounter>(value >> 5 & 7);
    pin = static_cast<tIntPinConfig>(value >> 2 & 7);
    polarity = static_cast<tIntPolarity>(value >> 1 & 1);
    trigger = static_cast<tIntTriggeringMode>(value & 1);
    return true;
}

uint8_t ADS7924::GetUpperLimitRegister(tChannel channel)
{
    return static_cast<uint8_t>(c_regLimits + 2 * _Index(channel));
}

uint8_t ADS7924::GetLowerLimitRegister(tChannel channel)
{
    return static_cast<uint8_t>(c_regLimits + 2 * _Index(channel) + 1);
}

bool ADS7924::SetUpperLimit(tChannel channel, uint8_t value)
{
    Set(GetUpperLimitRegister(channel), value);
    return true;
}

bool ADS7924::SetLowerLimit(tChannel channel, uint8_t value)
{
    Set(GetLowerLimitRegister(channel), value);
    return true;
}

uint8_t ADS7924::GetUpperLimit(tChannel channel) const
{
    return Get(GetUpperLimitRegister(channel));
}

uint8_t ADS7924::GetLowerLimit(tChannel channel) const
{
    return Get(GetLowerLimitRegister(channel));
}

ADS7924::tChannel ADS7924::GetLastAcquiredChannel() const
{
    return static_cast<tChannel>(Get(c_regMode) & 3);
}

ADS7924::tMode ADS7924::GetMode() const
{
    return static_cast<tMode>(Get(c_regMode) >> 2);
}

uint8_t ADS7924::GetDeviceId() const
{
    return Get(c_regReset);
}

bool ADS7924::GetAlarmStatus(uint8_t& status, uint8_t& enabled) const
{
    const uint8_t value = Get(c_regAlarm);
    status = value >> 4;
    enabled = value & 0x0F;
    return true;
}

bool ADS7924::GetAlarmStatus(tChannel channel, bool& status, bool& enabled) const
{
    const unsigned bit = static_cast<unsigned>(channel) & 3;
    const uint8_t value = Get(c_regAlarm);
    status = (value >> (4 + bit) & 1) != 0;
    enabled = (value >> bit & 1) != 0;
    return true;
}

void ADS7924::Reset()
{
    Set(c_regReset, 0xAA);
    BusSleep(1000);
}

void ADS7924::SetAlarmEnabled(uint8_t bits)
{
    const uint8_t enabled = bits & 0x0F;
    Set(c_regAlarm, enabled);
    m_alarm_enabled.store(enabled, std::memory_order_relaxed);
}

void ADS7924::SetAlarmEnabled(tChannel channel, const bool& enabled)
{
    const uint8_t bit = static_cast<uint8_t>(1u << (static_cast<unsigned>(channel) & 3));
    BusControllerLocker lock(m_controller);
    const uint8_t bits = m_alarm_enabled.load(std::memory_order_relaxed);
    SetAlarmEnabled(static_cast<uint8_t>(enabled ? bits | bit : bits & ~bit));
}

uint8_t ADS7924::GetAlarmEnabled() const
{
    return m_alarm_enabled.load(std::memory_order_relaxed);
}

bool ADS7924::GetAlarmEnabled(tChannel channel) const
{
    return (GetAlarmEnabled() >> (static_cast<unsigned>(channel) & 3) & 1) != 0;
}

void ADS7924::SetChannelOnMuxOutput(tChannel channel)
{
    BusControllerLocker lock(m_controller);
    const uint8_t value = Get(c_regMode);
    Set(c_regMode, static_cast<uint8_t>((value & 0xFC) | (static_cast<unsigned>(channel) & 3)));
}

void ADS7924::SetMode(tMode mode)
{
    BusControllerLocker lock(m_controller);
    const unsigned channel = Get(c_regMode) & 3;
    Set(c_regMode, static_cast<uint8_t>(c_awakeBits | channel));
    if (mode != eAwake) {
        Set(c_regMode, _ModeBits(mode, channel));
    }
}

uint32_t ADS7924::GetSleepTime() const
{
    static const uint32_t c_base[8] = {2500, 5000, 10000, 20000, 40000, 80000, 160000, 320000};
    const uint8_t value = Get(c_regSleep);
    uint32_t time = c_base[value & 7];
    if (value & 0x10) {
        time *= 8;
    }
    if (value & 0x20) {
        time /= 4;
    }
    return time;
}

uint16_t ADS7924::GetConversionData(tChannel channel)
{
    ISTD_TRACE_FNC("uint16_t bmc::ADS7924::GetConversionData(bmc::ADS7924::tChannel)");
    BusControllerLocker lock(m_controller);
    const uint8_t modeReg = Get(c_regMode);
    const tMode mode = static_cast<tMode>(modeReg >> 2);
    const unsigned n = static_cast<unsigned>(channel) & 3;
    switch (mode) {
    case eIdle:
    case eAwake:
        SetMode(eManualSingle);
        SetChannelOnMuxOutput(channel);
        break;
    case eManualSingle:
        SetChannelOnMuxOutput(channel);
        break;
    case eAutoSingle:
    case eAutoSingleSleep:
        if ((modeReg & 3) != n) {
            Set(c_regMode, static_cast<uint8_t>(c_awakeBits | n));
            Set(c_regMode, _ModeBits(mode, n));
        }
        break;
    case eManualScan:
        SetChannelOnMuxOutput(eChannel0);
        break;
    default:
        break;
    }
    const uint8_t high = static_cast<uint8_t>(c_regData + 2 * _Index(channel));
    const uint8_t low = Get(static_cast<uint8_t>(high + 1));
    const uint8_t highValue = Get(high);
    if (mode == eIdle || mode == eAwake) {
        SetMode(mode);
    }
    return static_cast<uint16_t>(highValue << 4 | low >> 4);
}

} // namespace bmc
