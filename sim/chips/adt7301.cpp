#include "sim/chips/adt7301.h"

#include <cmath>

namespace sim {

Adt7301Model::Adt7301Model() : SpiChipBase(16, false), m_code(CodeFor(25.0)) {}

Adt7301Model::~Adt7301Model() = default;

uint16_t Adt7301Model::CodeFor(double celsius)
{
    double steps = std::round(celsius * 32.0);
    if (!(steps >= -8192.0)) {
        steps = -8192.0;
    } else if (steps > 8191.0) {
        steps = 8191.0;
    }
    return static_cast<uint16_t>(static_cast<int32_t>(steps) & 0x3FFF);
}

void Adt7301Model::SetTemperature(double celsius)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_code = CodeFor(celsius);
}

void Adt7301Model::SetRawWord(std::optional<uint16_t> word)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_raw = word;
}

uint16_t Adt7301Model::GetWord() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_raw ? *m_raw : m_code;
}

uint64_t Adt7301Model::_Word(uint64_t)
{
    return m_raw ? *m_raw : m_code;
}

} // namespace sim
