#include "sim/chips/lmh6518.h"

namespace sim {

Lmh6518Model::Lmh6518Model() : SpiChipBase(24, false) {}

Lmh6518Model::~Lmh6518Model() = default;

uint16_t Lmh6518Model::GetControl() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_control;
}

void Lmh6518Model::SetControl(uint16_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_control = value;
}

size_t Lmh6518Model::GetWriteCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

uint64_t Lmh6518Model::_Word(uint64_t word)
{
    const uint16_t before = m_control;
    const bool read = (word >> 23 & 1) != 0;
    const unsigned address = word >> 16 & 0x7F;
    if (!read && address == 0) {
        m_control = static_cast<uint16_t>(word);
        ++m_writes;
    }
    return before;
}

} // namespace sim
