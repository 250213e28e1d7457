#include "sim/buscores/i2c_core.h"

#include <stdexcept>

namespace sim {

namespace {

constexpr uint32_t c_start = 1u << 31;
constexpr uint32_t c_stop = 1u << 30;
constexpr uint32_t c_send = 1u << 29;
constexpr uint32_t c_notReceive = 1u << 28;
constexpr uint32_t c_receiveAck = 1u << 27;

uint16_t _Key(uint8_t bus, uint8_t address)
{
    return static_cast<uint16_t>(bus << 8 | address);
}

const char* _Name(size_t offset)
{
    switch (offset) {
    case I2cCoreModel::c_data:
        return "data";
    case I2cCoreModel::c_control:
        return "control";
    case I2cCoreModel::c_prescaler:
        return "prescaler";
    case I2cCoreModel::c_bus:
        return "bus";
    case I2cCoreModel::c_output:
        return "output";
    default:
        return "?";
    }
}

} // namespace

I2cChipModel::~I2cChipModel() = default;

std::string I2cEvent::ToString() const
{
    const char* acked = ack ? " ACK" : " NACK";
    switch (kind) {
    case eStart:
        return "START " + HexText(byte) + acked;
    case eWrite:
        return "WRITE " + HexText(byte) + acked;
    case eRead:
        return "READ " + HexText(byte) + acked;
    case eStop:
        break;
    }
    return "STOP";
}

I2cCoreModel::I2cCoreModel() : TracedCoreModel(c_windowSize)
{
}

I2cCoreModel::~I2cCoreModel() = default;

void I2cCoreModel::Attach(uint8_t bus, uint8_t address, I2cChipModelPtr chip)
{
    if (address > 0x7F || !chip) {
        throw std::invalid_argument("sim: an I2C chip needs a 7-bit address and a model");
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_chips.emplace(_Key(bus, address), std::move(chip)).second) {
        throw std::invalid_argument("sim: I2C address " + HexText(address) + " of bus " + std::to_string(bus) +
                                    " is taken");
    }
}

void I2cCoreModel::Detach(uint8_t bus, uint8_t address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_chips.erase(_Key(bus, address));
}

void I2cCoreModel::SetFault(Fault_e fault, uint32_t skip)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fault = fault;
    m_faultSkip = skip;
    _SetStuck(false);
}

uint32_t I2cCoreModel::GetPrescaler() const
{
    return _Locked(m_prescaler);
}

uint32_t I2cCoreModel::GetBus() const
{
    return _Locked(m_bus);
}

uint32_t I2cCoreModel::GetOutput() const
{
    return _Locked(m_output);
}

void I2cCoreModel::_Event(I2cEvent::Kind_e kind, uint8_t byte, bool ack)
{
    TracedCoreModel::_Event(I2cEvent{kind, static_cast<uint8_t>(m_bus), byte, ack});
}

uint32_t I2cCoreModel::OnRead32(size_t offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint32_t value = 0;
    switch (offset) {
    case c_data:
        value = m_rx;
        break;
    case c_control:
        value = m_ack ? c_statusAck : 0;
        value |= _ReadBusy() ? c_statusBusy : 0;
        break;
    case c_prescaler:
        value = m_prescaler;
        break;
    case c_bus:
        value = m_bus;
        break;
    case c_output:
        value = m_output;
        break;
    default:
        break;
    }
    _Record(false, offset, value, _Name(offset));
    return value;
}

void I2cCoreModel::OnWrite32(size_t offset, uint32_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Record(true, offset, value, _Name(offset));
    switch (offset) {
    case c_data:
        m_tx = value;
        break;
    case c_control:
        _Command(value);
        break;
    case c_prescaler:
        m_prescaler = value;
        break;
    case c_bus:
        m_bus = value;
        break;
    case c_output:
        m_output = value;
        break;
    default:
        break;
    }
}

bool I2cCoreModel::_FaultHits(Fault_e fault)
{
    if (m_fault != fault) {
        return false;
    }
    if (m_faultSkip > 0) {
        --m_faultSkip;
        return false;
    }
    return true;
}

void I2cCoreModel::_Command(uint32_t command)
{
    if (_FaultHits(eFaultBusyStuck)) {
        _SetStuck(true);
    }
    const auto tx = static_cast<uint8_t>(m_tx);
    if ((command & c_notReceive) == 0) {
        const bool ack = (command & c_receiveAck) != 0;
        const uint8_t byte = m_chip && m_reading ? m_chip->OnReadByte(ack) : 0xFF;
        m_rx = byte;
        _Event(I2cEvent::eRead, byte, ack);
    } else if ((command & c_start) != 0) {
        m_reading = (tx & 1) != 0;
        const auto found = m_chips.find(_Key(static_cast<uint8_t>(m_bus), static_cast<uint8_t>(tx >> 1)));
        I2cChipModelPtr chip = found != m_chips.end() ? found->second : nullptr;
        const bool refused = _FaultHits(eFaultAddressNack);
        m_ack = chip && !refused && chip->OnStart(m_reading);
        m_chip = m_ack ? chip : nullptr;
        _Event(I2cEvent::eStart, tx, m_ack);
    } else if ((command & c_send) != 0) {
        const bool refused = _FaultHits(eFaultDataNack);
        m_ack = m_chip && !m_reading && !refused && m_chip->OnWriteByte(tx);
        _Event(I2cEvent::eWrite, tx, m_ack);
    }
    if ((command & c_stop) != 0) {
        if (m_chip) {
            m_chip->OnStop();
            m_chip = nullptr;
        }
        _Event(I2cEvent::eStop, 0, false);
    }
    _StartBusy();
}

} // namespace sim
