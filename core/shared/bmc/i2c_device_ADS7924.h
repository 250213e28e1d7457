#ifndef BMC_I2C_DEVICE_ADS7924_H
#define BMC_I2C_DEVICE_ADS7924_H

// The four-channel 12-bit I2C ADC with alarm limits. Each setting is one register field; a
// conversion result is read on demand, switching the converter's mode and multiplexer first as
// its present mode requires, all under the bus controller's lock so that no other transfer falls
// between the switching and the reading. Enumeration values are written into their fields as
// they are (the channel masked to its two bits); the names belong to the wrapper.

#include <atomic>
#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/i2c_device.h"

namespace bmc {

class BMC_API ADS7924 : public I2cDevice {
public:
    enum tChannel : int32_t { eChannel0 = 0, eChannel1 = 1, eChannel2 = 2, eChannel3 = 3 };
    // The 6-bit mode field of register 0.
    enum tMode : int32_t {
        eIdle = 0,
        eAwake = 32,
        eManualSingle = 48,
        eAutoSingle = 49,
        eManualScan = 50,
        eAutoScan = 51,
        eAutoSingleSleep = 57,
        eAutoScanSleep = 59,
        eAutoBurstSleep = 63
    };
    // Raw field values.
    enum tSleepTime : int32_t {};         // 3 bits
    enum tConversionMode : int32_t {};    // 1 bit
    enum tAcquireTime : int32_t {};       // 5 bits
    enum tPwrMuxoutMode : int32_t {};     // 1 bit
    enum tPwrPinPolarity : int32_t {};    // 1 bit
    enum tPwrPinMode : int32_t {};        // 1 bit
    enum tPwrUpTime : int32_t {};         // 5 bits
    enum tAlarmCounter : int32_t {};      // 3 bits
    enum tIntPinConfig : int32_t {};      // 3 bits
    enum tIntPolarity : int32_t {};       // 1 bit
    enum tIntTriggeringMode : int32_t {}; // 1 bit

    ADS7924(BusController& controller, const std::string& name, BusDeviceId id, uint8_t address, uint8_t bus);
    ~ADS7924() override;

    // Whole-register setters (fields not named written 0) and getters split into fields.
    bool SetPwrUpConfiguration(tPwrMuxoutMode mux, tPwrPinPolarity polarity, tPwrPinMode mode, tPwrUpTime time);
    bool GetPwrUpConfiguration(tPwrMuxoutMode& mux, tPwrPinPolarity& polarity, tPwrPinMode& mode,
                               tPwrUpTime& time) const;
    bool SetAcquireConfiguration(tAcquireTime time);
    bool GetAcquireConfiguration(tAcquireTime& time) const;
    bool SetSleepConfiguration(tSleepTime time, bool divideBy4, bool multiplyBy8, tConversionMode mode);
    bool GetSleepConfiguration(tSleepTime& time, bool& divideBy4, bool& multiplyBy8, tConversionMode& mode) const;
    bool SetInterruptConfiguration(tAlarmCounter counter, tIntPinConfig pin, tIntPolarity polarity,
                                   tIntTriggeringMode trigger);
    bool GetInterruptConfiguration(tAlarmCounter& counter, tIntPinConfig& pin, tIntPolarity& polarity,
                                   tIntTriggeringMode& trigger) const;
    bool SetUpperLimit(tChannel channel, uint8_t value);
    bool SetLowerLimit(tChannel channel, uint8_t value);
    uint8_t GetUpperLimit(tChannel channel) const;
    uint8_t GetLowerLimit(tChannel channel) const;
    // Register numbers, no transfer; a channel outside 1..3 gives channel 0's.
    static uint8_t GetUpperLimitRegister(tChannel channel);
    static uint8_t GetLowerLimitRegister(tChannel channel);
    tChannel GetLastAcquiredChannel() const;
    tMode GetMode() const;
    uint8_t GetDeviceId() const;
    // Register 1: the status nibble and the enable nibble, or channel n's bit of each.
    bool GetAlarmStatus(uint8_t& status, uint8_t& enabled) const;
    bool GetAlarmStatus(tChannel channel, bool& status, bool& enabled) const;

    // Software reset, then 1 ms for the chip; the alarm-enable copy stays.
    void Reset();
    // Writes the enables (bits 3..0) to register 1 and keeps them; the getters answer the copy.
    void SetAlarmEnabled(uint8_t bits);
    void SetAlarmEnabled(tChannel channel, const bool& enabled);
    uint8_t GetAlarmEnabled() const;
    bool GetAlarmEnabled(tChannel channel) const;

    // Register 0 read-modify-writes under the bus lock: the multiplexer channel, or the mode
    // entered through awake.
    void SetChannelOnMuxOutput(tChannel channel);
    void SetMode(tMode mode);
    // Microseconds: the code's base time, × 8 with the multiply flag, then / 4 with the divide
    // flag.
    uint32_t GetSleepTime() const;
    // The channel's 12-bit result, converting first when the mode needs it.
    uint16_t GetConversionData(tChannel channel);

private:
    std::atomic<uint8_t> m_alarm_enabled{0};
};

} // namespace bmc

#endif
