// The SPI chip drivers against their chip models behind the simulated SPI core: the words on the
// wire, what the chips end up holding, the refusals, and the conversions of the converters.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/spi_device_AD7787.h"
#include "bmc/spi_device_AD9510.h"
#include "bmc/spi_device_ADT7301.h"
#include "bmc/spi_device_CDCE72010.h"
#include "bmc/spi_device_DAC7554.h"
#include "bmc/spi_device_DAC8552.h"
#include "bmc/spi_device_DAC8581.h"
#include "bmc/spi_device_LMH6518.h"
#include "common/bus_rigs.h"
#include "common/zek_board.h"
#include "sim/chips/ad7787.h"
#include "sim/chips/ad9510.h"
#include "sim/chips/adt7301.h"
#include "sim/chips/cdce72010.h"
#include "sim/chips/dac7554.h"
#include "sim/chips/dac8552.h"
#include "sim/chips/dac8581.h"
#include "sim/chips/lmh6518.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;
using Words = std::vector<uint64_t>;

// A chip model on chip select 0 of a simulated core, and its driver made with the arguments.
template <class DRIVER, class MODEL>
struct ChipRig {
    template <class... ARGS>
    explicit ChipRig(std::shared_ptr<MODEL> m, ARGS&&... args) : model(std::move(m))
    {
        rig.core->Attach(0, model);
        device = bmc::Create<DRIVER>(rig.bus, "chip", 0, std::forward<ARGS>(args)...);
        chip = static_cast<DRIVER*>(device.get());
    }

    // "bits:word" of every word shifted out since the last call, selections as "|".
    std::string Wire()
    {
        std::string text;
        for (const sim::SpiEvent& e : rig.core->GetEvents()) {
            if (e.kind == sim::SpiEvent::eShift) {
                text += (text.empty() || text.back() == '|' ? "" : " ") + std::to_string(e.bits) + ":" +
                        sim::HexText(e.word);
            } else if (e.kind == sim::SpiEvent::eDeselect) {
                text += "|";
            }
        }
        rig.core->ClearTraces();
        return text;
    }

    bmctest::SpiRig rig;
    std::shared_ptr<MODEL> model;
    bmc::BusDevicePtr device;
    DRIVER* chip = nullptr;
};

TEST(SpiChips, Dac7554WritesChannelWordsAndAnswersFromItsCache)
{
    ChipRig<bmc::DAC7554, sim::Dac7554Model> r(std::make_shared<sim::Dac7554Model>());
    EXPECT_EQ(r.Wire(), "16:0x8000|16:0x9000|16:0xa000|16:0xb000|");
    for (uint32_t channel = 0; channel < 4; ++channel) {
        EXPECT_EQ(r.chip->GetValue(channel), 0);
        EXPECT_EQ(r.chip->GetPowerDownMode(channel), bmc::DAC7554::ePowerDownOff);
    }
    EXPECT_TRUE(r.chip->SetValue(0, 4095));
    EXPECT_TRUE(r.chip->SetValue(3, 0));
    EXPECT_TRUE(r.chip->SetValue(1, 0x123));
    EXPECT_EQ(r.Wire(), "16:0x8fff|16:0xb000|16:0x9123|");
    EXPECT_EQ(r.model->GetOutput(0), 4095);
    EXPECT_EQ(r.model->GetOutput(1), 0x123);

    // Refusals come before the bus and change nothing.
    EXPECT_EQ(ErrorOf([&] { r.chip->SetValue(0, 4096); }), "Specified value 4096 is out of range");
    EXPECT_EQ(ErrorOf([&] { r.chip->SetValue(4, 4096); }), "Invalid channel id 4");
    EXPECT_EQ(ErrorOf([&] { r.chip->GetValue(4); }), "Invalid channel id 4");
    EXPECT_EQ(ErrorOf([&] { r.chip->GetPowerDownMode(7); }), "Invalid channel id 7");
    EXPECT_EQ(ErrorOf([&] { r.chip->SetPowerDownMode(1, bmc::DAC7554::ePowerDownHiZ); }),
              "Invalid power down option 0");
    EXPECT_EQ(r.Wire(), "");
    EXPECT_EQ(r.chip->GetValue(0), 4095);

    // Mode 3 sends the channel's value again.
    EXPECT_TRUE(r.chip->SetPowerDownMode(1, bmc::DAC7554::ePowerDownOff));
    EXPECT_EQ(r.Wire(), "16:0x9123|");
}

TEST(SpiChips, Dac8581SendsTheSignedCode)
{
    ChipRig<bmc::DAC8581, sim::Dac8581Model> r(std::make_shared<sim::Dac8581Model>());
    EXPECT_EQ(r.Wire(), "");
    EXPECT_EQ(r.chip->GetValue(), 0);
    for (int16_t value : {int16_t{-1}, int16_t{-32768}, int16_t{0x1234}}) {
        EXPECT_TRUE(r.chip->SetValue(value));
        EXPECT_EQ(r.chip->GetValue(), value);
        EXPECT_EQ(r.model->GetOutput(), value);
    }
    EXPECT_EQ(r.Wire(), "16:0xffff|16:0x8000|16:0x1234|");
}

TEST(SpiChips, Dac8552FillsInputRegistersAndLoadsOutputsWithThePendingMode)
{
    ChipRig<bmc::DAC8552, sim::Dac8552Model> r(std::make_shared<sim::Dac8552Model>());
    EXPECT_EQ(r.Wire(), "");
    // Loading A takes A's input register (still 0); B only receives the value.
    EXPECT_TRUE(r.chip->SetValue(true, false, bmc::DAC8552::c_outputB, 0x1234));
    EXPECT_EQ(r.Wire(), "24:0x141234|");
    EXPECT_EQ(r.chip->GetValue(0), 0);
    EXPECT_EQ(r.chip->GetValue(1), 0);
    EXPECT_EQ(r.model->GetInput(1), 0x1234);
    EXPECT_EQ(r.model->GetOutput(1), 0);

    r.chip->SetMode(2);
    EXPECT_EQ(r.chip->GetMode(), 0u);
    EXPECT_EQ(r.Wire(), "");
    EXPECT_TRUE(r.chip->SetValue(false, true, bmc::DAC8552::c_outputA, 0xBEEF));
    EXPECT_EQ(r.Wire(), "24:0x22beef|");
    EXPECT_EQ(r.chip->GetMode(), 2u);
    EXPECT_EQ(r.chip->GetValue(1), 0x1234);
    EXPECT_EQ(r.model->GetOutput(1), 0x1234);
    EXPECT_EQ(r.model->GetPowerDown(1), 2u);

    EXPECT_EQ(ErrorOf([&] { r.chip->SetValue(true, true, 2, 1); }), "Invalid output id 2");
    EXPECT_EQ(ErrorOf([&] { r.chip->GetValue(5); }), "Invalid output id 5");
    EXPECT_EQ(r.Wire(), "");
}

struct Ad9510Rig : ChipRig<bmc::AD9510, sim::Ad9510Model> {
    explicit Ad9510Rig(const bmc::AD9510::ConfigurationItem* table = nullptr)
        : ChipRig(std::make_shared<sim::Ad9510Model>(), table)
    {
    }
    using Writes = std::vector<std::pair<uint8_t, uint8_t>>;
    Writes TakeWrites()
    {
        Writes writes = model->GetWrites();
        model->ClearWrites();
        return writes;
    }
};

TEST(SpiChips, Ad9510LoadsItsTableAtConstruction)
{
    using Writes = Ad9510Rig::Writes;
    const bmc::AD9510::ConfigurationItem table[] = {{0x45, 0x02}, {0x00, 0x10}, {0x3C, 0x08}, {0, 0}, {0x3D, 1}};
    const bmc::AD9510::ConfigurationItem empty[] = {{0, 0}, {0x45, 0x02}};
    Ad9510Rig none;
    EXPECT_EQ(none.TakeWrites(), (Writes{{0x5A, 1}}));
    // A register write is three 8-bit words: the address's high and low byte, then the value.
    EXPECT_EQ(none.Wire(), "8:0x00 8:0x5a 8:0x01|");
    Ad9510Rig first(empty);
    EXPECT_EQ(first.TakeWrites(), (Writes{{0x5A, 1}}));
    Ad9510Rig loaded(table);
    EXPECT_EQ(loaded.TakeWrites(), (Writes{{0x45, 0x02}, {0x00, 0x10}, {0x3C, 0x08}, {0x5A, 1}}));
    EXPECT_EQ(loaded.model->GetActive(0x3C), 0x08);
    EXPECT_EQ(loaded.model->GetActive(0x3D), 0x00);
}

TEST(SpiChips, Ad9510DividersPowerDownAndRegisterWords)
{
    using Writes = Ad9510Rig::Writes;
    Ad9510Rig r;
    r.TakeWrites();
    r.Wire();
    uint32_t value = 0;
    r.model->SetRegister(0x45, 0x5C);
    r.chip->GetRegister(0x45, value);
    EXPECT_EQ(value, 0x5Cu);
    r.chip->SetRegister(0x45, 0x1A7);
    EXPECT_EQ(r.Wire(), "8:0x80 8:0x45 8:0x00|8:0x00 8:0x45 8:0xa7|");
    EXPECT_EQ(r.model->GetRegister(0x45), 0xA7);
    EXPECT_EQ(r.model->GetActive(0x45), 0x5C); // no update after a single register
    r.TakeWrites();

    struct Case {
        bmc::AD9510::tDivider divider;
        uint32_t value;
        Writes writes;
        uint32_t readBack;
    };
    const std::vector<Case> cases = {
        {bmc::AD9510::eDividerA, 0x7F, {{4, 0x3F}, {0x5A, 1}}, 0x3F},
        {bmc::AD9510::eDividerB, 0x1234, {{5, 0x12}, {6, 0x34}, {0x5A, 1}}, 0x1234},
        {bmc::AD9510::eDividerB, 0xFFFF, {{5, 0x1F}, {6, 0xFF}, {0x5A, 1}}, 0x1FFF},
        {bmc::AD9510::eDividerR, 0x1FFF, {{11, 0x1F}, {12, 0xFF}, {0x5A, 1}}, 0x1FFF},
        {bmc::AD9510::eDividerR, 0x3FFF, {{11, 0x3F}, {12, 0xFF}, {0x5A, 1}}, 0x3FFF},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(r.chip->SetDivider(c.divider, c.value));
        EXPECT_EQ(r.TakeWrites(), c.writes) << c.divider << " " << c.value;
        uint32_t back = 0xDEAD;
        EXPECT_TRUE(r.chip->GetDivider(c.divider, back));
        EXPECT_EQ(back, c.readBack) << c.divider << " " << c.value;
    }
    // Codes past R write only the update and leave the value read as it was.
    const auto other = static_cast<bmc::AD9510::tDivider>(3);
    EXPECT_TRUE(r.chip->SetDivider(other, 0x55));
    EXPECT_EQ(r.TakeWrites(), (Writes{{0x5A, 1}}));
    value = 77;
    EXPECT_TRUE(r.chip->GetDivider(other, value));
    EXPECT_EQ(value, 77u);

    // The power-down code replaces bits 0-1 of register 10 only.
    r.model->SetRegister(10, 0xF4);
    r.chip->SetPllPowerDown(2);
    EXPECT_EQ(r.TakeWrites(), (Writes{{10, 0xF6}, {0x5A, 1}}));
    bmc::AD9510::tPllPowerDown mode = 0;
    r.chip->GetPllPowerDown(mode);
    EXPECT_EQ(mode, 2u);
    EXPECT_EQ(r.model->GetActive(10), 0xF6);
}

TEST(SpiChips, Ad9510ResetAndCommunicationChecks)
{
    using Writes = Ad9510Rig::Writes;
    const bmc::AD9510::ConfigurationItem table[] = {{0x3C, 0x08}, {0, 0}};
    Ad9510Rig r(table);
    int postInits = 0;
    r.chip->SetPostInitFnc([&] { return ++postInits > 0; });

    // A working link is left alone, whatever the soft-reset bit reads.
    r.model->SetRegister(0, 0x30);
    r.TakeWrites();
    EXPECT_TRUE(r.chip->AssureCommunication());
    EXPECT_EQ(r.TakeWrites(), Writes{});
    // A register 0 without the long-instruction bit is written once and then reads right.
    r.model->SetRegister(0, 0x00);
    EXPECT_TRUE(r.chip->AssureCommunication());
    EXPECT_EQ(r.TakeWrites(), (Writes{{0, 0x10}}));
    EXPECT_EQ(postInits, 0);

    // The soft-reset pulse runs when the hard reset fails or is missing, not when it succeeds.
    struct Case {
        const char* what;
        int hard; // -1 none, 0 fails, 1 succeeds
        size_t softResets;
    };
    for (const Case& c : std::vector<Case>{{"none", -1, 1}, {"failing", 0, 1}, {"working", 1, 0}}) {
        const size_t before = r.model->GetSoftResetCount();
        int hardResets = 0;
        if (c.hard < 0) {
            r.chip->SetHardResetFnc(nullptr);
        } else {
            r.chip->SetHardResetFnc([&, ok = c.hard == 1] {
                ++hardResets;
                return ok;
            });
        }
        r.TakeWrites();
        EXPECT_TRUE(r.chip->Reset()) << c.what;
        EXPECT_EQ(r.model->GetSoftResetCount() - before, c.softResets) << c.what;
        EXPECT_EQ(hardResets, c.hard < 0 ? 0 : 1) << c.what;
        // The table is loaded again.
        const Writes writes = r.TakeWrites();
        ASSERT_GE(writes.size(), 2u) << c.what;
        EXPECT_EQ(writes[writes.size() - 2], (std::pair<uint8_t, uint8_t>{0x3C, 0x08})) << c.what;
        EXPECT_EQ(writes.back(), (std::pair<uint8_t, uint8_t>{0x5A, 1})) << c.what;
    }
    EXPECT_EQ(postInits, 3);

    // A broken link: the owner's hard reset repairs it.
    r.model->SetLinkBroken(true);
    r.chip->SetHardResetFnc([&] {
        r.model->SetLinkBroken(false);
        return true;
    });
    EXPECT_TRUE(r.chip->AssureCommunication());
    EXPECT_EQ(postInits, 4);
    // One that stays broken fails, traced.
    r.model->SetLinkBroken(true);
    r.chip->SetHardResetFnc(nullptr);
    istd::TraceCapture trace(istd::eTraceError);
    EXPECT_FALSE(r.chip->AssureCommunication());
    EXPECT_TRUE(trace.Contains("Serial communication with AD9510 could not be established correctly after reset."));
    EXPECT_EQ(postInits, 4);
}

TEST(SpiChips, Cdce72010SetsTwentyEightBitsAndReadsTheWordUnshifted)
{
    ChipRig<bmc::CDCE72010, sim::Cdce72010Model> r(std::make_shared<sim::Cdce72010Model>());
    EXPECT_EQ(r.Wire(), "");
    EXPECT_TRUE(r.chip->Set(11, (1u << 28) - 1));
    // The chip select toggle of the device's parameters applies to a write too: an empty selection
    // follows the word.
    EXPECT_EQ(r.Wire(), "32:0xfffffffb||");
    EXPECT_EQ(r.model->GetRegister(11), 0x0FFFFFFFu);
    EXPECT_EQ(r.model->GetWords(), Words{0xFFFFFFFB});

    EXPECT_EQ(ErrorOf([&] { r.chip->Set(12, 0); }), "Invalid register ID");
    EXPECT_EQ(ErrorOf([&] { r.chip->Set(0, 1u << 28); }), "Invalid register value");
    uint32_t value = 0;
    EXPECT_EQ(ErrorOf([&] { r.chip->Get(12, value); }), "Invalid register ID");
    EXPECT_EQ(r.Wire(), "");

    // Get answers the chip's word as it comes: the register's 28 bits above its number. Set takes
    // the bare 28 bits.
    EXPECT_TRUE(r.chip->Set(3, 0x0ABCDEF));
    r.Wire();
    EXPECT_TRUE(r.chip->Get(3, value));
    EXPECT_EQ(value, 0x0ABCDEF3u);
    EXPECT_EQ(value, 0x0ABCDEFu << 4 | 3);
    // The request, the chip released and selected again, then the answer clocked in.
    EXPECT_EQ(r.Wire(), "32:0x3e|32:0x00|");
    EXPECT_EQ(r.model->GetReadCount(), 1u);
}

TEST(SpiChips, Lmh6518PacksItsFieldsAndReadsFromItsCacheOrTheChip)
{
    ChipRig<bmc::LMH6518, sim::Lmh6518Model> cached(std::make_shared<sim::Lmh6518Model>(), true);
    bool fullPower = false;
    bool highGain = true;
    bmc::LMH6518::tFilterBandwidth bandwidth = 9;
    bmc::LMH6518::tAttenuator attenuation = 0;
    EXPECT_TRUE(cached.chip->Get(fullPower, bandwidth, highGain, attenuation));
    EXPECT_TRUE(fullPower);
    EXPECT_EQ(bandwidth, 0);
    EXPECT_FALSE(highGain);
    EXPECT_EQ(attenuation, 10);
    EXPECT_EQ(cached.Wire(), "");

    EXPECT_TRUE(cached.chip->Set(false, 3, true, 5));
    EXPECT_EQ(cached.Wire(), "24:0x4d5|");
    EXPECT_EQ(cached.model->GetControl(), 0x04D5);
    uint16_t raw = 0;
    EXPECT_TRUE(cached.chip->GetRaw(raw));
    EXPECT_EQ(raw, 0x04D5);

    // Field setters change their field only, codes masked to it.
    struct Case {
        std::function<void(bmc::LMH6518&)> set;
        uint16_t raw;
    };
    const std::vector<Case> cases = {
        {[](bmc::LMH6518& c) { c.SetAttenuation(0x1F); }, 0x04DF},
        {[](bmc::LMH6518& c) { c.SetFilterBandWidth(9); }, 0x045F},
        {[](bmc::LMH6518& c) { c.SetHiGain(false); }, 0x044F},
        {[](bmc::LMH6518& c) { c.SetFullPower(true); }, 0x004F},
        {[](bmc::LMH6518& c) { c.SetFullPower(false); }, 0x044F},
        {[](bmc::LMH6518& c) { c.Set(true, 0xF, false, 0xFF); }, 0x01CF},
    };
    for (const Case& c : cases) {
        c.set(*cached.chip);
        EXPECT_EQ(cached.model->GetControl(), c.raw);
        EXPECT_EQ(cached.Wire(), "24:" + sim::HexText(c.raw) + "|");
    }

    // Every bandwidth code reads back, from the cache and from the chip.
    ChipRig<bmc::LMH6518, sim::Lmh6518Model> direct(std::make_shared<sim::Lmh6518Model>(), false);
    for (bmc::LMH6518::tFilterBandwidth code = 0; code < 8; ++code) {
        for (auto* r : {&cached, &direct}) {
            EXPECT_TRUE(r->chip->SetFilterBandWidth(code));
            bandwidth = 9;
            EXPECT_TRUE(r->chip->GetFilterBandWidth(bandwidth));
            EXPECT_EQ(bandwidth, code);
            EXPECT_EQ(r->model->GetControl() >> 6 & 7, code);
        }
    }
}

// Without the cache every getter and field setter first reads the register with the chip's read
// frame, and the chip keeps its settings through it.
TEST(SpiChips, Lmh6518ReadsTheChipWithoutChangingIt)
{
    const uint16_t held = 0x04D5; // full power off, bandwidth 3, high gain on, attenuation 5
    struct Case {
        const char* name;
        std::function<void(bmc::LMH6518&)> call;
        uint16_t after;
        std::string wire;
    };
    bool on = false;
    bool fullPower = true;
    bmc::LMH6518::tFilterBandwidth bandwidth = 0;
    bmc::LMH6518::tAttenuator attenuation = 0;
    uint16_t raw = 0;
    const std::vector<Case> cases = {
        {"Get", [&](bmc::LMH6518& c) { c.Get(fullPower, bandwidth, on, attenuation); }, held, "24:0x800000|"},
        {"GetRaw", [&](bmc::LMH6518& c) { c.GetRaw(raw); }, held, "24:0x800000|"},
        {"GetAttenuation", [&](bmc::LMH6518& c) { c.GetAttenuation(attenuation); }, held, "24:0x800000|"},
        {"GetHiGain", [&](bmc::LMH6518& c) { c.GetHiGain(on); }, held, "24:0x800000|"},
        {"GetFullPower", [&](bmc::LMH6518& c) { c.GetFullPower(on); }, held, "24:0x800000|"},
        {"SetHiGain(false)", [](bmc::LMH6518& c) { c.SetHiGain(false); }, 0x04C5, "24:0x800000|24:0x4c5|"},
        {"SetAttenuation(2)", [](bmc::LMH6518& c) { c.SetAttenuation(2); }, 0x04D2, "24:0x800000|24:0x4d2|"},
        {"SetFilterBandWidth(6)", [](bmc::LMH6518& c) { c.SetFilterBandWidth(6); }, 0x0595, "24:0x800000|24:0x595|"},
        {"SetFullPower(true)", [](bmc::LMH6518& c) { c.SetFullPower(true); }, 0x00D5, "24:0x800000|24:0xd5|"},
    };
    for (const Case& c : cases) {
        ChipRig<bmc::LMH6518, sim::Lmh6518Model> r(std::make_shared<sim::Lmh6518Model>(), false);
        r.model->SetControl(held);
        c.call(*r.chip);
        EXPECT_EQ(r.model->GetControl(), c.after) << c.name;
        EXPECT_EQ(r.Wire(), c.wire) << c.name;
    }

    ChipRig<bmc::LMH6518, sim::Lmh6518Model> r(std::make_shared<sim::Lmh6518Model>(), false);
    r.model->SetControl(held);
    EXPECT_TRUE(r.chip->Get(fullPower, bandwidth, on, attenuation));
    EXPECT_FALSE(fullPower);
    EXPECT_EQ(bandwidth, 3);
    EXPECT_TRUE(on);
    EXPECT_EQ(attenuation, 5);
    EXPECT_TRUE(r.chip->SetHiGain(false));
    EXPECT_EQ(r.model->GetControl(), 0x04C5);
    EXPECT_EQ(r.model->GetWriteCount(), 1u);
}

TEST(SpiChips, Ad7787ConvertsVoltsAndThermometerTemperatures)
{
    ChipRig<bmc::AD7787, sim::Ad7787Model> r(std::make_shared<sim::Ad7787Model>(2.5), 2.5);
    EXPECT_EQ(r.Wire(), "8:0x10 8:0x06|8:0x20 8:0x04|");
    EXPECT_EQ(r.model->GetMode(), 6);
    EXPECT_EQ(r.model->GetFilter(), 4);

    uint32_t raw = 0;
    bool error = true;
    float volts = -1.0f;
    r.model->SetInputVoltage(1.25);
    EXPECT_TRUE(r.chip->GetRawData(raw, error));
    EXPECT_EQ(raw, 1u << 23);
    EXPECT_FALSE(error);
    // The status byte, then the data register's three bytes.
    EXPECT_EQ(r.Wire(), "8:0x08 8:0x00|8:0x38 8:0x00 8:0x00 8:0x00|");
    r.model->SetInputVoltage(0.0);
    EXPECT_TRUE(r.chip->GetVoltage(volts, error));
    EXPECT_EQ(volts, 0.0f);

    // A conversion that takes a few status readings is waited for, 1 ms a reading.
    r.model->SetConversionReads(5);
    for (double celsius : {0.0, 25.0, 85.0, 150.0, 400.0}) {
        r.model->SetInputVoltage(bmctest::ThermometerVolts(celsius));
        float degrees = -1000.0f;
        error = true;
        EXPECT_TRUE(r.chip->GetTemperature(degrees, error)) << celsius;
        EXPECT_FALSE(error) << celsius;
        EXPECT_NEAR(degrees, celsius, 0.01) << celsius;
    }
    // 3.3 V × 1000 / 5700: the thermometer's 1000 Ω, 0 °C.
    r.model->SetInputVoltage(3.3 * 1000 / 5700);
    float degrees = -1.0f;
    EXPECT_TRUE(r.chip->GetTemperature(degrees, error));
    EXPECT_NEAR(degrees, 0.0, 0.01);
}

TEST(SpiChips, Ad7787ReportsErrorsTimeOutsAndVoltagesOutsideTheFormula)
{
    ChipRig<bmc::AD7787, sim::Ad7787Model> r(std::make_shared<sim::Ad7787Model>(2.5), 2.5);
    r.model->SetInputVoltage(bmctest::ThermometerVolts(30));

    // An error in the status is reported, and the data register is read all the same.
    r.model->SetStatusBits(0x40);
    uint32_t raw = 0;
    bool error = false;
    size_t conversions = r.model->GetConversionCount();
    EXPECT_TRUE(r.chip->GetRawData(raw, error));
    EXPECT_TRUE(error);
    EXPECT_EQ(r.model->GetConversionCount(), conversions + 1);
    float degrees = 123.0f;
    error = false;
    EXPECT_TRUE(r.chip->GetTemperature(degrees, error));
    EXPECT_TRUE(error);
    EXPECT_EQ(degrees, 123.0f);
    for (uint8_t bits : {uint8_t{0x01}, uint8_t{0x02}}) {
        r.model->SetStatusBits(bits);
        error = false;
        EXPECT_TRUE(r.chip->GetRawData(raw, error));
        EXPECT_TRUE(error);
    }
    r.model->SetStatusBits(0);

    // No conversion within 102 status readings: the raw read fails untouched, the temperature
    // reports the failure.
    r.model->SetNeverReady(true);
    r.Wire();
    raw = 5;
    error = false;
    EXPECT_FALSE(r.chip->GetRawData(raw, error));
    EXPECT_EQ(raw, 5u);
    EXPECT_FALSE(error);
    const std::string wire = r.Wire();
    size_t readings = 0;
    for (size_t at = wire.find("8:0x08"); at != std::string::npos; at = wire.find("8:0x08", at + 1)) {
        ++readings;
    }
    EXPECT_EQ(readings, 102u);
    float volts = 7.0f;
    EXPECT_FALSE(r.chip->GetVoltage(volts, error));
    EXPECT_EQ(volts, 7.0f);
    degrees = 123.0f;
    error = false;
    EXPECT_FALSE(r.chip->GetTemperature(degrees, error));
    EXPECT_TRUE(error);
    EXPECT_EQ(degrees, 123.0f);
    r.model->SetNeverReady(false);

    // Above about 2.04 V the formula has no real solution (NaN); near the reference the divider
    // would need thousands of ohms more than the thermometer has.
    for (double v : {2.05, 2.3, 2.4999}) {
        r.model->SetInputVoltage(v);
        degrees = 123.0f;
        error = false;
        EXPECT_TRUE(r.chip->GetTemperature(degrees, error)) << v;
        EXPECT_TRUE(error) << v;
        EXPECT_EQ(degrees, 123.0f) << v;
    }
    // With a reference of 3.3 V the full-scale code gives 3.3 V: no division by zero either.
    ChipRig<bmc::AD7787, sim::Ad7787Model> high(std::make_shared<sim::Ad7787Model>(3.3), 3.3);
    high.model->SetInputVoltage(3.3);
    degrees = 123.0f;
    error = false;
    EXPECT_TRUE(high.chip->GetTemperature(degrees, error));
    EXPECT_TRUE(error);
    EXPECT_EQ(degrees, 123.0f);
}

TEST(SpiChips, Adt7301ReadsFourteenBitTwosComplement)
{
    ChipRig<bmc::ADT7301, sim::Adt7301Model> r(std::make_shared<sim::Adt7301Model>());
    // The constructor's one reading, and the idle limit of the whole bus.
    EXPECT_EQ(r.Wire(), "16:0x00|");
    EXPECT_EQ(r.rig.bus->GetIdleTimeout(), 1000u);

    struct Case {
        uint16_t word;
        float degrees;
        bool error;
    };
    const std::vector<Case> cases = {
        {0x0000, 0.0f, false},     {0x0020, 1.0f, false},  {0x3FFF, -0.03125f, false},
        {0x2000, -256.0f, false},  {0x1FFF, 255.96875f, false}, {0x4000, 512.0f, true},
        {0xFFFF, 1535.96875f, true},
    };
    for (const Case& c : cases) {
        r.model->SetRawWord(c.word);
        istd::TraceCapture trace(istd::eTraceError);
        float degrees = 0.5f;
        bool error = !c.error;
        EXPECT_TRUE(r.chip->GetTemperature(degrees, error));
        EXPECT_EQ(degrees, c.degrees) << c.word;
        EXPECT_EQ(error, c.error) << c.word;
        EXPECT_EQ(trace.Contains("ADT7301 com. error or data out of range"), c.error) << c.word;
    }
    r.model->SetRawWord(std::nullopt);
    for (double celsius : {-40.5, 0.03125, 125.0}) {
        r.model->SetTemperature(celsius);
        float degrees = 0.0f;
        bool error = true;
        r.chip->GetTemperature(degrees, error);
        EXPECT_EQ(degrees, static_cast<float>(celsius));
        EXPECT_FALSE(error);
    }
}

} // namespace
