// The LED dimmer driver against the dimmer model: output modes set and read in ranges across the
// selector registers, the range cut at output 15, the refused start, and single selector
// registers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "bmc/i2c_device_PCA9532.h"
#include "common/i2c_chip_rig.h"
#include "sim/chips/pca9532.h"
#include "tests/support/error_of.h"

namespace {

using Mode = bmc::PCA9532::tMode;
using testsupport::ErrorOf;

constexpr uint8_t c_address = sim::Pca9532Model::c_baseAddress + 2;

class Pca9532Test : public testing::Test {
protected:
    Pca9532Test() : m_rig(true, c_address) {}

    bmc::PCA9532& Dimmer() { return *m_rig.driver; }
    sim::Pca9532Model& Model() { return *m_rig.model; }

    // The registers the driver pointed at (the first byte after each write address).
    std::set<unsigned> Touched() const
    {
        std::set<unsigned> regs;
        const std::vector<sim::I2cEvent> events = m_rig.core->GetEvents();
        for (size_t i = 0; i + 1 < events.size(); ++i) {
            if (events[i].kind == sim::I2cEvent::eStart && (events[i].byte & 1) == 0 &&
                events[i + 1].kind == sim::I2cEvent::eWrite) {
                regs.insert(events[i + 1].byte);
            }
        }
        return regs;
    }

    std::vector<unsigned> LedModes() const
    {
        std::vector<unsigned> modes;
        for (unsigned pin = 0; pin < 16; ++pin) {
            modes.push_back(m_rig.model->GetLedMode(pin));
        }
        return modes;
    }

    bmctest::I2cChipRig<bmc::PCA9532, sim::Pca9532Model> m_rig;
};

TEST_F(Pca9532Test, RangesChangeOnlyTheirOutputs)
{
    struct Case {
        size_t start;
        size_t count;
        bool result;
        std::set<unsigned> registers;
        std::vector<unsigned> modes; // of outputs 0..15 afterwards, from all 3
    };
    const Case cases[] = {
        {2, 4, true, {6, 7}, {3, 3, 0, 1, 2, 0, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}},
        {0, 1, true, {6}, {0, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}},
        {12, 4, true, {9}, {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 1, 2, 0}},
        {15, 1, true, {9}, {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0}},
        {14, 10, true, {9}, {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 1}},
        {0, 16, true, {6, 7, 8, 9}, {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0}},
        {5, 0, false, {}, {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}},
    };
    Mode pattern[16]; // 0, 1, 2, 0, 1, 2, ...
    for (size_t i = 0; i < 16; ++i) {
        pattern[i] = static_cast<Mode>(i % 3);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << "+" << c.count);
        for (uint8_t reg = 6; reg <= 9; ++reg) {
            Model().Set(reg, 0xFF);
        }
        m_rig.core->ClearTraces();
        EXPECT_EQ(Dimmer().SetOperationModes(pattern, c.start, c.count), c.result);
        EXPECT_EQ(LedModes(), c.modes);
        EXPECT_EQ(Touched(), c.registers);

        m_rig.core->ClearTraces();
        Mode read[16];
        const size_t expected = std::min<size_t>(c.count, 16 - c.start);
        EXPECT_EQ(Dimmer().GetOperationModes(read, c.start, c.count), expected);
        EXPECT_EQ(Touched(), c.registers);
        for (size_t i = 0; i < expected; ++i) {
            EXPECT_EQ(read[i], pattern[i]) << "output " << c.start + i;
        }
    }
}

TEST_F(Pca9532Test, AStartPastTheLastOutputIsRefusedBeforeAnyTransfer)
{
    Mode modes[4] = {};
    const size_t messages = Model().GetMessageCount();
    EXPECT_EQ(ErrorOf([&] { Dimmer().SetOperationModes(modes, 16, 1); }), "Start index is out of range");
    EXPECT_EQ(ErrorOf([&] { Dimmer().GetOperationModes(modes, 16, 0); }), "Start index is out of range");
    EXPECT_EQ(ErrorOf([&] { Dimmer().GetOperationModes(modes, 100, 4); }), "Start index is out of range");
    EXPECT_EQ(Model().GetMessageCount(), messages);
}

TEST_F(Pca9532Test, SingleSelectorRegisters)
{
    // The first mode is the register's highest output; a mode above 3 keeps its low two bits.
    EXPECT_TRUE(Dimmer().SetModes(bmc::PCA9532::eLedSelect2, static_cast<Mode>(5), bmc::PCA9532::eModeBlink0,
                                  bmc::PCA9532::eModeOff, bmc::PCA9532::eModeBlink1));
    EXPECT_EQ(Model().Get(8), 0x63);
    EXPECT_EQ(Model().GetLedMode(8), 3u);
    EXPECT_EQ(Model().GetLedMode(11), 1u);
    Mode a, b, c, d;
    EXPECT_TRUE(Dimmer().GetModes(bmc::PCA9532::eLedSelect2, a, b, c, d));
    EXPECT_EQ(std::vector<Mode>({a, b, c, d}),
              std::vector<Mode>({bmc::PCA9532::eModeOn, bmc::PCA9532::eModeBlink0, bmc::PCA9532::eModeOff,
                                 bmc::PCA9532::eModeBlink1}));
    // The other registers through the plain register access.
    Model().SetInputs(0xA55A);
    EXPECT_EQ(Dimmer().Get(0), 0x5A);
    EXPECT_EQ(Dimmer().Get(1), 0xA5);
    Dimmer().Set(3, 0x40);
    EXPECT_EQ(Model().Get(3), 0x40);
}

} // namespace
