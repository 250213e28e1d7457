#include "sim/chips/pca9532.h"

#include <stdexcept>

namespace sim {

namespace {

constexpr size_t c_registers = 10;
constexpr size_t c_selectors = 6;

} // namespace

Pca9532Model::Pca9532Model() : I2cChipBase(c_registers)
{
    m_registers = {0xFF, 0xFF, 0x00, 0x80, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
}

void Pca9532Model::SetInputs(uint16_t pins)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registers[0] = static_cast<uint8_t>(pins);
    m_registers[1] = static_cast<uint8_t>(pins >> 8);
}

unsigned Pca9532Model::GetLedMode(unsigned pin) const
{
    if (pin >= c_pins) {
        throw std::out_of_range("PCA9532 has 16 outputs");
    }
    return Get(c_selectors + pin / 4) >> (2 * (pin % 4)) & 3u;
}

void Pca9532Model::_Pointer(uint8_t byte)
{
    // Register numbers above 9 do not exist; the part wraps them into the file.
    m_pointer = (byte & 0x0Fu) % c_registers;
    m_autoIncrement = (byte & 0x10) != 0;
}

void Pca9532Model::_Write(uint8_t byte)
{
    const size_t reg = _Step();
    if (reg >= 2) {
        m_registers[reg] = byte; // the input registers are read-only
    }
}


} // namespace sim
