#ifndef BMC_I2C_BUS_CONTROLLER_FPGA_AMBA_H
#define BMC_I2C_BUS_CONTROLLER_FPGA_AMBA_H

// The FPGA I2C master core in the board's mapped FPGA memory. Every register access is one
// 32-bit devio access (a simulated core can claim the block); with tracing off nothing else
// happens.

#include <cstddef>
#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/i2c_bus_controller.h"

namespace bmc {

// The core's register block: 32-bit registers 8 bytes apart.
struct tI2cBusController {
    uint32_t data;      // write: byte to send (bits 0-7); read: byte received
    uint32_t reserved0;
    uint32_t control;   // write: command word; read: status (c_i2cStatusAck, c_i2cStatusBusy)
    uint32_t reserved1;
    uint32_t prescaler; // clock prescaler (BusController::CalcPrescaleFactor)
    uint32_t reserved2;
    uint32_t bus;       // the bus the core drives, bits 0-7
    uint32_t reserved3;
    uint32_t output;    // 32 general-purpose output lines
    uint32_t reserved4;
};

static_assert(offsetof(tI2cBusController, data) == 0x00 && offsetof(tI2cBusController, control) == 0x08 &&
                  offsetof(tI2cBusController, prescaler) == 0x10 && offsetof(tI2cBusController, bus) == 0x18 &&
                  offsetof(tI2cBusController, output) == 0x20 && sizeof(tI2cBusController) == 0x28,
              "the I2C core's registers lie 8 bytes apart");

constexpr uint32_t c_i2cStatusAck = 1u << 26;  // the last byte sent was acknowledged
constexpr uint32_t c_i2cStatusBusy = 1u << 27; // a command is running

class BMC_API I2cBusControllerFpgaAmba : public I2cBusController {
public:
    // The block must stay mapped while the controller lives; a null block is refused. Touches no
    // register.
    I2cBusControllerFpgaAmba(const std::string& name, uint32_t maxDevices, volatile tI2cBusController* reg);
    ~I2cBusControllerFpgaAmba() override;

protected:
    bool OnSetOutput(uint32_t value) override;
    bool OnGetOutput(uint32_t& value) override;
    bool IsIdle() override;
    bool IsAcknowledged() override;
    void OnSetSpeed(uint32_t freq_khz) override;
    // Writes the bus register only when its low byte differs.
    void OnSelectBus(uint8_t bus) override;
    void OnWriteCtrl(uint32_t command) override;
    void OnWriteData(uint8_t byte) override;
    void OnReadData(uint8_t& byte) override;

private:
    volatile tI2cBusController* const m_reg;
};

} // namespace bmc

#endif
