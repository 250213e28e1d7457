#include "bmc/spi_device_DAC8552.h"

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

namespace {

void _CheckOutput(DAC8552::tOutput output)
{
    if (output > DAC8552::c_outputB) {
        throw istd::Exception("Invalid output id " + std::to_string(output), true);
    }
}

} // namespace

DAC8552::DAC8552(BusController& controller, const std::string& name, BusDeviceId id) : SpiDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::DAC8552::DAC8552(bmc::BusController&, const std::string&, bmc::BusDeviceId)");
    SetBusParam<SpiBusParams>(*this, false, 24, true, true, false, true, 12500);
}

DAC8552::~DAC8552() = default;

// The cached values and modes are shared by both outputs, whose nodes may be set from different
// threads: they change together with the word on the wire, under the controller's lock.
void DAC8552::SetMode(tMode mode)
{
    BusControllerLocker lock(m_controller);
    m_next_mode = mode;
}

bool DAC8552::SetValue(bool load_a, bool load_b, tOutput output, const uint16_t& value)
{
    _CheckOutput(output);
    BusControllerLocker lock(m_controller);
    const uint64_t word = (load_b ? uint64_t{1} << 21 : 0) | (load_a ? uint64_t{1} << 20 : 0) |
                          uint64_t{output & 1} << 18 | uint64_t{m_next_mode & 3} << 16 | value;
    Write(0, word);
    m_input_values[output] = value;
    if (load_a) {
        m_output_values[0] = m_input_values[0];
    }
    if (load_b) {
        m_output_values[1] = m_input_values[1];
    }
    m_mode = m_next_mode;
    return true;
}

DAC8552::tMode DAC8552::GetMode() const
{
    BusControllerLocker lock(m_controller);
    return m_mode;
}

uint16_t DAC8552::GetValue(tOutput output) const
{
    _CheckOutput(output);
    BusControllerLocker lock(m_controller);
    return m_output_values[output];
}

} // namespace bmc
