#include "bmc/i2c_bus_controller.h"

#include <typeinfo>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_hex.h"
#include "bmc/i2c_bus_params.h"

namespace bmc {

using detail::Hex;

I2cBusController::I2cBusController(const std::string& name, uint32_t maxDevices)
    : BusController(name, maxDevices, false)
{
}

I2cBusController::~I2cBusController() = default;

void I2cBusController::SetBusParams(const BusParamsPtr& params)
{
    const auto* i2c = dynamic_cast<const I2cBusParams*>(params.get());
    if (i2c == nullptr) {
        throw std::bad_cast();
    }
    // Above half the input clock the prescale would be 0 − 1: refused before anything changes.
    if (i2c->m_freq_khz > GetMaxFrequency()) {
        throw istd::Exception(m_name + ": i2c clock frequency (" + std::to_string(i2c->m_freq_khz) +
                                  " kHz) is out of range (" + std::to_string(GetMaxFrequency()) + " kHz).",
                              true);
    }
    m_address = i2c->m_address;
    m_bus = i2c->m_bus;
    OnSetSpeed(i2c->m_freq_khz);
}

void I2cBusController::SelectDevice(const BusDevice& device, tDevSelectMode_e mode)
{
    if (device.GetId() >= m_max_devices) {
        throw istd::Exception("Device ID is not supported", true);
    }
    OnSelectBus(m_bus);
    OnWriteCtrl(c_cmdStop);
    if (!WaitUntilDone(false)) {
        throw istd::Exception("i2c com. error failure while stoping sequence", true);
    }
    if (mode != eDevSelectRead && mode != eDevSelectWrite) {
        return; // a release is the stop alone
    }
    const char* direction = mode == eDevSelectRead ? "R" : "W";
    OnWriteData(static_cast<uint8_t>(m_address << 1));
    ISTD_TRACE(4, "i2c select device: 0x" << Hex(m_address) << " id: 0x" << Hex(device.GetId()) << " " << direction);
    OnWriteCtrl(c_cmdStartWrite);
    if (!WaitUntilDone(true)) {
        throw istd::Exception("i2c com. error (device with addr 0x" + Hex(m_address) + ") addr +" + direction +
                                  " was NACKed",
                              true);
    }
}

void I2cBusController::_ThrowDataNack(uint64_t value) const
{
    throw istd::Exception("i2c com. error (device with addr 0x" + Hex(m_address) + ") data byte " + Hex(value) +
                              " was NACKed",
                          true);
}

void I2cBusController::Write(uint8_t reg, uint64_t value)
{
    ISTD_TRACE(3, "i2c data write: 0x" << Hex(value));
    if (m_word_index == 0) {
        OnWriteData(reg);
        OnWriteCtrl(c_cmdWrite);
        if (!WaitUntilDone(true)) {
            _ThrowDataNack(value);
        }
    }
    const bool last = m_word_index + 1 >= m_word_count;
    OnWriteData(static_cast<uint8_t>(value));
    OnWriteCtrl(last ? c_cmdWriteStop : c_cmdWrite);
    if (!WaitUntilDone(true)) {
        _ThrowDataNack(value);
    }
}

void I2cBusController::Read(uint8_t reg, uint64_t& value)
{
    if (m_word_index == 0) {
        OnWriteData(reg);
        OnWriteCtrl(c_cmdWriteStop);
        if (!WaitUntilDone(true)) {
            _ThrowDataNack(value);
        }
        OnWriteData(static_cast<uint8_t>(m_address << 1 | 1));
        OnWriteCtrl(c_cmdStartWrite);
        if (!WaitUntilDone(true)) {
            throw istd::Exception("i2c read. error (device with addr 0x" + Hex(m_address), true);
        }
    }
    const bool last = m_word_index + 1 >= m_word_count;
    OnWriteCtrl(last ? c_cmdReceive : c_cmdReceiveAck);
    if (!WaitUntilDone(false)) {
        throw istd::Exception("i2c read. error while waiting for data and busy flag to be cleared (device: 0x" +
                                  Hex(m_address) + ")",
                              true);
    }
    uint8_t byte = 0;
    OnReadData(byte);
    value = byte;
    ISTD_TRACE(3, "i2c data read: 0x" << Hex(value));
}

bool I2cBusController::ToggleChipSelect()
{
    return false;
}

} // namespace bmc
