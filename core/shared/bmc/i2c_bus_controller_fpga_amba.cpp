#include "bmc/i2c_bus_controller_fpga_amba.h"

#include "devio/reg_access.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_hex.h"

namespace bmc {

using detail::Hex;

I2cBusControllerFpgaAmba::I2cBusControllerFpgaAmba(const std::string& name, uint32_t maxDevices,
                                                   volatile tI2cBusController* reg)
    : I2cBusController(name, maxDevices), m_reg(reg)
{
    if (reg == nullptr) {
        throw istd::Exception(name + ": no register block for the I2C core", true);
    }
}

I2cBusControllerFpgaAmba::~I2cBusControllerFpgaAmba() = default;

bool I2cBusControllerFpgaAmba::OnSetOutput(uint32_t value)
{
    devio::Write32(&m_reg->output, value);
    return true;
}

bool I2cBusControllerFpgaAmba::OnGetOutput(uint32_t& value)
{
    value = devio::Read32(&m_reg->output);
    return true;
}

bool I2cBusControllerFpgaAmba::IsIdle()
{
    ISTD_TRACE(4, "I2C FpgaAmpba: Check busy flag in CTRL reg: 0x" << Hex(devio::Read32(&m_reg->control)));
    return (devio::Read32(&m_reg->control) & c_i2cStatusBusy) == 0;
}

bool I2cBusControllerFpgaAmba::IsAcknowledged()
{
    ISTD_TRACE(4, "I2C FpgaAmpba: Ack flag in CTRL reg: 0x" << Hex(devio::Read32(&m_reg->control)));
    return (devio::Read32(&m_reg->control) & c_i2cStatusAck) != 0;
}

void I2cBusControllerFpgaAmba::OnSetSpeed(uint32_t freq_khz)
{
    devio::Write32(&m_reg->prescaler, CalcPrescaleFactor(freq_khz));
    ISTD_TRACE(4, "I2C FpgaAmpba: Prescaler set to: " << devio::Read32(&m_reg->prescaler));
}

void I2cBusControllerFpgaAmba::OnSelectBus(uint8_t bus)
{
    const uint32_t old = devio::Read32(&m_reg->bus);
    if ((old & 0xFF) == bus) {
        return;
    }
    devio::Write32(&m_reg->bus, bus);
    ISTD_TRACE(4, "I2C FpgaAmpba: Selected bus was changed from 0x" << Hex(old) << " to 0x"
                                                                     << Hex(devio::Read32(&m_reg->bus)));
}

void I2cBusControllerFpgaAmba::OnWriteCtrl(uint32_t command)
{
    devio::Write32(&m_reg->control, command);
    ISTD_TRACE(4, "I2C FpgaAmpba: Control register <-- 0x" << Hex(command));
}

void I2cBusControllerFpgaAmba::OnWriteData(uint8_t byte)
{
    devio::Write32(&m_reg->data, byte);
    ISTD_TRACE(4, "I2C FpgaAmpba: Data register <-- " << devio::Read32(&m_reg->data));
}

void I2cBusControllerFpgaAmba::OnReadData(uint8_t& byte)
{
    byte = static_cast<uint8_t>(devio::Read32(&m_reg->data));
    ISTD_TRACE(4, "I2C FpgaAmpba: Data register --> " << static_cast<char>(byte));
}

} // namespace bmc
