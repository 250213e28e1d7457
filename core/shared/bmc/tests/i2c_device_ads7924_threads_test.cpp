// The ADC's conversion read holds the bus: while another thread keeps a second chip on the same
// bus busy, the transfers of each conversion (mode switch, channel, data, mode back) stay
// together on the bus and every result is the channel's.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "bmc/i2c_device_ADS7924.h"
#include "common/i2c_chip_rig.h"
#include "sim/chips/ads7924.h"

namespace {

using Adc = bmc::ADS7924;

TEST(Ads7924ThreadsTest, AConversionReadIsNotInterleaved)
{
    bmctest::I2cChipRig<Adc, sim::Ads7924Model> rig;
    bmc::BusDevicePtr other;
    rig.AddChip("eeprom", 1, 0x50, bmctest::I2cChipRig<Adc, sim::Ads7924Model>::c_bus, other);
    const uint16_t inputs[4] = {0x111, 0x222, 0x333, 0x444};
    for (unsigned ch = 0; ch < 4; ++ch) {
        rig.model->SetInput(ch, inputs[ch]);
    }

    std::atomic<bool> done{false};
    std::atomic<int> neighbourTransfers{0};
    std::thread neighbour([&] {
        auto& eeprom = static_cast<bmc::I2cDevice&>(*other);
        uint8_t value = 0;
        while (!done.load()) {
            eeprom.Set(0x10, value++);
            eeprom.Get(0x10);
            neighbourTransfers += 2;
        }
    });
    while (neighbourTransfers.load() == 0) {
        std::this_thread::yield(); // both threads on the bus from the first conversion on
    }
    constexpr int c_reads = 60;
    int wrong = 0;
    for (int i = 0; i < c_reads; ++i) {
        const auto ch = static_cast<Adc::tChannel>(i % 4);
        wrong += rig.driver->GetConversionData(ch) != inputs[ch];
    }
    done = true;
    neighbour.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(rig.model->GetModeViolations(), 0u);

    // From idle a conversion read is 11 transfers, each opened by a START with the ADC's write
    // address: runs of them between the neighbour's transfers come in whole conversions.
    const uint8_t adc = static_cast<uint8_t>(sim::Ads7924Model::c_address << 1);
    size_t run = 0;
    size_t total = 0;
    for (const sim::I2cEvent& e : rig.core->GetEvents()) {
        if (e.kind != sim::I2cEvent::eStart || (e.byte & 1) != 0) {
            continue;
        }
        if (e.byte == adc) {
            ++run;
            ++total;
        } else {
            EXPECT_EQ(run % 11, 0u) << "a conversion was cut after " << total << " transfers";
            run = 0;
        }
    }
    EXPECT_EQ(run % 11, 0u);
    EXPECT_EQ(total, 11u * c_reads);
}

} // namespace
