#include "bmc/analog_mux.h"

#include <cstdint>

#include "devio/reg_access.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace bmc {

namespace {

volatile uint32_t* _Word(volatile FPGAMem_t* reg)
{
    return reinterpret_cast<volatile uint32_t*>(reg);
}

} // namespace

AnalogMux::AnalogMux(volatile FPGAMem_t* reg, const std::string& name, uint32_t inputs)
    : m_reg(reg), m_inputs(inputs)
{
    ISTD_TRACE_FNC("bmc::AnalogMux::AnalogMux(volatile bmc::FPGAMem_t*, const std::string&, uint32_t)");
    if (reg == nullptr || reinterpret_cast<uintptr_t>(reg) % alignof(uint32_t) != 0) {
        throw istd::Exception("bmc: analog multiplexer " + name + " needs a 32-bit aligned register", true);
    }
    SetInput(0);
}

AnalogMux::~AnalogMux() = default;

bool AnalogMux::SetInput(uint32_t input) const
{
    if (input >= m_inputs) {
        return false;
    }
    devio::Write32(_Word(m_reg), input);
    return true;
}

uint32_t AnalogMux::GetInput() const
{
    return devio::Read32(_Word(m_reg));
}

} // namespace bmc
