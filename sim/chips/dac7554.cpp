#include "sim/chips/dac7554.h"

namespace sim {

Dac7554Model::Dac7554Model() : SpiChipBase(16, false) {}

Dac7554Model::~Dac7554Model() = default;

uint16_t Dac7554Model::GetOutput(unsigned channel) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outputs.at(channel);
}

uint16_t Dac7554Model::GetInput(unsigned channel) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inputs.at(channel);
}

uint64_t Dac7554Model::_Word(uint64_t word)
{
    const unsigned mode = word >> 14 & 3;
    const unsigned channel = word >> 12 & 3;
    const auto value = static_cast<uint16_t>(word & 0xFFF);
    switch (mode) {
    case 0:
        m_inputs[channel] = value;
        break;
    case 1:
        m_inputs[channel] = value;
        m_outputs = m_inputs;
        break;
    case 2:
        m_inputs[channel] = value;
        m_outputs[channel] = value;
        break;
    default:
        break;
    }
    return 0;
}

} // namespace sim
