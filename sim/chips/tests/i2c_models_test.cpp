// The I2C chip models on their own, driven from the chip's side of the wire: pointer and
// auto-increment rules, read-only and self-clearing registers, faults, and the chip behaviour the
// drivers' tests do not reach.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/chips/ads7924.h"
#include "sim/chips/pca9532.h"
#include "sim/chips/sfp_phy.h"
#include "sim/chips/si5338.h"
#include "sim/chips/si57x.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One message of bytes written after the write address; false at the first refused step.
bool Write(sim::I2cChipModel& chip, const Bytes& bytes)
{
    bool acked = chip.OnStart(false);
    for (size_t i = 0; acked && i < bytes.size(); ++i) {
        acked = chip.OnWriteByte(bytes[i]);
    }
    chip.OnStop();
    return acked;
}

// The pointer byte, STOP, then count bytes read, as the bus layer reads.
Bytes Read(sim::I2cChipModel& chip, uint8_t pointer, size_t count)
{
    Write(chip, {pointer});
    Bytes bytes;
    if (chip.OnStart(true)) {
        for (size_t i = 0; i < count; ++i) {
            bytes.push_back(chip.OnReadByte(i + 1 < count));
        }
    }
    chip.OnStop();
    return bytes;
}

TEST(I2cChipModels, AutoIncrementOnlyWhereThePointerByteAsksForIt)
{
    sim::Pca9532Model dimmer;
    ASSERT_TRUE(Write(dimmer, {0x16, 0x11, 0x22, 0x33, 0x44, 0x55})); // bit 4: from register 6 on, wrapping
    EXPECT_EQ(dimmer.Get(9), 0x44);
    EXPECT_EQ(dimmer.Get(0), 0xFF); // the inputs are read-only
    EXPECT_EQ(dimmer.Get(2), 0x00);
    ASSERT_TRUE(Write(dimmer, {0x07, 0xAA, 0xBB})); // no auto-increment: both bytes to register 7
    EXPECT_EQ(dimmer.Get(7), 0xBB);
    EXPECT_EQ(dimmer.Get(8), 0x33);

    sim::Ads7924Model adc;
    adc.SetInput(1, 0x9A5);
    Write(adc, {0x00, 0x80}); // awake
    Write(adc, {0x00, 0xC1}); // manual single, channel 1
    EXPECT_EQ(Read(adc, 0x84, 2), (Bytes{0x9A, 0x50})); // bit 7: both result registers
    EXPECT_EQ(Read(adc, 0x04, 2), (Bytes{0x9A, 0x9A}));
    EXPECT_EQ(adc.GetConversions(1), 1u);
    EXPECT_EQ(adc.GetModeViolations(), 0u);
    Write(adc, {0x00, 0x00});
    Write(adc, {0x00, 0xC8}); // manual scan straight from idle
    EXPECT_EQ(adc.GetModeViolations(), 1u);
    Write(adc, {0x16, 0xAA});
    EXPECT_EQ(adc.GetResets(), 1u);
    EXPECT_EQ(adc.GetMode(), 0u);
}

TEST(I2cChipModels, ClockGeneratorPagesAndStatus)
{
    sim::Si5338Model gen;
    Write(gen, {0xFF, 0x01});     // page 1
    Write(gen, {0x2C, 0x5A});     // page 1's address 44 is register 300
    EXPECT_EQ(gen.Get(300), 0x5A);
    EXPECT_EQ(gen.Get(44), 0x00);
    Write(gen, {0xFF, 0x00});
    Write(gen, {0xDA, 0xFF});     // 218 is read-only
    gen.Set(235, 0x12);
    Write(gen, {0xEB, 0x00});     // so is 235
    EXPECT_EQ(gen.Get(235), 0x12);
    gen.SetStatusScript({0x10, 0x00});
    EXPECT_EQ(Read(gen, 0xDA, 1), Bytes{0x10});
    EXPECT_EQ(Read(gen, 0xDA, 1), Bytes{0x00});
    EXPECT_EQ(Read(gen, 0xDA, 1), Bytes{0x00});
    EXPECT_EQ(gen.GetStatusReads(), 3u);
    Write(gen, {0xF6, 0x02});
    EXPECT_EQ(gen.GetSoftResets(), 1u);
    EXPECT_EQ(gen.Get(246), 0x00);
    EXPECT_EQ(gen.GetPageWrites(), 2u);
}

TEST(I2cChipModels, OscillatorAppliesOnlyWithTheDcoRunning)
{
    sim::Si57xModel osc;
    const sim::Si57xModel::Setting factory = osc.GetFactory();
    EXPECT_NEAR(osc.GetOutputFrequency(), 100e6, 1.0);
    Write(osc, {0x89, 0x10});       // freeze the DCO
    Write(osc, {0x07, 0x21, 0xC2}); // HS_DIV 5 (code 1), N1 8 (code 7): a new set
    Write(osc, {0x87, 0x40});       // apply while frozen: nothing happens
    EXPECT_EQ(osc.GetApplies(), 0u);
    EXPECT_EQ(osc.GetOutput(), factory);
    Write(osc, {0x89, 0x00});
    Write(osc, {0x87, 0x40});
    EXPECT_EQ(osc.GetApplies(), 1u);
    EXPECT_EQ(osc.GetOutput().N1(), 8u);
    EXPECT_EQ(osc.Get(135), 0x00); // the apply bit clears itself
    EXPECT_EQ(osc.GetUnfrozenWrites(), 0u);
    Write(osc, {0x0C, 0x00});       // a divider register with the DCO running
    EXPECT_EQ(osc.GetUnfrozenWrites(), 1u);
    Write(osc, {0x87, 0x01});       // recall
    EXPECT_EQ(osc.GetRegisters(), factory);
    EXPECT_EQ(osc.GetRecalls(), 1u);
}

TEST(I2cChipModels, PhyWordsAndFaults)
{
    sim::SfpPhyModel phy;
    Write(phy, {0x04, 0x12});       // a lone high byte changes nothing
    EXPECT_EQ(phy.GetWord(4), 0x0000);
    Write(phy, {0x04, 0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(phy.GetWord(4), 0x1234);
    EXPECT_EQ(phy.GetWord(5), 0x5678);
    Write(phy, {0x00, 0x80, 0x00}); // reset clears itself
    EXPECT_EQ(phy.GetWord(0), 0x0000);
    Write(phy, {0x01, 0x00, 0x00}); // status is read-only
    EXPECT_EQ(phy.GetWord(1), 0x7949);

    phy.SetNackData(true);
    EXPECT_FALSE(Write(phy, {0x04, 0xFF, 0xFF}));
    EXPECT_EQ(phy.GetWord(4), 0x1234);
    phy.SetNackData(false);
    phy.SetAnswering(false);
    const size_t messages = phy.GetMessageCount();
    EXPECT_FALSE(phy.OnStart(false));
    EXPECT_EQ(phy.GetMessageCount(), messages);
}

} // namespace
