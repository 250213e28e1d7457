#include "sim/chips/dac8552.h"

namespace sim {

Dac8552Model::Dac8552Model() : SpiChipBase(24, false) {}

Dac8552Model::~Dac8552Model() = default;

uint16_t Dac8552Model::GetOutput(unsigned output) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outputs.at(output);
}

uint16_t Dac8552Model::GetInput(unsigned output) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inputs.at(output);
}

unsigned Dac8552Model::GetPowerDown(unsigned output) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_powerDown.at(output);
}

uint64_t Dac8552Model::_Word(uint64_t word)
{
    if ((word & 0xC80000) != 0) {
        return 0;
    }
    const unsigned target = word >> 18 & 1;
    const unsigned powerDown = word >> 16 & 3;
    m_inputs[target] = static_cast<uint16_t>(word);
    for (unsigned output = 0; output < 2; ++output) {
        if ((word >> (20 + output) & 1) != 0) {
            m_outputs[output] = m_inputs[output];
            m_powerDown[output] = powerDown;
        }
    }
    return 0;
}

} // namespace sim
