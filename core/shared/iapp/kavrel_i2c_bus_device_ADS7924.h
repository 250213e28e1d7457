#ifndef IAPP_KAVREL_I2C_BUS_DEVICE_ADS7924_H
#define IAPP_KAVREL_I2C_BUS_DEVICE_ADS7924_H

// The ADS7924 four-channel 12-bit ADC with alarm limits on an I2C bus. Nodes under the wrapper's
// node (enumerations by the names of their tables; flags 6, or 2 where read-only):
//   "device_id"              uint32, read-only
//   "mode"                   "idle", "awake", "manual_single", "manual_scan", "auto_single",
//                            "auto_scan", "auto_single_sleep", "auto_scan_sleep", "auto_burst_sleep"
//   "last_acquired_channel"  "channel_0" .. "channel_3", read-only
//   "calibration_channel"    "channel_0" .. "channel_3" or "gnd" routed to the mux output; reads
//                            what was set last (the chip is not asked)
//   "sleep_time"             "625us" .. "2560ms" (13 times), the chip's code and its divide-by-4
//                            and multiply-by-8 flags
//   "conv_mode"              "continuous" or "single"
//   "acquire_time"           "6us" .. "36us" (2 µs steps)
//   "power/up_time"          "0us" .. "30us" (2 µs steps)
//   "power/out_pin/polarity" "low" or "high"
//   "power/out_pin/enable"   bool
//   "interrupt/alarm_counter" "every", "1" .. "7"
//   "interrupt/mode"         "alarm_alarm", "busy_alarm", "single_single", "busy_single", "off",
//                            "unused", "all_all", "busy_all"
//   "interrupt/polarity"     "low" or "high"
//   "interrupt/trigger_mode" "level" or "edge"
//   "reset"                  command: software reset of the chip
//   "channels/A" .. "channels/D", inputs 0 to 3, each with
//     "data" (uint32, read-only: the 12-bit conversion result, converting first when the mode
//     needs it), "alarm/limits/lower" and "alarm/limits/upper" (uint32: the 8-bit limit, a write
//     keeps the low 8 bits), "alarm/status" (bool, read-only) and "alarm/enabled" (bool)
// Construction routes ground to the mux output and disables every alarm, so it fails with the
// bus's exception when the chip does not answer.
//
// Several settings share one configuration register, which a setter reads and writes back with
// its own field changed. Those read-modify-writes are serialised by the wrapper, so sets of
// different nodes that share a register (the interrupt's "mode" and "polarity") never undo each
// other; the wrapper's lock is taken inside the node's lock and around bus transfers only.
//
// The public setters go through the nodes once the registry is defined (validation and
// notification as for a client; a refusal throws with the node's prefix) and straight to the
// chip before.

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "bmc/i2c_device_ADS7924.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_i2c_bus_device.h"
#include "istd/enum_map.h"
#include "mci/types.h"

namespace iapp {

// One input of the converter and its nodes.
class IAPP_API ADS7924Channel {
public:
    ADS7924Channel(bmc::ADS7924* driver, bmc::ADS7924::tChannel channel);

    // The 12-bit conversion result.
    bool GetData(uint32_t& value) const;
    bool GetAlarmStatus(bool& status) const;
    bool GetAlarmEnabled(bool& enabled) const;
    bool SetAlarmEnabled(const bool& enabled);
    // The 8-bit limits; a set writes the low 8 bits.
    bool GetUpperLimit(uint32_t& value) const;
    bool SetUpperLimit(const uint32_t& value);
    bool GetLowerLimit(uint32_t& value) const;
    bool SetLowerLimit(const uint32_t& value);

    // Adds the input's branch, named "A" to "D", under parent.
    void DefineRegistry(mci::TreeNodePtr parent);

private:
    bmc::ADS7924* m_driver;
    bmc::ADS7924::tChannel m_channel;
};

class IAPP_API ADS7924 : public KavrelI2cBusDevice {
public:
    // What the mux output shows: an input, or ground.
    enum tCalibrationChannel : int32_t { eCalChannel0 = 0, eCalChannel1, eCalChannel2, eCalChannel3, eCalGnd };
    // A sleep time in microseconds; the 13 times of sleep_times.
    enum tSleepTime : int32_t {};

    // One way of setting a sleep time: the chip's 3-bit code and its two flags.
    struct tSleepTimeData {
        bmc::ADS7924::tSleepTime sleepTime;
        bool divideBy4;
        bool multiplyBy8;
    };

    // The converter at the 7-bit I2C address on the controller's bus number bus.
    ADS7924(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
            uint8_t bus);
    ~ADS7924() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // Through the node when it exists, else straight to the chip.
    void SetMode(const bmc::ADS7924::tMode& mode);
    void SetCalibrationChannel(const tCalibrationChannel& channel);
    void SetSleepTime(const tSleepTime& time);
    void SetConversionMode(const bmc::ADS7924::tConversionMode& mode);
    void SetAcquireTime(const bmc::ADS7924::tAcquireTime& time);
    void SetPwrUpTime(const bmc::ADS7924::tPwrUpTime& time);
    void SetPwrPinPolarity(const bmc::ADS7924::tPwrPinPolarity& polarity);
    void SetPwrPinEnable(const bool& enable);

    // Software reset of the chip.
    void Reset();

private:
    bool _GetDeviceId(uint32_t& id) const;
    bool _GetMode(bmc::ADS7924::tMode& mode) const;
    bool _SetMode(const bmc::ADS7924::tMode& mode);
    bool _GetLastAcquiredChannel(bmc::ADS7924::tChannel& channel) const;
    bool _GetCalibrationChannel(tCalibrationChannel& channel) const;
    bool _SetCalibrationChannel(const tCalibrationChannel& channel);
    bool _GetSleepTime(tSleepTime& time) const;
    // A time that is not in sleep_times: "Sleep time <t> is not supported.", the chip untouched.
    bool _SetSleepTime(const tSleepTime& time);
    bool _GetConversionMode(bmc::ADS7924::tConversionMode& mode) const;
    bool _SetConversionMode(const bmc::ADS7924::tConversionMode& mode);
    bool _GetAcquireTime(bmc::ADS7924::tAcquireTime& time) const;
    bool _SetAcquireTime(const bmc::ADS7924::tAcquireTime& time);
    bool _GetPwrUpTime(bmc::ADS7924::tPwrUpTime& time) const;
    bool _SetPwrUpTime(const bmc::ADS7924::tPwrUpTime& time);
    bool _GetPwrPinPolarity(bmc::ADS7924::tPwrPinPolarity& polarity) const;
    bool _SetPwrPinPolarity(const bmc::ADS7924::tPwrPinPolarity& polarity);
    bool _GetPwrPinEnable(bool& enable) const;
    bool _SetPwrPinEnable(const bool& enable);
    bool _GetIntAlarmCounter(bmc::ADS7924::tAlarmCounter& counter) const;
    bool _SetIntAlarmCounter(const bmc::ADS7924::tAlarmCounter& counter);
    bool _GetIntPinConfig(bmc::ADS7924::tIntPinConfig& config) const;
    bool _SetIntPinConfig(const bmc::ADS7924::tIntPinConfig& config);
    bool _GetIntPolarity(bmc::ADS7924::tIntPolarity& polarity) const;
    bool _SetIntPolarity(const bmc::ADS7924::tIntPolarity& polarity);
    bool _GetIntTrigMode(bmc::ADS7924::tIntTriggeringMode& mode) const;
    bool _SetIntTrigMode(const bmc::ADS7924::tIntTriggeringMode& mode);

    // The power-up (register 0x15), sleep (0x13) and interrupt (0x12) configurations, changed
    // by one field under m_config.
    struct PowerUp;
    struct Sleep;
    struct Interrupt;
    template <class Config, class Change>
    bool _Change(Change change);
    template <class Config>
    Config _Read() const;

    // Sets the value through node when it is an enumeration node of E, else calls direct.
    template <class E>
    void _SetThrough(const mci::TreeNodePtr& node, const E& value, bool (ADS7924::*direct)(const E&));

    bmc::ADS7924& m_driver;
    std::array<ADS7924Channel, 4> m_channels;
    mci::TreeNodePtr m_deviceId;
    mci::TreeNodePtr m_mode;
    mci::TreeNodePtr m_lastAcquiredChannel;
    mci::TreeNodePtr m_calibrationChannel;
    mci::TreeNodePtr m_sleepTime;
    mci::TreeNodePtr m_convMode;
    mci::TreeNodePtr m_acquireTime;
    mci::TreeNodePtr m_pinPolarity;
    mci::TreeNodePtr m_pinEnable;
    mci::TreeNodePtr m_upTime;
    mci::TreeNodePtr m_alarmCounter;
    mci::TreeNodePtr m_intMode;
    mci::TreeNodePtr m_intPolarity;
    mci::TreeNodePtr m_triggerMode;
    std::atomic<tCalibrationChannel> m_calibrationChannelValue{eCalGnd};
    // Serialises the read-modify-writes of the shared configuration registers.
    std::mutex m_config;
};

// The 13 sleep times the chip can be set to, each by its code and flags.
IAPP_API extern const std::map<ADS7924::tSleepTime, ADS7924::tSleepTimeData> sleep_times;

} // namespace iapp

ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tMode)
ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tChannel)
ISTD_ENUM_TABLE_DECL(iapp::ADS7924::tCalibrationChannel)
ISTD_ENUM_TABLE_DECL(iapp::ADS7924::tSleepTime)
ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tAcquireTime)
ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tPwrUpTime)
ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tConversionMode)
ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tPwrPinPolarity)
ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tAlarmCounter)
ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tIntPinConfig)
ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tIntPolarity)
ISTD_ENUM_TABLE_DECL(bmc::ADS7924::tIntTriggeringMode)

#endif
