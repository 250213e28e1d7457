#ifndef BMC_TESTS_BUS_RIGS_H
#define BMC_TESTS_BUS_RIGS_H

// The bus layer on simulated FPGA cores: a register block whose window a core model claims in
// devio, a controller made on the block, and chip drivers in their simplest form. Programs that
// include this link kavrelsimbuscores.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devio/reg_access.h"
#include "bmc/bus_controller.h"
#include "bmc/i2c_bus_controller_fpga_amba.h"
#include "bmc/i2c_device.h"
#include "bmc/spi_bus_controller_fpga_amba.h"
#include "bmc/spi_device.h"
#include "sim/buscores/i2c_core.h"
#include "sim/buscores/register_chips.h"
#include "sim/buscores/spi_core.h"

namespace bmctest {

class TestI2cChip : public bmc::I2cDevice {
public:
    TestI2cChip(bmc::BusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
                uint8_t bus, uint32_t freq_khz = 100)
        : I2cDevice(controller, name, id)
    {
        bmc::SetBusParam<bmc::I2cBusParams>(*this, address, bus, freq_khz);
    }
};

class TestSpiChip : public bmc::SpiDevice {
public:
    TestSpiChip(bmc::BusController& controller, const std::string& name, bmc::BusDeviceId id,
                const bmc::SpiBusParams& p)
        : SpiDevice(controller, name, id)
    {
        SetParams(std::make_shared<bmc::SpiBusParams>(p));
    }
};

// Sleeps are instant while a rig lives.
struct I2cRig {
    explicit I2cRig(uint32_t maxDevices = 8)
        : core(std::make_shared<sim::I2cCoreModel>()), claim(core->Claim(&block)),
          bus(bmc::Create<bmc::I2cBusControllerFpgaAmba>("i2c", maxDevices, &block))
    {
    }
    I2cRig(const I2cRig&) = delete;
    I2cRig& operator=(const I2cRig&) = delete;

    // A register-file chip at the address of the bus, driven by a device of the given id.
    std::shared_ptr<sim::I2cRegisterChip> AddChip(const std::string& name, bmc::BusDeviceId id, uint8_t address,
                                                  uint8_t busNumber, bmc::BusDevicePtr& device,
                                                  uint32_t freq_khz = 100)
    {
        auto chip = std::make_shared<sim::I2cRegisterChip>();
        core->Attach(busNumber, address, chip);
        device = bmc::Create<TestI2cChip>(bus, name, id, address, busNumber, freq_khz);
        return chip;
    }

    bmc::ScopedBusSleep instant{&bmc::InstantBusSleep};
    bmc::tI2cBusController block{};
    sim::I2cCoreModelPtr core;
    devio::RangeClaim claim;
    bmc::BusControllerPtr bus;
};

struct SpiRig {
    explicit SpiRig(bool activeHigh = false, uint32_t maxDevices = 4)
        : core(std::make_shared<sim::SpiCoreModel>(activeHigh)), claim(core->Claim(&block)),
          bus(bmc::Create<bmc::SpiBusControllerFpgaAmba>("spi", maxDevices, activeHigh, &block))
    {
    }
    SpiRig(const SpiRig&) = delete;
    SpiRig& operator=(const SpiRig&) = delete;

    bmc::ScopedBusSleep instant{&bmc::InstantBusSleep};
    bmc::tSpiBusController block{};
    sim::SpiCoreModelPtr core;
    devio::RangeClaim claim;
    bmc::BusControllerPtr bus;
};

} // namespace bmctest

#endif
