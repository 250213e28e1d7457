#pragma once
// The SPI chips that board management reaches through a board's mapped FPGA memory, placed on a
// simulated monitor device, so that the system's own paths (mapping, controllers at their
// offsets, drivers) run against them unchanged:
//
//     sim::MonitorDevice device("/dev/kavrel5.monitor", 0x400000, 1);   // feature bit 0: flash
//     sim::PcieFlashSite flash = sim::AttachPcieFlash(device, sim::SpiFlashModel::Make(...));
//     sim::ZekSensorSite sensors = sim::AttachZekSensors(device);
//
// - The configuration flash behind the SPI core at 0x307000, chip select 0, active low.
// - The ZEK board's temperature sensors: four ADT7301 on chip selects 0-3 of the core at 0x300180,
//   and an AD7787 on chip select 0 of the core at 0x300100, whose output register (0x300118) drives
//   the analog multiplexer in front of the ADC: its low bits choose the input converted.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "sim/buscores/spi_core.h"
#include "sim/chips/ad7787.h"
#include "sim/chips/adt7301.h"
#include "sim/chips/spi_flash.h"
#include "sim/devices/monitor_device.h"

namespace sim {

constexpr size_t c_pcieFlashCore = 0x307000;
constexpr size_t c_zekTemperatureCore = 0x300180;
constexpr size_t c_zekAdcCore = 0x300100;
constexpr size_t c_zekMultiplexer = c_zekAdcCore + SpiCoreModel::c_output;

struct PcieFlashSite {
    SpiCoreModelPtr core;
    SpiFlashModelPtr flash; // null: no flash answers
};

// The core at 0x307000 with the flash on chip select 0; a null flash leaves the line empty (the
// bus reads ones, as with a flash that does not answer). Throws as MonitorDevice::AttachModel.
PcieFlashSite AttachPcieFlash(MonitorDevice& device, SpiFlashModelPtr flash);

struct ZekSensorSite {
    SpiCoreModelPtr temperatureCore;
    SpiCoreModelPtr adcCore;
    std::array<std::shared_ptr<Adt7301Model>, 4> adt7301;
    std::shared_ptr<Ad7787Model> ad7787; // its input follows the multiplexer register

    // The multiplexer input the register selects now.
    uint32_t MultiplexerInput() const { return static_cast<uint32_t>(adcCore->GetOutput()); }
};

// Both cores with their chips (reference 2.5 V, every input at 0 V, temperatures 25 °C).
ZekSensorSite AttachZekSensors(MonitorDevice& device);

} // namespace sim
