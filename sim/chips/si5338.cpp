#include "sim/chips/si5338.h"

#include <algorithm>
#include <utility>

namespace sim {

namespace {

bool _ReadOnly(size_t reg)
{
    return reg == Si5338Model::c_status || (reg >= 235 && reg <= 237);
}

} // namespace

Si5338Model::Si5338Model() : I2cChipBase(512) {}

void Si5338Model::SetStatusScript(std::vector<uint8_t> values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script = std::move(values);
    m_scriptAt = 0;
}

size_t Si5338Model::GetStatusReads() const
{
    return _Locked(m_statusReads);
}

size_t Si5338Model::GetSoftResets() const
{
    return _Locked(m_softResets);
}

size_t Si5338Model::GetPageWrites() const
{
    return _Locked(m_pageWrites);
}

void Si5338Model::_Pointer(uint8_t byte)
{
    const size_t page = m_registers[c_page] & 1u;
    m_pointer = byte == c_page ? size_t{c_page} : page * 256 + byte;
}

size_t Si5338Model::_StepInPage()
{
    const size_t reg = m_pointer;
    const size_t next = (reg % 256 + 1) % 256;
    _Pointer(static_cast<uint8_t>(next));
    return reg;
}

void Si5338Model::_Write(uint8_t byte)
{
    const size_t reg = _StepInPage();
    if (reg == c_page) {
        m_registers[reg] = byte;
        ++m_pageWrites;
    } else if (reg == c_softReset && (byte & 0x02)) {
        m_registers[reg] = static_cast<uint8_t>(byte & ~0x02);
        ++m_softResets;
    } else if (!_ReadOnly(reg)) {
        m_registers[reg] = byte;
    }
}

uint8_t Si5338Model::_Read()
{
    const size_t reg = _StepInPage();
    if (reg == c_status) {
        const size_t n = m_script.size();
        m_registers[reg] = n == 0 ? 0 : m_script[std::min(m_scriptAt, n - 1)];
        ++m_scriptAt;
        ++m_statusReads;
    }
    return m_registers[reg];
}

} // namespace sim
