#include "sim/chips/si57x.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr size_t c_first = 7; // registers 7 to 12 hold the set
constexpr size_t c_control = 135;
constexpr size_t c_freezeDco = 137;
constexpr uint8_t c_recall = 0x01;
constexpr uint8_t c_newFreq = 0x40;
constexpr uint8_t c_dcoFrozen = 0x10;
constexpr double c_rfreqScale = 268435456.0; // 2^28

void _Encode(const Si57xModel::Setting& s, uint8_t* bytes)
{
    const uint64_t word = uint64_t{s.hsDivCode & 7u} << 45 | uint64_t{s.n1Code & 0x7Fu} << 38 |
                          (s.rfreq & ((uint64_t{1} << 38) - 1));
    for (size_t i = 0; i < 6; ++i) {
        bytes[i] = static_cast<uint8_t>(word >> (40 - 8 * i));
    }
}

Si57xModel::Setting _Decode(const uint8_t* bytes)
{
    uint64_t word = 0;
    for (size_t i = 0; i < 6; ++i) {
        word = word << 8 | bytes[i];
    }
    Si57xModel::Setting s;
    s.hsDivCode = static_cast<uint8_t>(word >> 45 & 7);
    s.n1Code = static_cast<uint8_t>(word >> 38 & 0x7F);
    s.rfreq = word & ((uint64_t{1} << 38) - 1);
    return s;
}

} // namespace

unsigned Si57xModel::Setting::HsDiv() const
{
    static const unsigned c_values[8] = {4, 5, 6, 7, 0, 9, 0, 11};
    return c_values[hsDivCode & 7];
}

Si57xModel::Setting Si57xModel::SettingFor(double outputHz, uint8_t hsDivCode, uint8_t n1Code, double xtalHz)
{
    Setting s;
    s.hsDivCode = hsDivCode;
    s.n1Code = n1Code;
    s.rfreq = static_cast<uint64_t>(std::llround(outputHz * s.HsDiv() * s.N1() / xtalHz * c_rfreqScale));
    return s;
}

Si57xModel::Si57xModel() : I2cChipBase(256)
{
    PowerUp(c_defaultXtal, SettingFor(100e6, 1, 9));
}

void Si57xModel::PowerUp(double xtalHz, const Setting& factory)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_xtal = xtalHz;
    _Encode(factory, m_nvm);
    std::fill(m_registers.begin(), m_registers.end(), 0);
    std::copy(m_nvm, m_nvm + 6, m_registers.begin() + c_first);
    m_output = factory;
}

void Si57xModel::_Write(uint8_t byte)
{
    const size_t reg = _Step();
    m_registers[reg] = byte;
    const bool frozen = (m_registers[c_freezeDco] & c_dcoFrozen) != 0;
    if (reg >= c_first && reg < c_first + 6 && !frozen) {
        ++m_unfrozenWrites;
    }
    if (reg != c_control) {
        return;
    }
    if (byte & c_recall) {
        std::copy(m_nvm, m_nvm + 6, m_registers.begin() + c_first);
        ++m_recalls;
    }
    if ((byte & c_newFreq) && !frozen) {
        m_output = _Decode(&m_registers[c_first]);
        ++m_applies;
    }
    m_registers[c_control] = static_cast<uint8_t>(byte & ~(c_recall | c_newFreq));
}

double Si57xModel::GetXtal() const
{
    return _Locked(m_xtal);
}

Si57xModel::Setting Si57xModel::GetFactory() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Decode(m_nvm);
}

Si57xModel::Setting Si57xModel::GetRegisters() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Decode(&m_registers[c_first]);
}

Si57xModel::Setting Si57xModel::GetOutput() const
{
    return _Locked(m_output);
}

double Si57xModel::GetDcoFrequency() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_output.HsDiv() == 0 ? 0.0 : m_xtal * static_cast<double>(m_output.rfreq) / c_rfreqScale;
}

double Si57xModel::GetOutputFrequency() const
{
    const Setting out = GetOutput();
    return out.HsDiv() == 0 ? 0.0 : GetDcoFrequency() / (out.HsDiv() * out.N1());
}

size_t Si57xModel::GetRecalls() const
{
    return _Locked(m_recalls);
}

size_t Si57xModel::GetApplies() const
{
    return _Locked(m_applies);
}

size_t Si57xModel::GetUnfrozenWrites() const
{
    return _Locked(m_unfrozenWrites);
}

bool Si57xModel::IsDcoFrozen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return (m_registers[c_freezeDco] & c_dcoFrozen) != 0;
}

} // namespace sim
