// The four-channel ADC driver against the ADC model: conversion reads from every kind of mode with
// the register-0 writes they need (and no others), modes entered through awake, field packing of
// the configuration registers, the alarm-enable copy, limits, sleep time and reset.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bmc/i2c_device_ADS7924.h"
#include "common/i2c_chip_rig.h"
#include "sim/chips/ads7924.h"

namespace {

using Adc = bmc::ADS7924;
using testing::ElementsAre;
using testing::ElementsAreArray;

constexpr uint16_t c_inputs[4] = {0x123, 0x456, 0xABC, 0xFFF};

class Ads7924Test : public testing::Test {
protected:
    Ads7924Test()
    {
        for (unsigned ch = 0; ch < 4; ++ch) {
            Model().SetInput(ch, c_inputs[ch]);
        }
    }

    Adc& Dev() { return *m_rig.driver; }
    sim::Ads7924Model& Model() { return *m_rig.model; }
    // Register-0 bytes written since the last call.
    std::vector<uint8_t> NewModeWrites()
    {
        const std::vector<uint8_t> all = Model().GetModeWrites();
        std::vector<uint8_t> fresh(all.begin() + static_cast<std::ptrdiff_t>(m_seen), all.end());
        m_seen = all.size();
        return fresh;
    }

    bmctest::I2cChipRig<Adc, sim::Ads7924Model> m_rig;
    size_t m_seen = 0;
};

TEST_F(Ads7924Test, AConversionFromIdleGoesThroughAwakeAndBack)
{
    ASSERT_EQ(Dev().GetConversionData(Adc::eChannel1), c_inputs[1]); // leaves channel 1 converted last
    NewModeWrites();
    EXPECT_EQ(Dev().GetConversionData(Adc::eChannel2), 0xABC); // high 0xAB, low 0xC0
    EXPECT_THAT(NewModeWrites(), ElementsAre(0x81, 0xC1, 0xC2, 0x82, 0x02));
    EXPECT_EQ(Model().GetMode(), 0u);
    EXPECT_EQ(Model().GetModeViolations(), 0u);
    // The low data register is read before the high one.
    std::vector<unsigned> pointers;
    const std::vector<sim::I2cEvent> events = m_rig.core->GetEvents();
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        if (events[i].kind == sim::I2cEvent::eStart && events[i + 1].kind == sim::I2cEvent::eWrite &&
            events[i + 1].byte >= 2 && events[i + 1].byte <= 9) {
            pointers.push_back(events[i + 1].byte);
        }
    }
    EXPECT_THAT(pointers, ElementsAre(5, 4, 7, 6));
}

TEST_F(Ads7924Test, ConversionReadsByMode)
{
    struct Case {
        const char* what;
        uint8_t setup;      // register 0 as written before (mode, channel)
        Adc::tChannel channel;
        std::vector<uint8_t> writes; // to register 0 by the read
        unsigned modeAfter;
    };
    const Case cases[] = {
        {"manual_single", 0xC1, Adc::eChannel3, {0xC3}, 48},
        {"auto_single, same channel", 0xC6, Adc::eChannel2, {}, 49},
        {"auto_single, other channel", 0xC6, Adc::eChannel0, {0x80, 0xC4}, 49},
        {"auto_single_sleep, other channel", 0xE5, Adc::eChannel3, {0x83, 0xE7}, 57},
        {"manual_scan", 0xCB, Adc::eChannel3, {0xC8}, 50},
        {"auto_scan", 0xCC, Adc::eChannel1, {}, 51},
        {"awake (channel 3 converted last)", 0x80, Adc::eChannel1, {0x83, 0xC3, 0xC1, 0x81}, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dev().SetMode(Adc::eAwake);
        Dev().Set(0, c.setup);
        NewModeWrites();
        const size_t violations = Model().GetModeViolations();
        EXPECT_EQ(Dev().GetConversionData(c.channel), c_inputs[c.channel]);
        EXPECT_EQ(NewModeWrites(), c.writes);
        EXPECT_EQ(Model().GetMode(), c.modeAfter);
        EXPECT_EQ(Model().GetModeViolations(), violations);
    }
}

TEST_F(Ads7924Test, SetModeEntersThroughAwakeKeepingTheChannel)
{
    Dev().GetConversionData(Adc::eChannel3);
    NewModeWrites();
    Dev().SetMode(Adc::eAutoScan);
    EXPECT_THAT(NewModeWrites(), ElementsAre(0x83, 0xCF));
    EXPECT_EQ(Dev().GetMode(), Adc::eAutoScan);
    EXPECT_EQ(Dev().GetLastAcquiredChannel(), Adc::eChannel3); // the scan ends with channel 3
    Dev().SetMode(Adc::eAwake);
    EXPECT_THAT(NewModeWrites(), ElementsAre(0x83));
    EXPECT_EQ(Model().GetModeViolations(), 0u);

    // A channel beyond the field keeps to its two bits: the mode stays.
    Dev().SetChannelOnMuxOutput(static_cast<Adc::tChannel>(5));
    EXPECT_EQ(Model().GetMode(), 32u);
    EXPECT_EQ(Model().GetMuxChannel(), 1u);
}

TEST_F(Ads7924Test, ConfigurationFieldsArePackedIntoTheirRegisters)
{
    using PMux = Adc::tPwrMuxoutMode;
    using PPol = Adc::tPwrPinPolarity;
    using PMode = Adc::tPwrPinMode;
    using PTime = Adc::tPwrUpTime;
    struct PwrCase {
        int mux, pol, mode, time;
        uint8_t reg;
    };
    for (const PwrCase& c : {PwrCase{1, 1, 1, 31, 0xFF}, PwrCase{0, 1, 0, 5, 0x45}, PwrCase{0, 2, 2, 0x21, 0x01}}) {
        Dev().SetPwrUpConfiguration(PMux(c.mux), PPol(c.pol), PMode(c.mode), PTime(c.time));
        EXPECT_EQ(Model().Get(21), c.reg);
        PMux mux;
        PPol pol;
        PMode mode;
        PTime time;
        EXPECT_TRUE(Dev().GetPwrUpConfiguration(mux, pol, mode, time));
        EXPECT_EQ(mux << 7 | pol << 6 | mode << 5 | time, c.reg);
    }

    Dev().SetSleepConfiguration(Adc::tSleepTime(5), true, true, Adc::tConversionMode(1));
    EXPECT_EQ(Model().Get(19), 0x75);
    Adc::tSleepTime sleep;
    bool divide = false;
    bool multiply = false;
    Adc::tConversionMode conv;
    EXPECT_TRUE(Dev().GetSleepConfiguration(sleep, divide, multiply, conv));
    EXPECT_EQ(sleep, 5);
    EXPECT_TRUE(divide);
    EXPECT_TRUE(multiply);
    EXPECT_EQ(conv, 1);

    Dev().SetInterruptConfiguration(Adc::tAlarmCounter(7), Adc::tIntPinConfig(5), Adc::tIntPolarity(1),
                                    Adc::tIntTriggeringMode(1));
    EXPECT_EQ(Model().Get(18), 0xF7);
    Dev().SetInterruptConfiguration(Adc::tAlarmCounter(1), Adc::tIntPinConfig(8), Adc::tIntPolarity(2),
                                    Adc::tIntTriggeringMode(2));
    EXPECT_EQ(Model().Get(18), 0x20);
    Adc::tAlarmCounter counter;
    Adc::tIntPinConfig pin;
    Adc::tIntPolarity pol;
    Adc::tIntTriggeringMode trig;
    EXPECT_TRUE(Dev().GetInterruptConfiguration(counter, pin, pol, trig));
    EXPECT_EQ(counter, 1);
    EXPECT_EQ(pin, 0);

    Dev().SetAcquireConfiguration(Adc::tAcquireTime(0x3F));
    EXPECT_EQ(Model().Get(20), 0x1F);
}

TEST_F(Ads7924Test, SleepTime)
{
    struct Case {
        uint8_t reg;
        uint32_t micros;
    };
    for (const Case& c : {Case{0x00, 2500}, Case{0x33, 40000}, Case{0x20, 625}, Case{0x17, 2560000},
                          Case{0x41, 5000}}) {
        Model().Set(19, c.reg);
        EXPECT_EQ(Dev().GetSleepTime(), c.micros) << int{c.reg};
    }
}

TEST_F(Ads7924Test, AlarmEnablesAreKeptInTheDriver)
{
    Dev().SetAlarmEnabled(0xF1);
    EXPECT_EQ(Model().Get(1), 0x01);
    EXPECT_EQ(Dev().GetAlarmEnabled(), 0x01);
    Dev().SetAlarmEnabled(Adc::eChannel3, true);
    EXPECT_EQ(Model().Get(1), 0x09);
    Dev().SetAlarmEnabled(Adc::eChannel0, false);
    EXPECT_EQ(Model().Get(1), 0x08);
    EXPECT_TRUE(Dev().GetAlarmEnabled(Adc::eChannel3));
    EXPECT_FALSE(Dev().GetAlarmEnabled(Adc::eChannel0));

    Model().Set(1, 0x59); // the chip's status nibble
    EXPECT_EQ(Dev().GetAlarmEnabled(), 0x08); // the copy, not the chip
    uint8_t status = 0;
    uint8_t enabled = 0;
    EXPECT_TRUE(Dev().GetAlarmStatus(status, enabled));
    EXPECT_EQ(status, 0x5);
    EXPECT_EQ(enabled, 0x9);
    bool s = false;
    bool e = false;
    EXPECT_TRUE(Dev().GetAlarmStatus(Adc::eChannel2, s, e));
    EXPECT_TRUE(s);
    EXPECT_FALSE(e);

    bmctest::CountedSleeps sleeps;
    Dev().Reset();
    EXPECT_EQ(Model().GetResets(), 1u);
    EXPECT_EQ(sleeps.Count(1000), 1u);
    EXPECT_EQ(Dev().GetAlarmEnabled(), 0x08);
    EXPECT_EQ(Dev().GetDeviceId(), sim::Ads7924Model::c_deviceId);
}

TEST_F(Ads7924Test, LimitsByChannel)
{
    EXPECT_EQ(Adc::GetUpperLimitRegister(Adc::eChannel0), 10);
    EXPECT_EQ(Adc::GetUpperLimitRegister(Adc::eChannel3), 16);
    EXPECT_EQ(Adc::GetLowerLimitRegister(Adc::eChannel3), 17);
    EXPECT_EQ(Adc::GetUpperLimitRegister(static_cast<Adc::tChannel>(7)), 10);
    Dev().SetUpperLimit(Adc::eChannel2, 0xE0);
    Dev().SetLowerLimit(Adc::eChannel2, 0x10);
    EXPECT_EQ(Model().Get(14), 0xE0);
    EXPECT_EQ(Model().Get(15), 0x10);
    EXPECT_EQ(Dev().GetUpperLimit(Adc::eChannel2), 0xE0);
    EXPECT_EQ(Dev().GetLowerLimit(Adc::eChannel2), 0x10);
}

} // namespace
