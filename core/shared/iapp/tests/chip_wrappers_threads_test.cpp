// Chip wrappers whose nodes share one chip register, set from two threads at once through the
// nodes as clients set them: every set must end (no lock-order deadlock between the nodes), no
// set may undo another's bits, and the chip, the nodes and the last notifications must agree.

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/bus_fixture.h"
#include "common/run_together.h"
#include "iapp/devices/spi_DAC7554.h"
#include "iapp/kavrel_i2c_bus_device_ADS7924.h"
#include "iapp/kavrel_spi_bus_device_LMH6518.h"
#include "ireg/tests/common/ireg_test_util.h"
#include "sim/chips/ads7924.h"
#include "sim/chips/dac7554.h"
#include "sim/chips/lmh6518.h"

namespace {

class WrapperThreads : public iapptest::BusBoard {
protected:
    void TearDown() override
    {
        recorder.Client()->Shutdown();
        BusBoard::TearDown();
    }

    // Waits for count notifications, a minute at most.
    bool Delivered(size_t count)
    {
        for (int i = 0; i < 6; ++i) {
            if (recorder.WaitFor(count)) {
                return true;
            }
        }
        return false;
    }

    // The value of the last notification of the node.
    template <class T>
    T Last(const mci::TreeNodePtr& node)
    {
        const std::vector<mci::NotificationData> received = recorder.Received();
        for (auto it = received.rbegin(); it != received.rend(); ++it) {
            if (it->node.GetTreeNode() == node) {
                return std::any_cast<T>(it->value);
            }
        }
        ADD_FAILURE() << "no notification of " << node->GetName();
        return T{};
    }

    iregtest::Recorder recorder;
};

TEST_F(WrapperThreads, AmplifierWordAndAttenuationSetTogether)
{
    constexpr int c_sets = 10000;
    auto* spi = MakeSpi(4);
    spiCore->SetTracing(false);
    auto model = std::make_shared<sim::Lmh6518Model>();
    model->SetRecording(false);
    spiCore->Attach(0, model);
    iapp::Create<iapp::LMH6518>(*spi, "amp", bmc::BusDeviceId{0}, true);
    chip = AddRegistry(*spi)->GetNode("amp");
    const mci::TreeNodePtr value = ChipNode("value");
    const mci::TreeNodePtr attenuation = ChipNode("attenuation");
    ASSERT_TRUE(recorder.Subscribe(value));
    ASSERT_TRUE(recorder.Subscribe(attenuation));

    // Words with named codes only, every field changing.
    const auto word = [](int i) {
        return static_cast<uint32_t>((i % 7) << 6 | (i & 1) << 4 | (i & 2) << 9 | i % 11);
    };
    const char* names[] = {"0", "-2", "-4", "-6", "-8", "-10", "-12", "-14", "-16", "-18", "-20"};
    // The attenuation thread changes only bits 3..0: the word thread reads the rest back as it
    // wrote them, unless an attenuation set wrote back a word older than its own.
    std::atomic<int> undone{0};
    iapptest::RunTogether(
        c_sets,
        [&](int i) {
            value->Set(word(i), 0, mci::c_noRelPath);
            uint32_t read = 0;
            value->Get(read, 0, mci::c_noRelPath);
            undone += (read & ~0x0Fu) != (word(i) & ~0x0Fu);
        },
        [&](int i) { attenuation->Set(std::string(names[(i * 7) % 11]), 0, mci::c_noRelPath); });
    EXPECT_EQ(undone.load(), 0);

    // Bits 3..0 are the last word's or the last attenuation set.
    const uint16_t control = model->GetControl();
    EXPECT_EQ(control & ~0x0Fu, word(c_sets - 1) & ~0x0Fu);
    const uint32_t lastCode = ((c_sets - 1) * 7) % 11;
    EXPECT_TRUE((control & 0x0Fu) == (word(c_sets - 1) & 0x0Fu) || (control & 0x0Fu) == lastCode) << control;
    EXPECT_EQ(ChipGet<uint32_t>("value"), control);
    EXPECT_EQ(static_cast<uint32_t>(ChipGet<int32_t>("attenuation")), control & 0x0Fu);

    // Each set notifies both nodes; the last notification of each shows the chip's word.
    ASSERT_TRUE(Delivered(4 * c_sets));
    EXPECT_EQ(Last<uint32_t>(value), control);
    EXPECT_EQ(static_cast<uint32_t>(Last<int32_t>(attenuation)), control & 0x0Fu);
}

TEST_F(WrapperThreads, AdcInterruptModeAndPolaritySetTogetherLoseNoUpdate)
{
    constexpr int c_sets = 4000;
    auto* i2c = MakeI2c(4);
    i2cCore->SetTracing(false);
    auto model = std::make_shared<sim::Ads7924Model>();
    i2cCore->Attach(0, sim::Ads7924Model::c_address, model);
    iapp::Create<iapp::ADS7924>(*i2c, "adc", bmc::BusDeviceId{0}, sim::Ads7924Model::c_address, uint8_t{0});
    chip = AddRegistry(*i2c)->GetNode("adc");
    const mci::TreeNodePtr mode = ChipNode("interrupt/mode");
    const mci::TreeNodePtr polarity = ChipNode("interrupt/polarity");

    // Each thread reads its own field back after each set: nobody else sets it, so any other
    // value is an update the other thread's write undid.
    const char* modes[] = {"alarm_alarm", "busy_alarm", "single_single", "busy_single",
                           "off",         "unused",     "all_all",       "busy_all"};
    const char* polarities[] = {"low", "high"};
    std::atomic<int> lost{0};
    iapptest::RunTogether(
        c_sets,
        [&](int i) {
            mode->Set(std::string(modes[i % 8]), 0, mci::c_noRelPath);
            std::string read;
            mode->Get(read, 0, mci::c_noRelPath);
            lost += read != modes[i % 8];
        },
        [&](int i) {
            polarity->Set(std::string(polarities[i % 2]), 0, mci::c_noRelPath);
            std::string read;
            polarity->Get(read, 0, mci::c_noRelPath);
            lost += read != polarities[i % 2];
        });
    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(model->Get(0x12), ((c_sets - 1) % 8) << 2 | ((c_sets - 1) % 2) << 1);
}

TEST_F(WrapperThreads, DacValueAndPowerDownSetTogetherLeaveTheLastValue)
{
    constexpr int c_sets = 4000;
    auto* spi = MakeSpi(4);
    spiCore->SetTracing(false);
    auto model = std::make_shared<sim::Dac7554Model>();
    model->SetRecording(false);
    spiCore->Attach(0, model);
    iapp::Create<iapp::DAC7554>(*spi, "dac", bmc::BusDeviceId{0});
    chip = AddRegistry(*spi)->GetNode("dac");
    const mci::TreeNodePtr value = ChipNode("channel_1/value");
    const mci::TreeNodePtr mode = ChipNode("channel_1/power_down_mode");

    // "Off" writes the output's value again: never an older one over a newer.
    iapptest::RunTogether(
        c_sets, [&](int i) { value->Set(static_cast<uint32_t>(i % 4096), 0, mci::c_noRelPath); },
        [&](int) { mode->Set(std::string("Off"), 0, mci::c_noRelPath); });
    const uint16_t last = (c_sets - 1) % 4096;
    EXPECT_EQ(model->GetOutput(1), last);
    EXPECT_EQ(ChipGet<uint32_t>("channel_1/value"), last);
    EXPECT_EQ(ChipGet<std::string>("channel_1/power_down_mode"), "Off");
}

} // namespace
