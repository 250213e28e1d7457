#pragma once
// What the I2C chip models share: a register file behind an address pointer, as the chip sees
// the bus. The first byte after a write address is the pointer byte, the following bytes are
// written at the pointer, and bytes read come from it; a model decides what the pointer byte
// means and what writing and reading a register does (the default: the byte is the register
// number, and the pointer advances after each byte while m_autoIncrement is set, wrapping at the
// end of the file). The pointer
// survives STOP, so "write the register number, STOP, read" reads that register, as the bus
// layer does it.
//
// Faults: a chip that does not answer leaves its address unacknowledged (absent, unpowered or
// strapped to another address); a chip that refuses data leaves every data byte unacknowledged
// and lets none of them take effect.
//
// Calls from the core run under the core's mutex; the model's own state is guarded by m_mutex,
// which its accessors take, so tests may inspect a model while another thread drives the bus.

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "sim/buscores/i2c_core.h"
#include "sim/buscores/register_chips.h"

namespace sim {

class I2cChipBase : public I2cChipModel, public RegisterFile<uint8_t> {
public:
    explicit I2cChipBase(size_t registers);
    ~I2cChipBase() override;

    bool OnStart(bool read) final;
    bool OnWriteByte(uint8_t byte) final;
    uint8_t OnReadByte(bool ack) final;
    void OnStop() final;

    // False: the address goes unacknowledged.
    void SetAnswering(bool answering);
    // True: data bytes go unacknowledged and change nothing.
    void SetNackData(bool nack);
    // Messages addressed to the chip (STARTs it acknowledged) since construction.
    size_t GetMessageCount() const;

protected:
    // The chip's behaviour, called under m_mutex.
    virtual void _Pointer(uint8_t byte);
    virtual void _Write(uint8_t byte);
    virtual uint8_t _Read();
    virtual void _Stop() {}

    // The register at the pointer; the pointer then advances when m_autoIncrement is set.
    size_t _Step();

    // A copy of a member taken under m_mutex.
    template <class T>
    T _Locked(const T& field) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return field;
    }

    bool m_autoIncrement = true;

private:
    bool m_answering = true;
    bool m_nackData = false;
    bool m_expectPointer = false;
    size_t m_messages = 0;
};

} // namespace sim
