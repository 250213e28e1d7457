#include "bmc/bus_params.h"

namespace bmc {

BusParams::BusParams(uint32_t freq_khz, bool polling, bool toggle_cs)
    : m_freq_khz(freq_khz), m_polling(polling), m_toggle_cs(toggle_cs), m_changed(false)
{
}

// Out of line, so that the type has one home and dynamic_cast to the I2C and SPI kinds works in
// every library and program.
BusParams::~BusParams() = default;

} // namespace bmc
