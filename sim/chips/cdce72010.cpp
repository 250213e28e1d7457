#include "sim/chips/cdce72010.h"

namespace sim {

namespace {

constexpr uint32_t c_readRequest = 0xE;
constexpr uint32_t c_valueMask = 0x0FFFFFFF;

} // namespace

Cdce72010Model::Cdce72010Model() : SpiChipBase(32, true) {}

Cdce72010Model::~Cdce72010Model() = default;

uint32_t Cdce72010Model::GetRegister(unsigned id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registers.at(id);
}

void Cdce72010Model::SetRegister(unsigned id, uint32_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registers.at(id) = value & c_valueMask;
}

size_t Cdce72010Model::GetReadCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reads;
}

uint64_t Cdce72010Model::_Word(uint64_t word)
{
    uint64_t answer = 0;
    if (m_pendingRead >= 0 && m_readArmed) {
        const auto id = static_cast<uint32_t>(m_pendingRead);
        answer = uint64_t{m_registers[id]} << 4 | id;
        m_pendingRead = -1;
        m_readArmed = false;
        ++m_reads;
        return answer; // the word that clocks the answer out is not a command
    }
    m_pendingRead = -1; // a request not followed by a new selection lapses
    const auto low = static_cast<uint32_t>(word & 0xF);
    if (low < c_registers) {
        m_registers[low] = static_cast<uint32_t>(word >> 4) & c_valueMask;
    } else if (low == c_readRequest) {
        const auto id = static_cast<uint32_t>(word >> 4 & 0xF);
        if (id < c_registers) {
            m_pendingRead = static_cast<int>(id);
        }
    }
    return answer;
}

void Cdce72010Model::_Select()
{
    m_readArmed = m_pendingRead >= 0;
}

} // namespace sim
