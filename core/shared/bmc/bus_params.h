#ifndef BMC_BUS_PARAMS_H
#define BMC_BUS_PARAMS_H

// The bus settings of one chip: the base that the I2C and SPI parameter sets extend. A chip
// driver makes its parameters with bmc::SetBusParam (bmc/bus_controller.h) in its constructor;
// the controller programs its core with them before a transfer to the chip, again whenever
// another chip was served in between or the driver marked them changed.

#include <cstdint>
#include <memory>

#include "bmc/bmc_export.h"

namespace bmc {

class BMC_API BusParams : public std::enable_shared_from_this<BusParams> {
public:
    BusParams(uint32_t freq_khz, bool polling, bool toggle_cs);
    virtual ~BusParams();

    // Bus clock in kHz, handed to the controller's SetBusParams.
    uint32_t m_freq_khz;
    // After each written word wait until the core is idle (and, on I2C, the byte acknowledged);
    // otherwise pause 1 µs.
    bool m_polling;
    // Release and select the chip again between the written and the read words.
    bool m_toggle_cs;
    // A driver that alters parameters already in use sets it, so that every later transfer
    // programs them again; nothing clears it.
    bool m_changed;
    // The word that clocks each read word in on a controller that writes one for it (SPI): 0,
    // unless a zero word means something to the chip (the LMH6518 takes it as a write of 0).
    uint64_t m_read_frame = 0;
};

using BusParamsPtr = std::shared_ptr<BusParams>;

} // namespace bmc

#endif
