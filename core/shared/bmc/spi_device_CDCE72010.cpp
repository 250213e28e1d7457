#include "bmc/spi_device_CDCE72010.h"

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

namespace {

void _CheckId(uint32_t id)
{
    if (id >= CDCE72010::c_registers) {
        throw istd::Exception("Invalid register ID", true);
    }
}

} // namespace

CDCE72010::CDCE72010(BusController& controller, const std::string& name, BusDeviceId id)
    : SpiDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::CDCE72010::CDCE72010(bmc::BusController&, const std::string&, bmc::BusDeviceId)");
    SetBusParam<SpiBusParams>(*this, true, 32, false, false, false, true, 1900, true);
}

CDCE72010::~CDCE72010() = default;

bool CDCE72010::Set(uint32_t id, const uint32_t& value)
{
    _CheckId(id);
    if (value >= c_valueLimit) {
        throw istd::Exception("Invalid register value", true);
    }
    Write(0, uint64_t{value} << 4 | id);
    return true;
}

bool CDCE72010::Get(uint32_t id, uint32_t& value)
{
    _CheckId(id);
    const uint64_t request = uint64_t{id} << 4 | 0xE;
    uint64_t answer = 0;
    Transfer(0, &request, 1, &answer, 1);
    value = static_cast<uint32_t>(answer);
    return true;
}

} // namespace bmc
