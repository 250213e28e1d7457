#include "sim/buscores/register_chips.h"

namespace sim {

I2cRegisterChip::I2cRegisterChip(size_t size) : RegisterFile(size)
{
}

bool I2cRegisterChip::OnStart(bool read)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_expectPointer = !read;
    return true;
}

bool I2cRegisterChip::OnWriteByte(uint8_t byte)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_expectPointer) {
        _Point(byte);
        m_expectPointer = false;
    } else {
        _Next() = byte;
    }
    return true;
}

uint8_t I2cRegisterChip::OnReadByte(bool)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Next();
}

void I2cRegisterChip::OnStop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_expectPointer = false;
}

SpiRegisterChip::SpiRegisterChip(size_t size) : RegisterFile(size)
{
}

std::vector<uint64_t> SpiRegisterChip::GetReceived() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

void SpiRegisterChip::OnSelect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_expectCommand = true;
}

uint64_t SpiRegisterChip::OnShift(uint64_t mosi, const SpiShiftFormat& format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.push_back(mosi);
    if (format.bits == 0) {
        return 0;
    }
    if (m_expectCommand) {
        const uint64_t top = uint64_t{1} << (format.bits - 1);
        m_reading = (mosi & top) != 0;
        _Point(mosi & (top - 1));
        m_expectCommand = false;
        return 0;
    }
    uint64_t& reg = _Next();
    if (m_reading) {
        return reg;
    }
    reg = mosi;
    return 0;
}

void SpiRegisterChip::OnDeselect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_expectCommand = true;
}

} // namespace sim
