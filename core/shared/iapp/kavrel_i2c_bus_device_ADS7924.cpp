#include "iapp/kavrel_i2c_bus_device_ADS7924.h"

#include <memory>

#include "ireg/reg_enum_node.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace {

using Adc = bmc::ADS7924;

} // namespace

ISTD_ENUM_TABLE(bmc::ADS7924::tMode, {Adc::eIdle, "idle"}, {Adc::eAwake, "awake"},
                {Adc::eManualSingle, "manual_single"}, {Adc::eManualScan, "manual_scan"},
                {Adc::eAutoSingle, "auto_single"}, {Adc::eAutoScan, "auto_scan"},
                {Adc::eAutoSingleSleep, "auto_single_sleep"}, {Adc::eAutoScanSleep, "auto_scan_sleep"},
                {Adc::eAutoBurstSleep, "auto_burst_sleep"});
ISTD_ENUM_TABLE(bmc::ADS7924::tChannel, {Adc::eChannel0, "channel_0"}, {Adc::eChannel1, "channel_1"},
                {Adc::eChannel2, "channel_2"}, {Adc::eChannel3, "channel_3"});
ISTD_ENUM_TABLE(iapp::ADS7924::tCalibrationChannel, {iapp::ADS7924::eCalChannel0, "channel_0"},
                {iapp::ADS7924::eCalChannel1, "channel_1"}, {iapp::ADS7924::eCalChannel2, "channel_2"},
                {iapp::ADS7924::eCalChannel3, "channel_3"}, {iapp::ADS7924::eCalGnd, "gnd"});
ISTD_ENUM_TABLE(iapp::ADS7924::tSleepTime, {iapp::ADS7924::tSleepTime(625), "625us"},
                {iapp::ADS7924::tSleepTime(1250), "1250us"}, {iapp::ADS7924::tSleepTime(2500), "2500us"},
                {iapp::ADS7924::tSleepTime(5000), "5ms"}, {iapp::ADS7924::tSleepTime(10000), "10ms"},
                {iapp::ADS7924::tSleepTime(20000), "20ms"}, {iapp::ADS7924::tSleepTime(40000), "40ms"},
                {iapp::ADS7924::tSleepTime(80000), "80ms"}, {iapp::ADS7924::tSleepTime(160000), "160ms"},
                {iapp::ADS7924::tSleepTime(320000), "320ms"}, {iapp::ADS7924::tSleepTime(640000), "640ms"},
                {iapp::ADS7924::tSleepTime(1280000), "1280ms"}, {iapp::ADS7924::tSleepTime(2560000), "2560ms"});
ISTD_ENUM_TABLE(bmc::ADS7924::tAcquireTime, {Adc::tAcquireTime(0), "6us"}, {Adc::tAcquireTime(1), "8us"},
                {Adc::tAcquireTime(2), "10us"}, {Adc::tAcquireTime(3), "12us"}, {Adc::tAcquireTime(4), "14us"},
                {Adc::tAcquireTime(5), "16us"}, {Adc::tAcquireTime(6), "18us"}, {Adc::tAcquireTime(7), "20us"},
                {Adc::tAcquireTime(8), "22us"}, {Adc::tAcquireTime(9), "24us"}, {Adc::tAcquireTime(10), "26us"},
                {Adc::tAcquireTime(11), "28us"}, {Adc::tAcquireTime(12), "30us"}, {Adc::tAcquireTime(13), "32us"},
                {Adc::tAcquireTime(14), "34us"}, {Adc::tAcquireTime(15), "36us"});
ISTD_ENUM_TABLE(bmc::ADS7924::tPwrUpTime, {Adc::tPwrUpTime(0), "0us"}, {Adc::tPwrUpTime(1), "2us"},
                {Adc::tPwrUpTime(2), "4us"}, {Adc::tPwrUpTime(3), "6us"}, {Adc::tPwrUpTime(4), "8us"},
                {Adc::tPwrUpTime(5), "10us"}, {Adc::tPwrUpTime(6), "12us"}, {Adc::tPwrUpTime(7), "14us"},
                {Adc::tPwrUpTime(8), "16us"}, {Adc::tPwrUpTime(9), "18us"}, {Adc::tPwrUpTime(10), "20us"},
                {Adc::tPwrUpTime(11), "22us"}, {Adc::tPwrUpTime(12), "24us"}, {Adc::tPwrUpTime(13), "26us"},
                {Adc::tPwrUpTime(14), "28us"}, {Adc::tPwrUpTime(15), "30us"});
ISTD_ENUM_TABLE(bmc::ADS7924::tConversionMode, {Adc::tConversionMode(0), "continuous"},
                {Adc::tConversionMode(1), "single"});
ISTD_ENUM_TABLE(bmc::ADS7924::tPwrPinPolarity, {Adc::tPwrPinPolarity(0), "low"}, {Adc::tPwrPinPolarity(1), "high"});
ISTD_ENUM_TABLE(bmc::ADS7924::tAlarmCounter, {Adc::tAlarmCounter(0), "every"}, {Adc::tAlarmCounter(1), "1"},
                {Adc::tAlarmCounter(2), "2"}, {Adc::tAlarmCounter(3), "3"}, {Adc::tAlarmCounter(4), "4"},
                {Adc::tAlarmCounter(5), "5"}, {Adc::tAlarmCounter(6), "6"}, {Adc::tAlarmCounter(7), "7"});
ISTD_ENUM_TABLE(bmc::ADS7924::tIntPinConfig, {Adc::tIntPinConfig(0), "alarm_alarm"},
                {Adc::tIntPinConfig(1), "busy_alarm"}, {Adc::tIntPinConfig(2), "single_single"},
                {Adc::tIntPinConfig(3), "busy_single"}, {Adc::tIntPinConfig(4), "off"},
                {Adc::tIntPinConfig(5), "unused"}, {Adc::tIntPinConfig(6), "all_all"},
                {Adc::tIntPinConfig(7), "busy_all"});
ISTD_ENUM_TABLE(bmc::ADS7924::tIntPolarity, {Adc::tIntPolarity(0), "low"}, {Adc::tIntPolarity(1), "high"});
ISTD_ENUM_TABLE(bmc::ADS7924::tIntTriggeringMode, {Adc::tIntTriggeringMode(0), "level"},
                {Adc::tIntTriggeringMode(1), "edge"});

namespace iapp {

namespace {

constexpr mci::Flags c_readWrite = 6;
constexpr mci::Flags c_readOnly = 2;

// Mux-out mode 1 shows ground on the mux output, 0 the selected input.
constexpr Adc::tPwrMuxoutMode c_muxGround = Adc::tPwrMuxoutMode(1);
constexpr Adc::tPwrMuxoutMode c_muxInput = Adc::tPwrMuxoutMode(0);

ADS7924::tSleepTimeData _Row(int32_t code, bool divideBy4, bool multiplyBy8)
{
    return {Adc::tSleepTime(code), divideBy4, multiplyBy8};
}

mci::TreeNodePtr _Branch(const mci::TreeNodePtr& parent, const std::string& name)
{
    return parent->Add(mci::factory::Create<ireg::RegNode>(name, mci::Flags(0)));
}

} // namespace

const std::map<ADS7924::tSleepTime, ADS7924::tSleepTimeData> sleep_times = {
    {ADS7924::tSleepTime(625), _Row(0, true, false)},       {ADS7924::tSleepTime(1250), _Row(1, true, false)},
    {ADS7924::tSleepTime(2500), _Row(0, false, false)},     {ADS7924::tSleepTime(5000), _Row(1, false, false)},
    {ADS7924::tSleepTime(10000), _Row(2, false, false)},    {ADS7924::tSleepTime(20000), _Row(3, false, false)},
    {ADS7924::tSleepTime(40000), _Row(4, false, false)},    {ADS7924::tSleepTime(80000), _Row(5, false, false)},
    {ADS7924::tSleepTime(160000), _Row(6, false, false)},   {ADS7924::tSleepTime(320000), _Row(7, false, false)},
    {ADS7924::tSleepTime(640000), _Row(7, true, true)},     {ADS7924::tSleepTime(1280000), _Row(6, false, true)},
    {ADS7924::tSleepTime(2560000), _Row(7, false, true)},
};

// ------------------------------------------------------------------------------ configurations

struct ADS7924::PowerUp {
    Adc::tPwrMuxoutMode mux{};
    Adc::tPwrPinPolarity polarity{};
    Adc::tPwrPinMode pinMode{};
    Adc::tPwrUpTime time{};

    void Read(const Adc& driver) { driver.GetPwrUpConfiguration(mux, polarity, pinMode, time); }
    void Write(Adc& driver) const { driver.SetPwrUpConfiguration(mux, polarity, pinMode, time); }
};

struct ADS7924::Sleep {
    Adc::tSleepTime code{};
    bool divideBy4 = false;
    bool multiplyBy8 = false;
    Adc::tConversionMode mode{};

    void Read(const Adc& driver) { driver.GetSleepConfiguration(code, divideBy4, multiplyBy8, mode); }
    void Write(Adc& driver) const { driver.SetSleepConfiguration(code, divideBy4, multiplyBy8, mode); }
};

struct ADS7924::Interrupt {
    Adc::tAlarmCounter counter{};
    Adc::tIntPinConfig pin{};
    Adc::tIntPolarity polarity{};
    Adc::tIntTriggeringMode trigger{};

    void Read(const Adc& driver) { driver.GetInterruptConfiguration(counter, pin, polarity, trigger); }
    void Write(Adc& driver) const { driver.SetInterruptConfiguration(counter, pin, polarity, trigger); }
};

template <class Config>
Config ADS7924::_Read() const
{
    Config config;
    config.Read(m_driver);
    return config;
}

template <class Config, class Change>
bool ADS7924::_Change(Change change)
{
    // Without the lock two sets of fields of one register (from two nodes, each under its own
    // lock) could both read the old register, and the second write would undo the first.
    std::lock_guard<std::mutex> lock(m_config);
    Config config = _Read<Config>();
    change(config);
    config.Write(m_driver);
    return true;
}

// ------------------------------------------------------------------------------------ channels

ADS7924Channel::ADS7924Channel(bmc::ADS7924* driver, bmc::ADS7924::tChannel channel)
    : m_driver(driver), m_channel(channel)
{
}

bool ADS7924Channel::GetData(uint32_t& value) const
{
    value = m_driver->GetConversionData(m_channel) & 0xFFFF;
    return true;
}

bool ADS7924Channel::GetAlarmStatus(bool& status) const
{
    bool enabled = false;
    m_driver->GetAlarmStatus(m_channel, status, enabled);
    return true;
}

bool ADS7924Channel::GetAlarmEnabled(bool& enabled) const
{
    enabled = m_driver->GetAlarmEnabled(m_channel);
    return true;
}

bool ADS7924Channel::SetAlarmEnabled(const bool& enabled)
{
    m_driver->SetAlarmEnabled(m_channel, enabled);
    return true;
}

bool ADS7924Channel::GetUpperLimit(uint32_t& value) const
{
    value = m_driver->GetUpperLimit(m_channel);
    return true;
}

bool ADS7924Channel::SetUpperLimit(const uint32_t& value)
{
    m_driver->SetUpperLimit(m_channel, static_cast<uint8_t>(value));
    return true;
}

bool ADS7924Channel::GetLowerLimit(uint32_t& value) const
{
    value = m_driver->GetLowerLimit(m_channel);
    return true;
}

bool ADS7924Channel::SetLowerLimit(const uint32_t& value)
{
    m_driver->SetLowerLimit(m_channel, static_cast<uint8_t>(value));
    return true;
}

void ADS7924Channel::DefineRegistry(mci::TreeNodePtr parent)
{
    ISTD_TRACE_FNC("void iapp::ADS7924Channel::DefineRegistry(mci::TreeNodePtr)");
    using Word = ireg::RegFncNode<uint32_t>;
    using Bool = ireg::RegFncNode<bool>;
    const mci::TreeNodePtr input = _Branch(parent, std::string(1, static_cast<char>('A' + m_channel)));
    input->Add(mci::factory::Create<Word>("data", this, 0, &ADS7924Channel::GetData, c_readOnly));
    const mci::TreeNodePtr alarm = _Branch(input, "alarm");
    const mci::TreeNodePtr limits = _Branch(alarm, "limits");
    limits->Add(mci::factory::Create<Word>("lower", this, &ADS7924Channel::SetLowerLimit,
                                           &ADS7924Channel::GetLowerLimit, c_readWrite));
    limits->Add(mci::factory::Create<Word>("upper", this, &ADS7924Channel::SetUpperLimit,
                                           &ADS7924Channel::GetUpperLimit, c_readWrite));
    alarm->Add(mci::factory::Create<Bool>("status", this, 0, &ADS7924Channel::GetAlarmStatus, c_readOnly));
    alarm->Add(mci::factory::Create<Bool>("enabled", this, &ADS7924Channel::SetAlarmEnabled,
                                          &ADS7924Channel::GetAlarmEnabled, c_readWrite));
}

// ------------------------------------------------------------------------------------- wrapper

ADS7924::ADS7924(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
                 uint8_t bus)
    : KavrelI2cBusDevice(controller, bmc::Create<bmc::ADS7924>(controller.GetController(), name, id, address, bus)),
      m_driver(DriverAs<bmc::ADS7924>()),
      m_channels{{ADS7924Channel(&m_driver, Adc::eChannel0), ADS7924Channel(&m_driver, Adc::eChannel1),
                  ADS7924Channel(&m_driver, Adc::eChannel2), ADS7924Channel(&m_driver, Adc::eChannel3)}}
{
    ISTD_TRACE_FNC("iapp::ADS7924::ADS7924(iapp::KavrelI2cBusController&, const std::string&, bmc::BusDeviceId, "
                   "uint8_t, uint8_t)");
    _SetCalibrationChannel(eCalGnd);
    m_driver.SetAlarmEnabled(uint8_t{0});
}

ADS7924::~ADS7924()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " ADS7924");
}

void ADS7924::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::ADS7924::OnRegistryAdd(mci::TreeNodePtr&)");
    using ireg::RegFncEnumNode;
    using mci::factory::Create;
    m_deviceId =
        node->Add(Create<ireg::RegFncNode<uint32_t>>("device_id", this, 0, &ADS7924::_GetDeviceId, c_readOnly));
    m_mode = node->Add(
        Create<RegFncEnumNode<Adc::tMode>>("mode", this, &ADS7924::_SetMode, &ADS7924::_GetMode, c_readWrite));
    m_lastAcquiredChannel = node->Add(Create<RegFncEnumNode<Adc::tChannel>>(
        "last_acquired_channel", this, 0, &ADS7924::_GetLastAcquiredChannel, c_readOnly));
    m_calibrationChannel = node->Add(Create<RegFncEnumNode<tCalibrationChannel>>(
        "calibration_channel", this, &ADS7924::_SetCalibrationChannel, &ADS7924::_GetCalibrationChannel, c_readWrite));
    m_sleepTime = node->Add(Create<RegFncEnumNode<tSleepTime>>("sleep_time", this, &ADS7924::_SetSleepTime,
                                                               &ADS7924::_GetSleepTime, c_readWrite));
    m_convMode = node->Add(Create<RegFncEnumNode<Adc::tConversionMode>>(
        "conv_mode", this, &ADS7924::_SetConversionMode, &ADS7924::_GetConversionMode, c_readWrite));
    m_acquireTime = node->Add(Create<RegFncEnumNode<Adc::tAcquireTime>>(
        "acquire_time", this, &ADS7924::_SetAcquireTime, &ADS7924::_GetAcquireTime, c_readWrite));

    const mci::TreeNodePtr power = _Branch(node, "power");
    m_upTime = power->Add(Create<RegFncEnumNode<Adc::tPwrUpTime>>("up_time", this, &ADS7924::_SetPwrUpTime,
                                                                  &ADS7924::_GetPwrUpTime, c_readWrite));
    const mci::TreeNodePtr pin = _Branch(power, "out_pin");
    m_pinPolarity = pin->Add(Create<RegFncEnumNode<Adc::tPwrPinPolarity>>(
        "polarity", this, &ADS7924::_SetPwrPinPolarity, &ADS7924::_GetPwrPinPolarity, c_readWrite));
    m_pinEnable = pin->Add(Create<ireg::RegFncNode<bool>>("enable", this, &ADS7924::_SetPwrPinEnable,
                                                          &ADS7924::_GetPwrPinEnable, c_readWrite));

    const mci::TreeNodePtr interrupt = _Branch(node, "interrupt");
    m_alarmCounter = interrupt->Add(Create<RegFncEnumNode<Adc::tAlarmCounter>>(
        "alarm_counter", this, &ADS7924::_SetIntAlarmCounter, &ADS7924::_GetIntAlarmCounter, c_readWrite));
    m_intMode = interrupt->Add(Create<RegFncEnumNode<Adc::tIntPinConfig>>(
        "mode", this, &ADS7924::_SetIntPinConfig, &ADS7924::_GetIntPinConfig, c_readWrite));
    m_intPolarity = interrupt->Add(Create<RegFncEnumNode<Adc::tIntPolarity>>(
        "polarity", this, &ADS7924::_SetIntPolarity, &ADS7924::_GetIntPolarity, c_readWrite));
    m_triggerMode = interrupt->Add(Create<RegFncEnumNode<Adc::tIntTriggeringMode>>(
        "trigger_mode", this, &ADS7924::_SetIntTrigMode, &ADS7924::_GetIntTrigMode, c_readWrite));

    node->Add(Create<ireg::RegExecNode>("reset", std::function<bool()>([this] {
                                            Reset();
                                            return true;
                                        })));

    const mci::TreeNodePtr channels = _Branch(node, "channels");
    for (ADS7924Channel& channel : m_channels) {
        channel.DefineRegistry(channels);
    }
}

// ------------------------------------------------------------------------------ public setters

template <class E>
void ADS7924::_SetThrough(const mci::TreeNodePtr& node, const E& value, bool (ADS7924::*direct)(const E&))
{
    if (auto typed = std::dynamic_pointer_cast<ireg::RegFncEnumNode<E>>(node)) {
        typed->Set(value, 0, mci::c_noRelPath);
    } else {
        (this->*direct)(value);
    }
}

void ADS7924::SetMode(const bmc::ADS7924::tMode& mode)
{
    _SetThrough(m_mode, mode, &ADS7924::_SetMode);
}

void ADS7924::SetCalibrationChannel(const tCalibrationChannel& channel)
{
    _SetThrough(m_calibrationChannel, channel, &ADS7924::_SetCalibrationChannel);
}

void ADS7924::SetSleepTime(const tSleepTime& time)
{
    _SetThrough(m_sleepTime, time, &ADS7924::_SetSleepTime);
}

void ADS7924::SetConversionMode(const bmc::ADS7924::tConversionMode& mode)
{
    _SetThrough(m_convMode, mode, &ADS7924::_SetConversionMode);
}

void ADS7924::SetAcquireTime(const bmc::ADS7924::tAcquireTime& time)
{
    _SetThrough(m_acquireTime, time, &ADS7924::_SetAcquireTime);
}

void ADS7924::SetPwrUpTime(const bmc::ADS7924::tPwrUpTime& time)
{
    _SetThrough(m_upTime, time, &ADS7924::_SetPwrUpTime);
}

void ADS7924::SetPwrPinPolarity(const bmc::ADS7924::tPwrPinPolarity& polarity)
{
    _SetThrough(m_pinPolarity, polarity, &ADS7924::_SetPwrPinPolarity);
}

void ADS7924::SetPwrPinEnable(const bool& enable)
{
    ISTD_TRACE_FNC("void iapp::ADS7924::SetPwrPinEnable(const bool&)");
    auto node = std::dynamic_pointer_cast<ireg::RegNode>(m_pinEnable);
    if (!node) {
        _SetPwrPinEnable(enable);
        return;
    }
    try {
        node->SetValueOrThrow(enable, 0);
    } catch (const istd::Exception& e) {
        throw istd::Exception("ireg: " + node->GetName() + ": " + e.what(), true);
    }
}

void ADS7924::Reset()
{
    m_driver.Reset();
}

// ----------------------------------------------------------------------------- bound functions

bool ADS7924::_GetDeviceId(uint32_t& id) const
{
    id = m_driver.GetDeviceId() & 0xFF;
    return true;
}

bool ADS7924::_GetMode(bmc::ADS7924::tMode& mode) const
{
    mode = m_driver.GetMode();
    return true;
}

bool ADS7924::_SetMode(const bmc::ADS7924::tMode& mode)
{
    m_driver.SetMode(mode);
    return true;
}

bool ADS7924::_GetLastAcquiredChannel(bmc::ADS7924::tChannel& channel) const
{
    channel = m_driver.GetLastAcquiredChannel();
    return true;
}

bool ADS7924::_GetCalibrationChannel(tCalibrationChannel& channel) const
{
    channel = m_calibrationChannelValue.load();
    return true;
}

bool ADS7924::_SetCalibrationChannel(const tCalibrationChannel& channel)
{
    std::lock_guard<std::mutex> lock(m_config);
    PowerUp config = _Read<PowerUp>();
    config.mux = channel == eCalGnd ? c_muxGround : c_muxInput;
    config.Write(m_driver);
    if (channel != eCalGnd) {
        m_driver.SetChannelOnMuxOutput(static_cast<Adc::tChannel>(channel));
    }
    m_calibrationChannelValue.store(channel);
    return true;
}

bool ADS7924::_GetSleepTime(tSleepTime& time) const
{
    time = static_cast<tSleepTime>(m_driver.GetSleepTime());
    return true;
}

bool ADS7924::_SetSleepTime(const tSleepTime& time)
{
    const auto row = sleep_times.find(time);
    if (row == sleep_times.end()) {
        throw istd::Exception("Sleep time " + std::to_string(static_cast<int32_t>(time)) + " is not supported.", true);
    }
    return _Change<Sleep>([&row](Sleep& c) {
        c.code = row->second.sleepTime;
        c.divideBy4 = row->second.divideBy4;
        c.multiplyBy8 = row->second.multiplyBy8;
    });
}

bool ADS7924::_GetConversionMode(bmc::ADS7924::tConversionMode& mode) const
{
    mode = _Read<Sleep>().mode;
    return true;
}

bool ADS7924::_SetConversionMode(const bmc::ADS7924::tConversionMode& mode)
{
    return _Change<Sleep>([&mode](Sleep& c) { c.mode = mode; });
}

bool ADS7924::_GetAcquireTime(bmc::ADS7924::tAcquireTime& time) const
{
    return m_driver.GetAcquireConfiguration(time);
}

bool ADS7924::_SetAcquireTime(const bmc::ADS7924::tAcquireTime& time)
{
    return m_driver.SetAcquireConfiguration(time);
}

bool ADS7924::_GetPwrUpTime(bmc::ADS7924::tPwrUpTime& time) const
{
    time = _Read<PowerUp>().time;
    return true;
}

bool ADS7924::_SetPwrUpTime(const bmc::ADS7924::tPwrUpTime& time)
{
    return _Change<PowerUp>([&time](PowerUp& c) { c.time = time; });
}

bool ADS7924::_GetPwrPinPolarity(bmc::ADS7924::tPwrPinPolarity& polarity) const
{
    polarity = _Read<PowerUp>().polarity;
    return true;
}

bool ADS7924::_SetPwrPinPolarity(const bmc::ADS7924::tPwrPinPolarity& polarity)
{
    return _Change<PowerUp>([&polarity](PowerUp& c) { c.polarity = polarity; });
}

bool ADS7924::_GetPwrPinEnable(bool& enable) const
{
    enable = _Read<PowerUp>().pinMode == 1;
    return true;
}

bool ADS7924::_SetPwrPinEnable(const bool& enable)
{
    return _Change<PowerUp>([&enable](PowerUp& c) { c.pinMode = Adc::tPwrPinMode(enable ? 1 : 0); });
}

bool ADS7924::_GetIntAlarmCounter(bmc::ADS7924::tAlarmCounter& counter) const
{
    counter = _Read<Interrupt>().counter;
    return true;
}

bool ADS7924::_SetIntAlarmCounter(const bmc::ADS7924::tAlarmCounter& counter)
{
    return _Change<Interrupt>([&counter](Interrupt& c) { c.counter = counter; });
}

bool ADS7924::_GetIntPinConfig(bmc::ADS7924::tIntPinConfig& config) const
{
    config = _Read<Interrupt>().pin;
    return true;
}

bool ADS7924::_SetIntPinConfig(const bmc::ADS7924::tIntPinConfig& config)
{
    return _Change<Interrupt>([&config](Interrupt& c) { c.pin = config; });
}

bool ADS7924::_GetIntPolarity(bmc::ADS7924::tIntPolarity& polarity) const
{
    polarity = _Read<Interrupt>().polarity;
    return true;
}

bool ADS7924::_SetIntPolarity(const bmc::ADS7924::tIntPolarity& polarity)
{
    return _Change<Interrupt>([&polarity](Interrupt& c) { c.polarity = polarity; });
}

bool ADS7924::_GetIntTrigMode(bmc::ADS7924::tIntTriggeringMode& mode) const
{
    mode = _Read<Interrupt>().trigger;
    return true;
}

bool ADS7924::_SetIntTrigMode(const bmc::ADS7924::tIntTriggeringMode& mode)
{
    return _Change<Interrupt>([&mode](Interrupt& c) { c.trigger = mode; });
}

} // namespace iapp
