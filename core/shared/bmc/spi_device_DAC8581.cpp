#include "bmc/spi_device_DAC8581.h"

#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

DAC8581::DAC8581(BusController& controller, const std::string& name, BusDeviceId id) : SpiDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::DAC8581::DAC8581(bmc::BusController&, const std::string&, bmc::BusDeviceId)");
    SetBusParam<SpiBusParams>(*this, false, 16, true, false, false, true, 12500);
}

DAC8581::~DAC8581() = default;

bool DAC8581::SetValue(const int16_t& value)
{
    // Sign-extended: the core shifts out the low 16 bits, the code's two's complement.
    const auto word = static_cast<uint64_t>(static_cast<int64_t>(value));
    Write(0, word);
    m_value = value;
    return true;
}

} // namespace bmc
