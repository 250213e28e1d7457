#ifndef IAPP_TESTS_COMMON_BUS_FIXTURE_H
#define IAPP_TESTS_COMMON_BUS_FIXTURE_H

// Bus-controller components and chip wrappers on slot 3's simulated board: the FPGA I2C and SPI
// core models placed in the board's memory, the controller components laid over those windows
// through the board's own mapping, so that every node access runs the real drivers and
// controllers down to the chip models. Bus waits are instant. Header only, over
// timing_fixture.h (the programs link kavrelsimboards).
//
//     class MyTest : public iapptest::BusBoard {};
//     TEST_F(MyTest, X) {
//         auto* spi = MakeSpi();                           // 4 devices, chip selects active low
//         auto dac = std::make_shared<sim::Dac8581Model>();
//         spiCore->Attach(0, dac);
//         iapp::Create<iapp::DAC8581>(*spi, "dac", bmc::BusDeviceId{0});
//         mci::TreeNodePtr node = AddRegistry(*spi);        // registry/spi
//     }

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bmc/bus_sleep.h"
#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_spi_bus_controller.h"
#include "sim/buscores/i2c_core.h"
#include "sim/buscores/spi_core.h"
#include "timing_fixture.h"

namespace iapptest {

class BusBoard : public TimingBlocks {
protected:
    // Away from the windows of the timing blocks and the simulated timing board.
    static constexpr size_t c_i2cCore = 0xD00000;
    static constexpr size_t c_spiCore = 0xD00100;

    // The SPI core model at c_spiCore, wired with chip selects active high or low, under the
    // component "spi" made with the same polarity unless told otherwise.
    iapp::KavrelSpiBusController* MakeSpi(uint32_t maxDevices = 4, bool activeHigh = false)
    {
        return MakeSpiWired(maxDevices, activeHigh, activeHigh);
    }
    // Likewise at offset, named name, with the core's wiring apart from the component's polarity.
    iapp::KavrelSpiBusController* MakeSpiWired(uint32_t maxDevices, bool csPolarity, bool wiredActiveHigh,
                                               size_t offset = c_spiCore, const std::string& name = "spi")
    {
        spiCore = std::make_shared<sim::SpiCoreModel>(wiredActiveHigh);
        Memory().Attach(offset, sim::SpiCoreModel::c_windowSize, spiCore);
        return board->RegisterObject<iapp::KavrelSpiBusController>(offset, name, maxDevices, csPolarity);
    }

    // The I2C core model at c_i2cCore under the component "i2c".
    iapp::KavrelI2cBusController* MakeI2c(uint32_t maxDevices = 4)
    {
        i2cCore = std::make_shared<sim::I2cCoreModel>();
        Memory().Attach(c_i2cCore, sim::I2cCoreModel::c_windowSize, i2cCore);
        return board->RegisterObject<iapp::KavrelI2cBusController>(c_i2cCore, "i2c", maxDevices);
    }

    bmc::ScopedBusSleep instant{&bmc::InstantBusSleep};
    sim::SpiCoreModelPtr spiCore;
    sim::I2cCoreModelPtr i2cCore;
};

} // namespace iapptest

#endif
