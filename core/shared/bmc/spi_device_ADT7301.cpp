#include "bmc/spi_device_ADT7301.h"

#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

ADT7301::ADT7301(BusController& controller, const std::string& name, BusDeviceId id) : SpiDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::ADT7301::ADT7301(bmc::BusController&, const std::string&, bmc::BusDeviceId)");
    SetBusParam<SpiBusParams>(*this, false, 16, true, false, true, true, 3000);
    m_controller.SetIdleTimeout(1000);
    float degrees = 0.0f;
    bool error = false;
    GetTemperature(degrees, error);
}

ADT7301::~ADT7301() = default;

bool ADT7301::GetTemperature(float& degrees, bool& error)
{
    uint64_t word = 0;
    Read(0, word);
    const auto code = static_cast<uint32_t>(word & 0xFFFF);
    error = code > 0x3FFF;
    if (error) {
        ISTD_TRACE(1, "ADT7301 com. error or data out of range");
    }
    float value = static_cast<float>(code);
    if ((code & 0x2000) != 0) {
        value -= 16384.0f;
    }
    degrees = value * 0.03125f;
    return true;
}

} // namespace bmc
