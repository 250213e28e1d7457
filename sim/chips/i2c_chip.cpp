#include "sim/chips/i2c_chip.h"

namespace sim {

I2cChipBase::I2cChipBase(size_t registers) : RegisterFile(registers) {}

I2cChipBase::~I2cChipBase() = default;

bool I2cChipBase::OnStart(bool read)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_answering) {
        return false;
    }
    ++m_messages;
    m_expectPointer = !read;
    return true;
}

bool I2cChipBase::OnWriteByte(uint8_t byte)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nackData) {
        return false;
    }
    if (m_expectPointer) {
        m_expectPointer = false;
        _Pointer(byte);
    } else {
        _Write(byte);
    }
    return true;
}

uint8_t I2cChipBase::OnReadByte(bool)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Read();
}

void I2cChipBase::OnStop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_expectPointer = false;
    _Stop();
}

void I2cChipBase::SetAnswering(bool answering)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answering = answering;
}

void I2cChipBase::SetNackData(bool nack)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nackData = nack;
}

size_t I2cChipBase::GetMessageCount() const
{
    return _Locked(m_messages);
}

void I2cChipBase::_Pointer(uint8_t byte)
{
    _Point(byte);
}

size_t I2cChipBase::_Step()
{
    const size_t reg = m_pointer;
    if (m_autoIncrement) {
        m_pointer = (reg + 1) % m_registers.size();
    }
    return reg;
}

void I2cChipBase::_Write(uint8_t byte)
{
    m_registers[_Step()] = byte;
}

uint8_t I2cChipBase::_Read()
{
    return m_registers[_Step()];
}

} // namespace sim
