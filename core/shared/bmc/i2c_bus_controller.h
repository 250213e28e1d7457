#ifndef BMC_I2C_BUS_CONTROLLER_H
#define BMC_I2C_BUS_CONTROLLER_H

// The I2C protocol over a master core that takes one command word per bus step. The concrete
// core (bmc/i2c_bus_controller_fpga_amba.h, bmc/i2c_bus_controller_fpga_spiamba.h) supplies the
// five hooks that touch its registers; every step is a command followed by a wait on the core.
//
// Bus traffic of a transfer of n words to register r of the chip at address a:
//   select:  STOP; START with a+W                     (the read selection sends a+W as well)
//   write:   r, then the n data bytes; STOP after the last one
//   read:    r, STOP; START with a+R; n bytes received, each acknowledged but the last
//   release: STOP
// so bmc::I2cDevice::Set(r, v) is  P  S a+W  r  v P  P  and Get(r) is  P  S a+W  r P  S a+R  [byte]  P.
// A word above 0xFF puts only its low byte on the bus.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/bus_controller.h"

namespace bmc {

class BMC_API I2cBusController : public BusController {
public:
    // Command words; bit 31 starts, bit 30 stops, bit 29 sends the data byte, bit 28 goes with
    // every command but a receive. A receive acknowledges its byte with bit 27 (more bytes
    // follow) and leaves it unacknowledged without (the last byte of a read).
    static constexpr uint32_t c_cmdStop = 0x50000000;
    static constexpr uint32_t c_cmdStartWrite = 0xB0000000; // START, then the address byte
    static constexpr uint32_t c_cmdWrite = 0x30000000;
    static constexpr uint32_t c_cmdWriteStop = 0x70000000;
    static constexpr uint32_t c_cmdReceive = 0x00000000;
    static constexpr uint32_t c_cmdReceiveAck = 0x08000000;

    // Built without dummy writes.
    I2cBusController(const std::string& name, uint32_t maxDevices);
    ~I2cBusController() override;

    using BusController::Read;
    using BusController::Write;

    // The fastest bus clock the core's prescaler can give: half its input clock (62500 kHz).
    uint32_t GetMaxFrequency() const { return m_prescaler_factor / 2; }

protected:
    // One data word: the register byte before the first word of a transfer, then the word's low
    // byte, with a STOP after the last word. Throws "i2c com. error (device with addr 0x<a>) data
    // byte <v> was NACKed" (v the whole word in hexadecimal).
    void Write(uint8_t reg, uint64_t value) override;
    // One received byte; before the first word of a transfer the register byte, a STOP and a
    // repeated START with the read address. Throws the texts of the failed step.
    void Read(uint8_t reg, uint64_t& value) override;
    // Takes the device's address and bus and programs the clock. Parameters that are not
    // I2cBusParams throw std::bad_cast; a clock above GetMaxFrequency() is refused.
    void SetBusParams(const BusParamsPtr& params) override;
    // Routes the core to the bus, STOP, then for reading and writing alike START with the write
    // address byte. Ids not below the maximum: "Device ID is not supported".
    void SelectDevice(const BusDevice& device, tDevSelectMode_e mode) override;
    bool ToggleChipSelect() override; // false

    virtual void OnSetSpeed(uint32_t freq_khz) = 0;
    virtual void OnSelectBus(uint8_t bus) = 0;
    virtual void OnWriteCtrl(uint32_t command) = 0;
    virtual void OnWriteData(uint8_t byte) = 0;
    virtual void OnReadData(uint8_t& byte) = 0;

    // Of the device whose parameters were applied last.
    uint8_t m_address = 0;
    uint8_t m_bus = 0;

private:
    [[noreturn]] void _ThrowDataNack(uint64_t value) const;
};

} // namespace bmc

#endif
