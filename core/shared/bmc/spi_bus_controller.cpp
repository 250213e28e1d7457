#include "bmc/spi_bus_controller.h"

#include "istd/exception.h"

namespace bmc {

namespace {

// Checked before the base is built, so a refused controller makes nothing.
uint32_t _CheckedIds(const std::string& name, uint32_t maxDevices)
{
    if (maxDevices > SpiBusController::c_maxDeviceIds) {
        throw istd::Exception(name + ": " + std::to_string(maxDevices) +
                                  " device ids requested, but chip selects cover ids 0 to 31 only.",
                              true);
    }
    return maxDevices;
}

} // namespace

SpiBusController::SpiBusController(const std::string& name, uint32_t maxDevices, bool csPolarity)
    : BusController(name, _CheckedIds(name, maxDevices), true), m_cs_polarity(csPolarity)
{
}

SpiBusController::~SpiBusController() = default;

} // namespace bmc
