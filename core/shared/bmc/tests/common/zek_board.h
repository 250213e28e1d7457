#ifndef BMC_TESTS_ZEK_BOARD_H
#define BMC_TESTS_ZEK_BOARD_H

// A powered ZEK board in chassis slot 5 whose monitor device carries the simulated SPI cores and
// chips of its FPGA sensors (sim/chips/board_spi_sites.h). Programs that include this link
// kavrelsimchips.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "bmc/board.h"
#include "bmc/bus_sleep.h"
#include "board_helpers.h"
#include "sim/chips/board_spi_sites.h"
#include "sim/devices/monitor_device.h"

namespace bmctest {

// The voltage of the ZEK board's thermometer divider (a 1000 Ω platinum thermometer under 4700 Ω
// on 3.3 V) at a temperature: Callendar–Van Dusen above 0 °C, the forward direction of what the
// AD7787 driver inverts.
inline double ThermometerVolts(double celsius)
{
    const double r = 1000.0 * (1.0 + 3.9083e-3 * celsius - 5.775e-7 * celsius * celsius);
    return 3.3 * r / (4700.0 + r);
}

struct ZekBoard {
    static constexpr uint8_t c_zek = 175;

    explicit ZekBoard(size_t memory = 0x400000, uint8_t type = c_zek, uint8_t firmware = c_zek)
        : connection(Identity(type, firmware)), device("/dev/kavrel5.monitor", memory),
          board(std::make_unique<bmc::Board>(bmc::DecomposeUri("kvr:///chassis/5"), bmc::eBoardPowerMngMain, "",
                                             &connection))
    {
        if (memory >= sim::c_zekTemperatureCore + sim::SpiCoreModel::c_windowSize) {
            site = sim::AttachZekSensors(device);
        }
    }

    bmc::ScopedBusSleep instant{&bmc::InstantBusSleep};
    IdentityConnection connection;
    sim::MonitorDevice device;
    sim::ZekSensorSite site; // empty when the memory is too small to hold the cores
    std::unique_ptr<bmc::Board> board; // released before the device
};

} // namespace bmctest

#endif
