#pragma once
// Plain register-file chips for tests of the bus layer and of code above it.
//
// I2cRegisterChip: registers of 8 bits with an address pointer, as serial EEPROMs and most
// sensors behave. The first byte after a write address sets the pointer; further bytes are
// written at the pointer, which then advances (wrapping at the end). Bytes read come from the
// pointer, which advances likewise; the pointer survives STOP, so "write the register number,
// STOP, read" reads that register.
//
// SpiRegisterChip: registers of up to 64 bits. The first word after select is a command: its
// top bit (bit length − 1) set reads, clear writes, the bits below give the first register.
// Each further word writes the register and advances, or (reading) is answered with the register
// and advances. The command word itself is answered with 0.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/buscores/i2c_core.h"
#include "sim/buscores/spi_core.h"

namespace sim {

// Registers of type T (at least one), guarded by m_mutex.
template <class T>
class RegisterFile {
public:
    explicit RegisterFile(size_t size) : m_registers(size == 0 ? 1 : size) {}

    // Throw std::out_of_range past the file.
    T Get(size_t reg) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_registers.at(reg);
    }
    void Set(size_t reg, T value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_registers.at(reg) = value;
    }
    size_t GetPointer() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pointer;
    }

protected:
    // The register at the pointer, which then advances (wrapping).
    T& _Next()
    {
        T& reg = m_registers[m_pointer];
        m_pointer = (m_pointer + 1) % m_registers.size();
        return reg;
    }
    void _Point(uint64_t reg) { m_pointer = static_cast<size_t>(reg % m_registers.size()); }

    mutable std::mutex m_mutex;
    std::vector<T> m_registers;
    size_t m_pointer = 0;
};

class I2cRegisterChip : public I2cChipModel, public RegisterFile<uint8_t> {
public:
    explicit I2cRegisterChip(size_t size = 256);

    bool OnStart(bool read) override;
    bool OnWriteByte(uint8_t byte) override;
    uint8_t OnReadByte(bool ack) override;
    void OnStop() override;

private:
    bool m_expectPointer = false;
};

class SpiRegisterChip : public SpiChipModel, public RegisterFile<uint64_t> {
public:
    explicit SpiRegisterChip(size_t size = 256);

    // Words shifted in since construction, in order.
    std::vector<uint64_t> GetReceived() const;

    void OnSelect() override;
    uint64_t OnShift(uint64_t mosi, const SpiShiftFormat& format) override;
    void OnDeselect() override;

private:
    std::vector<uint64_t> m_received;
    bool m_expectCommand = true;
    bool m_reading = false;
};

} // namespace sim
