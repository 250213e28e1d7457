#include "sim/chips/sfp_phy.h"

#include <stdexcept>

namespace sim {

namespace {

constexpr size_t c_words = 32;
constexpr size_t c_control = 0;
constexpr size_t c_status = 1;
constexpr uint16_t c_reset = 0x8000;
constexpr uint16_t c_link = 0x0004;

void _CheckRegister(unsigned reg)
{
    if (reg >= c_words) {
        throw std::out_of_range("the PHY has registers 0 to 31");
    }
}

} // namespace

SfpPhyModel::SfpPhyModel() : I2cChipBase(2 * c_words)
{
    _SetWord(c_control, 0x1140);
    _SetWord(c_status, 0x7949);
    _SetWord(27, 0x848F);
}

uint16_t SfpPhyModel::_Word(size_t reg) const
{
    return static_cast<uint16_t>(m_registers[2 * reg] << 8 | m_registers[2 * reg + 1]);
}

void SfpPhyModel::_SetWord(size_t reg, uint16_t value)
{
    m_registers[2 * reg] = static_cast<uint8_t>(value >> 8);
    m_registers[2 * reg + 1] = static_cast<uint8_t>(value);
}

uint16_t SfpPhyModel::GetWord(unsigned reg) const
{
    _CheckRegister(reg);
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Word(reg);
}

void SfpPhyModel::SetWord(unsigned reg, uint16_t value)
{
    _CheckRegister(reg);
    std::lock_guard<std::mutex> lock(m_mutex);
    _SetWord(reg, value);
}

void SfpPhyModel::SetLink(bool up)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_linkUp = up;
    if (!up) {
        m_linkLatch = false;
    }
}

size_t SfpPhyModel::GetStatusReads() const
{
    return _Locked(m_statusReads);
}

void SfpPhyModel::_Pointer(uint8_t byte)
{
    m_reg = byte % c_words;
    m_low = false;
}

void SfpPhyModel::_Write(uint8_t byte)
{
    if (!m_low) {
        m_high = byte;
        m_low = true;
        return;
    }
    m_low = false;
    const uint16_t value = static_cast<uint16_t>(m_high << 8 | byte);
    if (m_reg == c_control) {
        _SetWord(m_reg, value & ~c_reset);
    } else if (m_reg != c_status) {
        _SetWord(m_reg, value);
    }
    m_reg = (m_reg + 1) % c_words;
}

uint8_t SfpPhyModel::_Read()
{
    if (m_low) {
        m_low = false;
        m_reg = (m_reg + 1) % c_words;
        return static_cast<uint8_t>(m_readWord);
    }
    m_low = true;
    m_readWord = _Word(m_reg);
    if (m_reg == c_status) {
        m_readWord = static_cast<uint16_t>((m_readWord & ~c_link) | (m_linkLatch ? c_link : 0));
        m_linkLatch = m_linkUp;
        ++m_statusReads;
    }
    return static_cast<uint8_t>(m_readWord >> 8);
}

} // namespace sim
