// SPI chip drivers whose settings share one cached word or cache, set from two threads at once
// (in an application, through two nodes served by two CORBA threads): no setting is lost and the
// cache matches the chip.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

#include "bmc/spi_device_DAC7554.h"
#include "bmc/spi_device_LMH6518.h"
#include "common/bus_rigs.h"
#include "sim/chips/dac7554.h"
#include "sim/chips/lmh6518.h"

namespace {

constexpr int c_rounds = 2000;

template <class DRIVER, class MODEL, class... ARGS>
DRIVER& Attach(bmctest::SpiRig& rig, const std::shared_ptr<MODEL>& model, bmc::BusDevicePtr& device, ARGS&&... args)
{
    rig.core->Attach(0, model);
    device = bmc::Create<DRIVER>(rig.bus, "chip", 0, std::forward<ARGS>(args)...);
    return static_cast<DRIVER&>(*device);
}

void RunTogether(const std::function<void(int)>& first, const std::function<void(int)>& second)
{
    std::thread other([&] {
        for (int i = 0; i < c_rounds; ++i) {
            second(i);
        }
    });
    for (int i = 0; i < c_rounds; ++i) {
        first(i);
    }
    other.join();
}

// Each field setter reads the cached word, changes its field and writes the word back.
TEST(SpiChipsThreads, AmplifierFieldsSetTogetherAreAllKept)
{
    bmctest::SpiRig rig;
    auto model = std::make_shared<sim::Lmh6518Model>();
    bmc::BusDevicePtr device;
    auto& chip = Attach<bmc::LMH6518>(rig, model, device, true);
    RunTogether([&](int i) { chip.SetAttenuation(static_cast<bmc::LMH6518::tAttenuator>(i % 16)); },
                [&](int i) { chip.SetHiGain(i % 2 == 0); });
    uint16_t raw = 0;
    chip.GetRaw(raw);
    EXPECT_EQ(raw & 0xF, (c_rounds - 1) % 16);
    EXPECT_EQ((raw & 0x10) != 0, (c_rounds - 1) % 2 == 0);
    EXPECT_EQ(model->GetControl(), raw);
}

// A power-down request writes the channel's cached value again.
TEST(SpiChipsThreads, QuadDacValueAndPowerDownOfOneChannel)
{
    bmctest::SpiRig rig;
    auto model = std::make_shared<sim::Dac7554Model>();
    bmc::BusDevicePtr device;
    auto& chip = Attach<bmc::DAC7554>(rig, model, device);
    RunTogether([&](int i) { chip.SetValue(1, static_cast<uint16_t>(i)); },
                [&](int) { chip.SetPowerDownMode(1, bmc::DAC7554::ePowerDownOff); });
    EXPECT_EQ(chip.GetValue(1), model->GetOutput(1));
    EXPECT_EQ(chip.GetPowerDownMode(1), bmc::DAC7554::ePowerDownOff);
}

} // namespace
