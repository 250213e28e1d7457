#include "bmc/i2c_bus_controller_fpga_spiamba.h"

#include "istd/exception.h"
#include "bmc/board.h"
#include "bmc/bus_hex.h"
#include "bmc/i2c_bus_controller_fpga_amba.h"

namespace bmc {

using detail::Hex;

namespace {

constexpr size_t c_data = offsetof(tI2cBusController, data);
constexpr size_t c_control = offsetof(tI2cBusController, control);
constexpr size_t c_prescaler = offsetof(tI2cBusController, prescaler);
constexpr size_t c_bus = offsetof(tI2cBusController, bus);
constexpr size_t c_output = offsetof(tI2cBusController, output);

// The last register's last byte must have a 32-bit address.
constexpr size_t c_maxBase = size_t{0xFFFFFFFF} - (sizeof(tI2cBusController) - 1);

} // namespace

I2cBusControllerFpgaSPIAmba::I2cBusControllerFpgaSPIAmba(const std::string& name, uint32_t maxDevices,
                                                         const Board* board, size_t base)
    : I2cBusController(name, maxDevices), m_board(board), m_base(base)
{
    if (board == nullptr) {
        throw istd::Exception(name + ": no board to reach the I2C core through", true);
    }
    if (base > c_maxBase) {
        throw istd::Exception(name + ": the I2C core's AMBA address 0x" + Hex(base) + " is beyond 32 bits", true);
    }
}

I2cBusControllerFpgaSPIAmba::~I2cBusControllerFpgaSPIAmba() = default;

bool I2cBusControllerFpgaSPIAmba::_Read(size_t offset, uint32_t& value) const
{
    const chassis_ctl_ambaread_rsp answer = m_board->FpgaAmbaRead(_Address(offset));
    if (answer.status != 0) {
        return false;
    }
    value = answer.Value();
    return true;
}

bool I2cBusControllerFpgaSPIAmba::OnSetOutput(uint32_t value)
{
    m_board->FpgaAmbaWrite(_Address(c_output), value);
    return true;
}

bool I2cBusControllerFpgaSPIAmba::OnGetOutput(uint32_t& value)
{
    return _Read(c_output, value);
}

bool I2cBusControllerFpgaSPIAmba::IsIdle()
{
    uint32_t status = 0;
    return _Read(c_control, status) && (status & c_i2cStatusBusy) == 0;
}

bool I2cBusControllerFpgaSPIAmba::IsAcknowledged()
{
    uint32_t status = 0;
    return _Read(c_control, status) && (status & c_i2cStatusAck) != 0;
}

void I2cBusControllerFpgaSPIAmba::OnSetSpeed(uint32_t freq_khz)
{
    m_board->FpgaAmbaWrite(_Address(c_prescaler), CalcPrescaleFactor(freq_khz));
}

void I2cBusControllerFpgaSPIAmba::OnSelectBus(uint8_t bus)
{
    m_board->FpgaAmbaWrite(_Address(c_bus), bus);
}

void I2cBusControllerFpgaSPIAmba::OnWriteCtrl(uint32_t command)
{
    m_board->FpgaAmbaWrite(_Address(c_control), command);
}

void I2cBusControllerFpgaSPIAmba::OnWriteData(uint8_t byte)
{
    m_board->FpgaAmbaWrite(_Address(c_data), byte);
}

void I2cBusControllerFpgaSPIAmba::OnReadData(uint8_t& byte)
{
    byte = 0;
    uint32_t value = 0;
    // A failed read is no byte: taking it as 0 would hand the driver data the chip never sent.
    if (!_Read(c_data, value)) {
        throw istd::Exception("i2c read. error: the board failed to read the received byte (device: 0x" +
                                  Hex(m_address) + ")",
                              true);
    }
    byte = static_cast<uint8_t>(value);
}

} // namespace bmc
