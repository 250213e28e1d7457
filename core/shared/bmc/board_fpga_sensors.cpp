// The FPGA sensors of a board: temperature chips the computer reads through SPI cores in the
// board's mapped FPGA memory.

#include <memory>
#include <vector>

#include "istd/trace.h"
#include "bmc/analog_mux.h"
#include "bmc/board.h"
#include "bmc/bus_controller.h"
#include "bmc/fpga_sensor.h"
#include "bmc/sensor.h"
#include "bmc/spi_bus_controller_fpga_amba.h"
#include "bmc/spi_device_AD7787.h"
#include "bmc/spi_device_ADT7301.h"

namespace bmc {

namespace {

// The ZEK board's windows in its FPGA memory.
constexpr size_t c_zekTemperatureCore = 0x300180; // four ADT7301
constexpr size_t c_zekAdcCore = 0x300100;         // the AD7787
constexpr size_t c_zekMultiplexer = 0x300118;     // the analog multiplexer in front of the AD7787
constexpr uint32_t c_zekTemperatureChips = 4;
constexpr uint32_t c_zekMultiplexerInputs = 4;
constexpr double c_zekAdcReference = 2.5;

volatile tSpiBusController* _Core(const DeviceMapping_t& mapping, size_t offset)
{
    RequireMappedWindow(mapping, offset, sizeof(tSpiBusController));
    return reinterpret_cast<volatile tSpiBusController*>(mapping.address + offset);
}

} // namespace

void Board::AddFpgaSensors(unsigned& nextId)
{
    ISTD_TRACE_FNC("void bmc::Board::AddFpgaSensors(unsigned int&)");
    if (GetType() != eBoardTypeZEK) {
        return;
    }
    // Everything is made aside first and joins the board only when all of it was made: a failure
    // leaves the board as it was, and the mapping released.
    DeviceMapping_t mapping;
    std::vector<BusControllerPtr> controllers;
    std::vector<BusDevicePtr> devices;
    std::vector<std::unique_ptr<Sensor>> sensors;
    unsigned id = nextId;
    try {
        // Room first, so that joining the board below cannot fail halfway.
        m_sensors.reserve(m_sensors.size() + c_zekTemperatureChips + c_zekMultiplexerInputs);
        m_busControllers.reserve(m_busControllers.size() + 2);
        m_busDevices.reserve(m_busDevices.size() + c_zekTemperatureChips + 1);
        m_fpgaMappings.reserve(m_fpgaMappings.size() + 1);
        MapDevice(mapping);
        volatile tSpiBusController* temperatureCore = _Core(mapping, c_zekTemperatureCore);
        volatile tSpiBusController* adcCore = _Core(mapping, c_zekAdcCore);
        RequireMappedWindow(mapping, c_zekMultiplexer, sizeof(uint32_t));

        const BusControllerPtr temperatureBus =
            Create<SpiBusControllerFpgaAmba>("spi_controller", c_zekTemperatureChips, false, temperatureCore);
        controllers.push_back(temperatureBus);
        for (uint32_t i = 0; i < c_zekTemperatureChips; ++i) {
            const BusDevicePtr chip = Create<ADT7301>(temperatureBus, "ADT7301", static_cast<BusDeviceId>(i));
            devices.push_back(chip);
            sensors.push_back(std::make_unique<FpgaSensorADT7301>(*this, SensorId(static_cast<int32_t>(id)),
                                                                  c_zekDevSdr[i], chip));
            ++id;
        }
        const AnalogMux mux(mapping.address + c_zekMultiplexer, "analog_mux", c_zekMultiplexerInputs);
        const BusControllerPtr adcBus = Create<SpiBusControllerFpgaAmba>("spi_controller", 1, false, adcCore);
        controllers.push_back(adcBus);
        const BusDevicePtr adc = Create<AD7787>(adcBus, "AD7787", 0, c_zekAdcReference);
        devices.push_back(adc);
        for (uint32_t i = 0; i < c_zekMultiplexerInputs; ++i) {
            sensors.push_back(std::make_unique<FpgaSensorAD7787Mux>(*this, SensorId(static_cast<int32_t>(id)),
                                                                    c_zekDevSdr[c_zekTemperatureChips + i], adc,
                                                                    mux, i));
            ++id;
        }
    } catch (...) {
        sensors.clear();
        devices.clear();
        controllers.clear();
        UnmapDevice(mapping);
        throw;
    }
    for (auto& sensor : sensors) {
        m_sensors.push_back(std::move(sensor));
    }
    m_busControllers.insert(m_busControllers.end(), controllers.begin(), controllers.end());
    m_busDevices.insert(m_busDevices.end(), devices.begin(), devices.end());
    m_fpgaMappings.push_back(mapping);
    nextId = id;
}

} // namespace bmc
