#include "sim/chips/ads7924.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

namespace {

constexpr size_t c_registers = 23;
constexpr size_t c_reset = 22;
constexpr unsigned c_awake = 32;

bool _Active(unsigned mode)
{
    return mode >= 48;
}

bool _SingleChannel(unsigned mode)
{
    return mode == 48 || mode == 49 || mode == 57;
}

void _CheckChannel(unsigned channel)
{
    if (channel > 3) {
        throw std::out_of_range("ADS7924 has channels 0 to 3");
    }
}

} // namespace

Ads7924Model::Ads7924Model() : I2cChipBase(c_registers) {}

void Ads7924Model::SetInput(unsigned channel, uint16_t code)
{
    _CheckChannel(channel);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inputs[channel] = code & 0x0FFF;
}

unsigned Ads7924Model::GetMode() const
{
    return Get(0) >> 2;
}

unsigned Ads7924Model::GetMuxChannel() const
{
    return Get(0) & 3u;
}

std::vector<uint8_t> Ads7924Model::GetModeWrites() const
{
    return _Locked(m_modeWrites);
}

size_t Ads7924Model::GetModeViolations() const
{
    return _Locked(m_violations);
}

size_t Ads7924Model::GetConversions(unsigned channel) const
{
    _CheckChannel(channel);
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_conversions[channel];
}

size_t Ads7924Model::GetResets() const
{
    return _Locked(m_resets);
}

void Ads7924Model::_Pointer(uint8_t byte)
{
    m_pointer = std::min<size_t>(byte & 0x3Fu, c_registers - 1);
    m_autoIncrement = (byte & 0x80) != 0;
}

void Ads7924Model::_Reset()
{
    std::fill(m_registers.begin(), m_registers.end(), 0);
    m_lastConverted = 0;
    ++m_resets;
}

void Ads7924Model::_Convert(unsigned channel)
{
    const uint16_t code = m_inputs[channel];
    m_registers[2 + 2 * channel] = static_cast<uint8_t>(code >> 4);
    m_registers[3 + 2 * channel] = static_cast<uint8_t>((code & 0x0F) << 4);
    m_lastConverted = channel;
    ++m_conversions[channel];
}

void Ads7924Model::_Write(uint8_t byte)
{
    const size_t reg = _Step();
    if (reg == 0) {
        const unsigned previous = m_registers[0] >> 2;
        const unsigned mode = byte >> 2;
        m_registers[0] = byte;
        m_modeWrites.push_back(byte);
        if (_Active(mode) && mode != previous && previous != c_awake) {
            ++m_violations;
        }
        if (_SingleChannel(mode)) {
            _Convert(byte & 3u);
        } else if (_Active(mode)) {
            for (unsigned channel = 0; channel < 4; ++channel) {
                _Convert(channel);
            }
        }
    } else if (reg == 1) {
        m_registers[1] = static_cast<uint8_t>((m_registers[1] & 0xF0) | (byte & 0x0F));
    } else if (reg == c_reset) {
        if (byte == 0xAA) {
            _Reset();
        }
    } else if (reg >= 10) {
        m_registers[reg] = byte; // the results are read-only
    }
}

uint8_t Ads7924Model::_Read()
{
    const size_t reg = _Step();
    if (reg == 0) {
        return static_cast<uint8_t>((m_registers[0] & 0xFC) | m_lastConverted);
    }
    if (reg == c_reset) {
        return c_deviceId;
    }
    return m_registers[reg];
}

} // namespace sim
