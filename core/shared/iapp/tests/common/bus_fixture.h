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
#include "tests/support/error_of.h"
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

    // The nodes below the chip wrapper's node `chip` (set by the test), by path
    // ("alarm/limits/upper"), read and written as a client does; a write answers the refusal's
    // text or "no error".
    std::shared_ptr<ireg::RegNode> ChipNode(const std::string& path) const { return Node<ireg::RegNode>(chip, path); }
    template <class T>
    T ChipGet(const std::string& path, size_t pos = 0) const
    {
        T value{};
        ChipNode(path)->Get(value, pos, mci::c_noRelPath);
        return value;
    }
    template <class T>
    std::string ChipSet(const std::string& path, const T& value, size_t pos = 0) const
    {
        return testsupport::ErrorOf([&] { ChipNode(path)->Set(value, pos, mci::c_noRelPath); });
    }

    bmc::ScopedBusSleep instant{&bmc::InstantBusSleep};
    mci::TreeNodePtr chip;
    sim::SpiCoreModelPtr spiCore;
    sim::I2cCoreModelPtr i2cCore;
};

} // namespace iapptest

#endif
