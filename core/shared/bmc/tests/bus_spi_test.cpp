// The FPGA SPI core against its register-level model: control words, chip-select words of both
// polarities, the refused settings, transfers with and without a chip-select toggle, the device
// and controller refusals, and the parameters' text form.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/spi_bus_params.h"
#include "common/bus_rigs.h"
#include "tests/support/error_of.h"

namespace {

using bmctest::SpiRig;
using bmctest::TestSpiChip;
using testing::ElementsAre;
using testsupport::ErrorOf;

// 8-bit words at 10 MHz, MSB first, all clock flags clear, no polling.
bmc::SpiBusParams Params(uint16_t bits = 8, uint16_t khz = 10000, bool toggle = false)
{
    return bmc::SpiBusParams(false, bits, false, false, false, false, khz, toggle);
}

TEST(SpiBusTest, TheControlWordCarriesPrescaleLengthAndClockFlags)
{
    struct Case {
        bmc::SpiBusParams params;
        uint64_t control;
    };
    const std::vector<Case> cases = {
        {Params(), 0x805},
        {bmc::SpiBusParams(true, 8, true, true, true, false, 10000), 0xF0805},
        {bmc::SpiBusParams(false, 8, false, false, true, false, 10000), 0x10805},
        {bmc::SpiBusParams(false, 8, false, true, false, false, 10000), 0x20805},
        {bmc::SpiBusParams(false, 8, true, false, false, false, 10000), 0x40805},
        {bmc::SpiBusParams(true, 8, false, false, false, false, 10000), 0x80805},
        {Params(8, 0), 0x800},
        {Params(8, 1894), 0x81F},
        {Params(8, 62500), 0x800},
        {Params(32), 0x2005},
        {Params(63), 0x3F05},
        {Params(0), 0x005},
    };
    for (const Case& c : cases) {
        SpiRig rig;
        const auto chip = bmc::Create<TestSpiChip>(rig.bus, "chip", 0, c.params);
        chip->Write(0, uint64_t{0});
        EXPECT_EQ(rig.core->GetControl(), c.control) << c.params;
    }
}

TEST(SpiBusTest, SettingsTheCoreCannotTakeAreRefusedBeforeAnythingIsWritten)
{
    struct Case {
        bmc::SpiBusParams params;
        std::string text;
    };
    const std::vector<Case> cases = {
        {Params(8, 1893), "spi:clock prescale parameter (32), calculated from frequency (1893) is out of range (31)."},
        {Params(8, 62501),
         "spi:clock prescale parameter (4294967295), calculated from frequency (62501) is out of range (31)."},
        {bmc::SpiBusParams(),
         "spi:clock prescale parameter (4294967295), calculated from frequency (125000) is out of range (31)."},
        {Params(64), "spi: transfer len parameter (64) is out of range (63)."},
        {Params(0xFFFF), "spi: transfer len parameter (65535) is out of range (63)."},
        {Params(64, 1000), "spi:clock prescale parameter (61), calculated from frequency (1000) is out of range (31)."},
    };
    for (const Case& c : cases) {
        SpiRig rig;
        const auto good = bmc::Create<TestSpiChip>(rig.bus, "good", 0, Params(8, 10000, true));
        const auto bad = bmc::Create<TestSpiChip>(rig.bus, "bad", 1, c.params);
        good->Write(0, uint64_t{0});
        rig.core->ClearTraces();
        EXPECT_EQ(ErrorOf([&] { bad->Write(0, uint64_t{1}); }), c.text);
        EXPECT_THAT(rig.core->GetEventTexts(), ElementsAre()) << c.text;
        EXPECT_EQ(rig.core->GetControl(), 0x805u);
    }
}

TEST(SpiBusTest, ChipSelectWordsOfBothPolarities)
{
    for (const bool activeHigh : {false, true}) {
        SpiRig rig(activeHigh);
        const auto chip = bmc::Create<TestSpiChip>(rig.bus, "chip", 2, Params());
        chip->Write(0, uint64_t{0xA5});
        std::vector<std::string> selects;
        for (const std::string& w : sim::RegisterTexts(rig.core->GetRegisterAccesses(), false)) {
            if (w.rfind("W chip_select", 0) == 0) {
                selects.push_back(w);
            }
        }
        if (activeHigh) {
            EXPECT_THAT(selects, ElementsAre("W chip_select 0x04", "W chip_select 0x00"));
        } else {
            EXPECT_THAT(selects, ElementsAre("W chip_select 0xfffffffb", "W chip_select 0xffffffff"));
        }
        EXPECT_THAT(rig.core->GetEventTexts(),
                    ElementsAre("CONTROL 0x805", "SELECT 2", "SHIFT 8 0xa5 -> 0xff", "DESELECT 2"));
    }
}

TEST(SpiBusTest, WordsAreShiftedWithZeroWordsClockingTheAnswersIn)
{
    SpiRig rig;
    auto file = std::make_shared<sim::SpiRegisterChip>();
    rig.core->Attach(0, file);
    const auto chip = bmc::Create<TestSpiChip>(rig.bus, "chip", 0, Params());
    // Write registers 2 to 4, then read them back.
    const uint64_t write[] = {0x02, 0x11, 0x22, 0x1FF33};
    chip->Write(0, write, 4);
    const uint64_t command = 0x82;
    uint64_t read[3] = {};
    chip->Transfer(0, &command, 1, read, 3);
    EXPECT_THAT(read, ElementsAre(0x11, 0x22, 0x33));
    EXPECT_THAT(rig.core->GetEventTexts(),
                ElementsAre("CONTROL 0x805", "SELECT 0", "SHIFT 8 0x02 -> 0x00", "SHIFT 8 0x11 -> 0x00",
                            "SHIFT 8 0x22 -> 0x00", "SHIFT 8 0x33 -> 0x00", "DESELECT 0", "SELECT 0",
                            "SHIFT 8 0x82 -> 0x00", "SHIFT 8 0x00 -> 0x11", "SHIFT 8 0x00 -> 0x22",
                            "SHIFT 8 0x00 -> 0x33", "DESELECT 0"));
    // The data register gets the low 32 bits of a word.
    EXPECT_THAT(sim::RegisterTexts(rig.core->GetRegisterAccesses(), false), testing::Contains("W data 0x1ff33"));
}

TEST(SpiBusTest, AToggleReleasesAndSelectsAgainBeforeReading)
{
    SpiRig rig;
    rig.core->Attach(1, std::make_shared<sim::SpiRegisterChip>());
    const auto chip = bmc::Create<TestSpiChip>(rig.bus, "chip", 1, Params(16, 10000, true));
    const uint64_t command = 0x8000;
    uint64_t read = 1;
    chip->Transfer(0, &command, 1, &read, 1);
    EXPECT_EQ(read, 0u);
    EXPECT_THAT(rig.core->GetEventTexts(),
                ElementsAre("CONTROL 0x1005", "SELECT 1", "SHIFT 16 0x8000 -> 0x00", "DESELECT 1", "SELECT 1",
                            "SHIFT 16 0x00 -> 0x00", "DESELECT 1"));
}

TEST(SpiBusTest, PollingWaitsForTheBusyBit)
{
    SpiRig rig;
    bmc::SpiBusParams polled = Params();
    polled.m_polling = true;
    auto file = std::make_shared<sim::SpiRegisterChip>();
    file->Set(0, 0x5A);
    rig.core->Attach(0, file);
    const auto chip = bmc::Create<TestSpiChip>(rig.bus, "chip", 0, polled);
    rig.core->SetBusyReads(3);
    const uint64_t command = 0x80;
    uint64_t read = 0;
    chip->Transfer(0, &command, 1, &read, 1);
    EXPECT_EQ(read, 0x5Au);

    rig.core->SetBusyStuck(true);
    rig.bus->SetIdleTimeout(5);
    EXPECT_EQ(ErrorOf([&] { chip->Write(0, uint64_t{0}); }), "Timeout 5 ms expired");
}

TEST(SpiBusTest, DevicesAndControllersThatCannotBeMade)
{
    SpiRig rig;
    EXPECT_EQ(ErrorOf([&] { bmc::Create<TestSpiChip>(rig.bus, "reserved", 255, Params()); }),
              "Device identifier 255 is reserved for internal usage.");
    EXPECT_EQ(rig.bus->GetDeviceCount(), 0u);

    // Registered, but beyond the chip-select lines the controller was made with.
    SpiRig two(false, 2);
    const auto beyond = bmc::Create<TestSpiChip>(two.bus, "beyond", 3, Params());
    EXPECT_EQ(ErrorOf([&] { beyond->Write(0, uint64_t{0}); }), "spi: Device ID is not supported");
    const auto wrongKind = bmc::Create<bmc::SpiDevice>(two.bus, "bare", 0);
    EXPECT_THROW(wrongKind->Write(0, uint64_t{0}), std::bad_cast);
    wrongKind->SetParams(std::make_shared<bmc::I2cBusParams>(0x50, 0, 100));
    EXPECT_THROW(wrongKind->Write(0, uint64_t{0}), std::bad_cast);

    bmc::tSpiBusController block{};
    EXPECT_NO_THROW(bmc::Create<bmc::SpiBusControllerFpgaAmba>("wide", 32, true, &block));
    EXPECT_EQ(ErrorOf([&] { bmc::Create<bmc::SpiBusControllerFpgaAmba>("wider", 33, true, &block); }),
              "wider: 33 device ids requested, but chip selects cover ids 0 to 31 only.");
    EXPECT_THROW(bmc::Create<bmc::SpiBusControllerFpgaAmba>("none", 1, true, nullptr), istd::Exception);
}

TEST(SpiBusTest, OutputsAndTraces)
{
    SpiRig rig;
    EXPECT_TRUE(rig.bus->SetOutput(0x80000001));
    uint32_t value = 0;
    EXPECT_TRUE(rig.bus->GetOutput(value));
    EXPECT_EQ(value, 0x80000001u);
    EXPECT_EQ(rig.core->GetOutput(), 0x80000001u);

    const auto chip = bmc::Create<TestSpiChip>(rig.bus, "chip", 0, Params());
    istd::TraceCapture trace(istd::eTraceDetail);
    chip->Write(0, uint64_t{0x9F});
    for (const char* text : {"spi: m_reg->control <== 0x805", "spi: m_reg->chip_select <== fffffffe",
                             "spi: m_reg->data <== 0x9f", "spi IsIdle ? 1", "spi: m_reg->chip_select <== ffffffff"}) {
        EXPECT_TRUE(trace.Contains(text)) << text;
    }
}

TEST(SpiBusTest, SetBusParamNarrowsTheFrequencyAndTakesAnOptionalToggle)
{
    SpiRig rig;
    bmc::SpiDevice device(*rig.bus, "chip", 0);
    const bmc::BusParamsPtr seven = bmc::SetBusParam<bmc::SpiBusParams, bmc::SpiDevice, bool, int, bool, bool, bool,
                                                     bool, int>(device, true, 16, false, true, false, true, 70000);
    const auto& spi = dynamic_cast<const bmc::SpiBusParams&>(*seven);
    EXPECT_EQ(device.GetParams(), seven);
    EXPECT_EQ(spi.m_freq_khz, 70000u & 0xFFFF);
    EXPECT_EQ(spi.m_transfer_len, 16);
    EXPECT_TRUE(spi.m_lsb_first && spi.m_clk_transmit_edge && spi.m_polling);
    EXPECT_FALSE(spi.m_toggle_cs || spi.m_changed);
    const bmc::BusParamsPtr eight = bmc::SetBusParam<bmc::SpiBusParams>(device, false, 8, false, false, false, false,
                                                                        1000, true);
    EXPECT_TRUE(eight->m_toggle_cs);
    EXPECT_EQ(device.GetParams(), eight);
}

TEST(SpiBusParamsTest, TextFormHasSevenLines)
{
    const bmc::SpiBusParams defaults;
    const std::string expected = "LSB first: 0\nTransfer length: 4\nClock sample edge: 0\nClock transmit edge: 0\n"
                                 "Clock polarity: 0\nFreq_khz: 125000\nPolling mode: enabled\n";
    EXPECT_EQ(defaults.ToString(), expected);
    std::ostringstream stream;
    stream << defaults;
    EXPECT_EQ(stream.str(), expected);
    EXPECT_EQ(bmc::SpiBusParams(true, 24, true, true, true, false, 8000, true).ToString(),
              "LSB first: 1\nTransfer length: 24\nClock sample edge: 1\nClock transmit edge: 1\n"
              "Clock polarity: 1\nFreq_khz: 8000\nPolling mode: disabled\n");
}

} // namespace
