#pragma once
// A register-level model of the FPGA I2C master core (bmc::tI2cBusController), with the I2C chips
// of its buses attached by bus number and 7-bit address.
//
//     auto core = std::make_shared<sim::I2cCoreModel>();
//     core->Attach(1, 0x50, std::make_shared<sim::I2cRegisterChip>());
//     devio::RangeClaim claim = core->Claim(block);          // any base address, or
//     monitorDevice.AttachModel(0x300000, sim::I2cCoreModel::c_windowSize, core);
//
// Registers (32-bit, 8 bytes apart): data (0x00; write: byte to send; read: byte received),
// control (0x08; write: command; read: status bit 26 acknowledged, bit 27 busy), prescaler
// (0x10), bus (0x18; bits 0-7 route the core to a bus), output (0x20). A command runs at once on
// the caller's thread; the status can be made to read busy for a number of reads after each
// command, to exercise the driver's polling.
//
// Command decoding: bit 28 clear is a receive (the master acknowledges the byte when bit 27 is
// set); otherwise bit 31 sends START and the data register as the address byte, else bit 29 sends
// the data register as a data byte. Bit 30 then sends STOP (also alone, as 0x50000000). A START
// reaches the chip attached at (bus register, address byte >> 1); nobody there, or a chip that
// refuses, leaves the address unacknowledged and the following bytes go nowhere (also
// unacknowledged; a receive from nobody gives 0xFF, the idle bus).
//
// Every bus step is recorded as an I2cEvent, every register access as a RegisterAccess
// (sim/buscores/register_trace.h); the traces, like everything else, are guarded by the model's
// own mutex.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devio/reg_access.h"
#include "sim/buscores/register_trace.h"

namespace sim {

// One chip on an I2C bus. Calls come from the core under its mutex, on the thread that accesses
// the core's registers.
class I2cChipModel {
public:
    virtual ~I2cChipModel();
    // A START or repeated START with the chip's address; read is bit 0 of the address byte.
    // True acknowledges the address.
    virtual bool OnStart(bool read) = 0;
    // A byte sent by the master after a write address; true acknowledges it.
    virtual bool OnWriteByte(uint8_t byte) = 0;
    // The byte the chip sends after a read address; ack says whether the master acknowledges it
    // (another byte follows) or not (the last byte).
    virtual uint8_t OnReadByte(bool ack) = 0;
    // STOP: the chip's transaction ends.
    virtual void OnStop() = 0;
};

using I2cChipModelPtr = std::shared_ptr<I2cChipModel>;

struct I2cEvent {
    enum Kind_e { eStart, eWrite, eRead, eStop };
    Kind_e kind;
    uint8_t bus;  // the bus register's low byte when the step ran
    uint8_t byte; // START: the address byte; WRITE and READ: the data byte
    bool ack;     // START and WRITE: acknowledged by the chip; READ: acknowledged by the master

    // "START 0xa0 ACK", "WRITE 0x12 NACK", "READ 0x34 ACK", "STOP".
    std::string ToString() const;
};

class I2cCoreModel : public TracedCoreModel<I2cEvent> {
public:
    static constexpr size_t c_windowSize = 0x28;

    static constexpr size_t c_data = 0x00;
    static constexpr size_t c_control = 0x08;
    static constexpr size_t c_prescaler = 0x10;
    static constexpr size_t c_bus = 0x18;
    static constexpr size_t c_output = 0x20;

    static constexpr uint32_t c_statusAck = 1u << 26;
    static constexpr uint32_t c_statusBusy = 1u << 27;

    enum Fault_e {
        eFaultNone,
        eFaultAddressNack, // address bytes go unacknowledged
        eFaultDataNack,    // data bytes go unacknowledged
        eFaultBusyStuck    // the status reads busy for good
    };

    I2cCoreModel();
    ~I2cCoreModel() override;

    // Puts the chip at the 7-bit address of the bus; throws std::invalid_argument for an address
    // above 0x7F, a null chip or a place already taken.
    void Attach(uint8_t bus, uint8_t address, I2cChipModelPtr chip);
    void Detach(uint8_t bus, uint8_t address);

    // From the (skip + 1)-th matching step on (START for address NACKs, data byte for data NACKs,
    // command for a stuck core) until the fault is set again; eFaultNone clears it (and a stuck
    // status).
    void SetFault(Fault_e fault, uint32_t skip = 0);

    // The registers as last written (prescaler, bus, output).
    uint32_t GetPrescaler() const;
    uint32_t GetBus() const;
    uint32_t GetOutput() const;

    uint32_t OnRead32(size_t offset) override;
    void OnWrite32(size_t offset, uint32_t value) override;

private:
    void _Command(uint32_t command);
    bool _FaultHits(Fault_e fault);
    void _Event(I2cEvent::Kind_e kind, uint8_t byte, bool ack);

    std::map<uint16_t, I2cChipModelPtr> m_chips; // by bus << 8 | address
    uint32_t m_tx = 0;
    uint32_t m_rx = 0;
    uint32_t m_prescaler = 0;
    uint32_t m_bus = 0;
    uint32_t m_output = 0;
    bool m_ack = false;
    I2cChipModelPtr m_chip; // addressed by the last START and acknowledged, until STOP
    bool m_reading = false;
    Fault_e m_fault = eFaultNone;
    uint32_t m_faultSkip = 0;
};

using I2cCoreModelPtr = std::shared_ptr<I2cCoreModel>;

} // namespace sim
