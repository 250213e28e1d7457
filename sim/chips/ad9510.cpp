#include "sim/chips/ad9510.h"

namespace sim {

Ad9510Model::Ad9510Model() : SpiChipBase(0, false)
{
    m_registers[c_serialControl] = c_serialControlAtStart;
    m_active = m_registers;
}

Ad9510Model::~Ad9510Model() = default;

uint8_t Ad9510Model::GetRegister(uint8_t address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registers[address];
}

uint8_t Ad9510Model::GetActive(uint8_t address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_active[address];
}

void Ad9510Model::SetRegister(uint8_t address, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registers[address] = value;
    m_active[address] = value;
}

size_t Ad9510Model::GetUpdateCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_updates;
}

size_t Ad9510Model::GetSoftResetCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_resets;
}

std::vector<std::pair<uint8_t, uint8_t>> Ad9510Model::GetWrites() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

void Ad9510Model::ClearWrites()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writes.clear();
}

void Ad9510Model::SetLinkBroken(bool broken)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_broken = broken;
}

void Ad9510Model::_Select()
{
    m_position = 0;
}

uint8_t Ad9510Model::_Byte(uint8_t byte)
{
    const size_t position = m_position++;
    if (m_broken) {
        return 0xFF;
    }
    if (position == 0) {
        m_read = (byte & 0x80) != 0;
        const unsigned count = (byte >> 5 & 3) + 1;
        m_streaming = count == 4;
        m_left = m_streaming ? 0 : count;
        m_address = static_cast<uint16_t>((byte & 0x1F) << 8);
        return 0xFF;
    }
    if (position == 1) {
        m_address = static_cast<uint16_t>(m_address | byte);
        return 0xFF;
    }
    if (!m_streaming && m_left == 0) {
        return 0xFF; // past the instruction's bytes: a new instruction needs a new selection
    }
    if (!m_streaming) {
        --m_left;
    }
    const uint8_t address = static_cast<uint8_t>(m_address);
    --m_address;
    if (m_read) {
        return m_registers[address];
    }
    _Write(address, byte);
    return 0xFF;
}

void Ad9510Model::_Write(uint8_t address, uint8_t value)
{
    m_writes.emplace_back(address, value);
    if (address == c_update) {
        if ((value & 1) != 0) {
            m_active = m_registers;
            ++m_updates;
        }
        return; // self-clearing
    }
    if (address == c_serialControl && (value & 0x20) != 0) {
        m_registers.fill(0);
        m_registers[c_serialControl] = value;
        m_active = m_registers;
        ++m_resets;
        return;
    }
    m_registers[address] = value;
    if (address == c_serialControl) {
        m_active[address] = value; // the serial port takes its settings at once
    }
}

} // namespace sim
