#ifndef BMC_SPI_BUS_CONTROLLER_H
#define BMC_SPI_BUS_CONTROLLER_H

// An SPI bus: a bus controller whose read words are clocked in by zero words written first, with
// one chip-select line per device id (bit n of a 32-bit word for id n).

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/bus_controller.h"

namespace bmc {

class BMC_API SpiBusController : public BusController {
public:
    // At most 32 device ids: their chip selects are the bits of a 32-bit word; more are refused.
    // csPolarity true: a selected line is 1 (active high); false: the word is inverted.
    SpiBusController(const std::string& name, uint32_t maxDevices, bool csPolarity);
    ~SpiBusController() override;

    static constexpr uint32_t c_maxDeviceIds = 32;

    using BusController::Read;
    using BusController::Write;

    bool GetChipSelectPolarity() const { return m_cs_polarity; }

protected:
    const bool m_cs_polarity;
};

} // namespace bmc

#endif
