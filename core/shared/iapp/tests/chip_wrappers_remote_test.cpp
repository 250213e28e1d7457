// Bad input from clients on the chip wrappers' nodes, through the remote-node servant in this
// process as a client's requests reach it: every refusal comes back with its text, and nothing
// refused reaches a chip.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/bus_fixture.h"
#include "common/remote_servant.h"
#include "iapp/devices/i2c_SPD_EEPROM.h"
#include "iapp/devices/spi_DAC7554.h"
#include "iapp/kavrel_i2c_bus_device_ADS7924.h"
#include "iapp/kavrel_i2c_bus_device_PCA9532.h"
#include "iapp/kavrel_spi_bus_device_LMH6518.h"
#include "sim/chips/ads7924.h"
#include "sim/chips/dac7554.h"
#include "sim/chips/lmh6518.h"
#include "sim/chips/pca9532.h"
#include "sim/chips/spd_eeprom.h"

namespace {

using iapptest::RemoteServant;

class ChipWrapperRemoteWrites : public iapptest::BusBoard {
protected:
    void SetUp() override
    {
        BusBoard::SetUp();
        auto* i2c = MakeI2c(4);
        i2cCore->Attach(0, sim::Pca9532Model::c_baseAddress, leds);
        i2cCore->Attach(0, sim::Ads7924Model::c_address, adc);
        i2cCore->Attach(0, sim::SpdEepromModel::c_address, std::make_shared<sim::SpdEepromModel>());
        iapp::Create<iapp::KavrelPCA9532>(*i2c, "leds", bmc::BusDeviceId{0}, sim::Pca9532Model::c_baseAddress,
                                          uint8_t{0});
        iapp::Create<iapp::ADS7924>(*i2c, "adc", bmc::BusDeviceId{1}, sim::Ads7924Model::c_address, uint8_t{0});
        iapp::Create<iapp::SPD_EEPROM>(*i2c, "spd", bmc::BusDeviceId{2}, uint8_t{0}, uint8_t{0});
        auto* spi = MakeSpi(4);
        spiCore->Attach(0, dac);
        spiCore->Attach(1, amp);
        iapp::Create<iapp::DAC7554>(*spi, "dac", bmc::BusDeviceId{0});
        iapp::Create<iapp::LMH6518>(*spi, "amp", bmc::BusDeviceId{1}, true);
        AddRegistry(*i2c);
        AddRegistry(*spi);
        remote = std::make_unique<RemoteServant>(registry);
    }
    void TearDown() override
    {
        remote.reset();
        BusBoard::TearDown();
    }

    // Every register of the chips, and every word the SPI chips received.
    std::vector<uint64_t> ChipState() const
    {
        std::vector<uint64_t> state;
        for (size_t reg = 0; reg < 10; ++reg) {
            state.push_back(leds->Get(reg));
        }
        for (size_t reg = 0; reg < 0x16; ++reg) {
            state.push_back(adc->Get(reg));
        }
        for (const auto& words : {dac->GetWords(), amp->GetWords()}) {
            state.insert(state.end(), words.begin(), words.end());
        }
        return state;
    }

    std::shared_ptr<sim::Pca9532Model> leds = std::make_shared<sim::Pca9532Model>();
    std::shared_ptr<sim::Ads7924Model> adc = std::make_shared<sim::Ads7924Model>();
    std::shared_ptr<sim::Dac7554Model> dac = std::make_shared<sim::Dac7554Model>();
    std::shared_ptr<sim::Lmh6518Model> amp = std::make_shared<sim::Lmh6518Model>();
    std::unique_ptr<RemoteServant> remote;
};

TEST_F(ChipWrapperRemoteWrites, EachRefusalComesBackWithItsTextAndTouchesNoChip)
{
    using S = i_NET::StringBuffer;
    using U = i_NET::UInt32Buffer;
    using I = i_NET::Int32Buffer;
    using L = i_NET::Int64Buffer;
    using D = i_NET::DoubleBuffer;
    using B = i_NET::BooleanBuffer;
    // An enumeration node converts the texts of a client's write before it reaches its own
    // checks, so their refusals come without the node's name; "modes" converts in its setter.
    const std::string notInteger = "Invalid integer value";
    struct Case {
        const char* path;
        CORBA::Any value;
        CORBA::ULong position;
        std::string answer;
    };
    const Case cases[] = {
        // Out of range.
        {"spi/dac/channel_0/value", RemoteServant::One<U>(CORBA::ULong(4096)), 0,
         "ValueException: ireg: value: Validation failed: [0, 4095] for 4096"},
        {"spi/dac/channel_3/value", RemoteServant::One<U>(CORBA::ULong(70000)), 0,
         "ValueException: ireg: value: Validation failed: [0, 4095] for 70000"},
        {"spi/amp/value", RemoteServant::One<U>(CORBA::ULong(65536)), 0,
         "ValueException: ireg: value: Validation failed: [0, 65535] for 65536"},
        {"spi/dac/channel_0/power_down_mode", RemoteServant::One<S>("HiZ"), 0,
         "ValueException: ireg: power_down_mode: Invalid power down option 0"},
        {"spi/amp/attenuation", RemoteServant::One<I>(CORBA::Long(11)), 0,
         "ValueException: ireg: attenuation: invalid value"},
        {"spi/amp/bandwidth", RemoteServant::One<L>(CORBA::LongLong(7)), 0,
         "ValueException: ireg: bandwidth: invalid value"},
        {"spi/amp/bandwidth", RemoteServant::One<L>(CORBA::LongLong(4294967296LL + 1)), 0,
         "ValueException: ireg: bandwidth: invalid value"},
        {"i2c/adc/sleep_time", RemoteServant::One<S>("3000"), 0,
         "ValueException: Invalid enum value"},
        {"i2c/adc/sleep_time", RemoteServant::One<I>(CORBA::Long(3000)), 0,
         "ValueException: ireg: sleep_time: invalid value"},
        // Wrong type.
        {"spi/dac/channel_0/value", RemoteServant::One<S>("100"), 0,
         "ValueException: ireg: value: [...]: Invalid type std::string in validation."},
        {"spi/amp/value", RemoteServant::One<D>(CORBA::Double(1.5)), 0,
         "ValueException: ireg: value: [...]: Invalid type double in validation."},
        {"i2c/leds/pwm_0", RemoteServant::One<B>(CORBA::Boolean(true)), 0,
         "ValueException: ireg: pwm_0: pwm_0: unsupported argument type while setting a node value"},
        {"i2c/leds/modes", RemoteServant::One<I>(CORBA::Long(1)), 0,
         "ValueException: ireg: modes: modes: unsupported argument type while setting a node value"},
        {"spi/amp/high_gain", RemoteServant::One<S>("true"), 0,
         "ValueException: ireg: high_gain: high_gain: unsupported argument type while setting a node value"},
        {"i2c/adc/mode", RemoteServant::One<D>(CORBA::Double(32)), 0,
         "ValueException: ireg: mode: mode: unsupported argument type while setting a node value"},
        // Enumeration texts: exact names, or decimal integers without blanks.
        {"i2c/adc/mode", RemoteServant::One<S>("IDLE"), 0, "ValueException: " + notInteger},
        {"i2c/adc/mode", RemoteServant::One<S>(" 0"), 0, "ValueException: " + notInteger},
        {"i2c/adc/mode", RemoteServant::One<S>("1e3"), 0, "ValueException: " + notInteger},
        {"i2c/adc/mode", RemoteServant::One<S>("99999999999999999999"), 0,
         "ValueException: " + notInteger},
        {"i2c/adc/mode", RemoteServant::One<S>("0x20"), 0, "ValueException: " + notInteger},
        {"i2c/adc/interrupt/polarity", RemoteServant::One<S>("High"), 0,
         "ValueException: " + notInteger},
        {"spi/amp/attenuation", RemoteServant::One<S>("-2 "), 0, "ValueException: " + notInteger},
        {"i2c/leds/modes", RemoteServant::One<S>("blink0"), 0, "ValueException: ireg: modes: " + notInteger},
        {"i2c/leds/modes", RemoteServant::One<S>(" 1"), 0, "ValueException: ireg: modes: " + notInteger},
        {"i2c/leds/modes", RemoteServant::One<S>("1e3"), 0, "ValueException: ireg: modes: " + notInteger},
        {"i2c/leds/modes", RemoteServant::One<S>("99999999999999999999"), 0,
         "ValueException: ireg: modes: " + notInteger},
        {"i2c/leds/modes", RemoteServant::One<S>("4"), 0, "ValueException: ireg: modes: Invalid enum value"},
        {"i2c/leds/modes", RemoteServant::Values<S>(std::vector<const char*>{"On", "Blink1", "+ 1"}), 0,
         "ValueException: ireg: modes: " + notInteger},
        // Array bounds of "modes".
        {"i2c/leds/modes", RemoteServant::One<S>("On"), 16, "ValueException: ireg: modes: Position out of range"},
        {"i2c/leds/modes", RemoteServant::Values<S>(std::vector<const char*>{"On", "On"}), 15,
         "ValueException: ireg: modes: Size too large"},
        {"i2c/leds/modes", RemoteServant::Values<S>(std::vector<const char*>(17, "On")), 0,
         "ValueException: ireg: modes: Size too large"},
        // Read-only nodes.
        {"i2c/spd/capacity", RemoteServant::One<U>(CORBA::ULong(1)), 0, "ValueException: Node is not writable."},
        {"i2c/leds/pin_state", RemoteServant::One<U>(CORBA::ULong(1)), 0, "ValueException: Node is not writable."},
        {"i2c/adc/channels/A/data", RemoteServant::One<U>(CORBA::ULong(1)), 0,
         "ValueException: Node is not writable."},
        {"i2c/adc/reset", RemoteServant::One<S>("Reset"), 0, "ValueException: " + notInteger},
        {"i2c/adc/channels/E/data", RemoteServant::One<U>(CORBA::ULong(1)), 0,
         "NotFound: mci: node not found: /i2c/adc/channels/E/data"},
    };
    const std::vector<uint64_t> before = ChipState();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " at " + std::to_string(c.position));
        const std::string answer = remote->Write(c.path, c.value, c.position);
        EXPECT_EQ(answer, c.answer);
    }
    EXPECT_EQ(ChipState(), before);
}

TEST_F(ChipWrapperRemoteWrites, WhatTheRulesAcceptReachesTheChips)
{
    using S = i_NET::StringBuffer;
    using U = i_NET::UInt32Buffer;
    using I = i_NET::Int32Buffer;
    struct Case {
        const char* path;
        CORBA::Any value;
        CORBA::ULong position;
        const char* read; // what the node's element reads afterwards by name; null: not an enumeration
    };
    const Case cases[] = {
        {"i2c/adc/reset", RemoteServant::One<S>("Execute"), 0, nullptr},
        {"i2c/leds/modes", RemoteServant::One<S>("+1"), 3, "On"},
        {"i2c/leds/modes", RemoteServant::Values<S>(std::vector<const char*>{"Blink0", "3"}), 14, "Blink0"},
        {"i2c/adc/mode", RemoteServant::One<S>("+32"), 0, "awake"},
        {"i2c/adc/interrupt/alarm_counter", RemoteServant::One<S>("0"), 0, "every"},
        {"i2c/adc/interrupt/alarm_counter", RemoteServant::One<I>(CORBA::Long(3)), 0, "3"},
        {"spi/dac/channel_2/value", RemoteServant::One<U>(CORBA::ULong(4095)), 0, nullptr},
        {"spi/amp/attenuation", RemoteServant::One<S>("-18"), 0, "-18"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(remote->Write(c.path, c.value, c.position), "ok");
        if (c.read != nullptr) {
            std::string read;
            Node(registry, c.path)->Get(read, c.position, mci::c_noRelPath);
            EXPECT_EQ(read, c.read);
        }
    }
    EXPECT_EQ(leds->GetLedMode(3), 1u);
    EXPECT_EQ(leds->GetLedMode(15), 3u);
    EXPECT_EQ(adc->GetMode(), 32u);
    EXPECT_EQ(adc->Get(0x12) >> 5, 3);
    EXPECT_EQ(dac->GetOutput(2), 4095);
    EXPECT_EQ(amp->GetControl() & 0x0F, 9);
    EXPECT_EQ(adc->GetResets(), 1u);
}

} // namespace
