#include "sim/chips/dac8581.h"

namespace sim {

Dac8581Model::Dac8581Model() : SpiChipBase(16, false) {}

Dac8581Model::~Dac8581Model() = default;

int16_t Dac8581Model::GetOutput() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_output;
}

uint64_t Dac8581Model::_Word(uint64_t word)
{
    m_output = static_cast<int16_t>(static_cast<uint16_t>(word));
    return 0;
}

} // namespace sim
