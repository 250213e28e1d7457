#ifndef IAPP_KAVREL_I2C_BUS_DEVICE_PCA9532_H
#define IAPP_KAVREL_I2C_BUS_DEVICE_PCA9532_H

// The PCA9532 16-pin LED dimmer on an I2C bus. Nodes under the wrapper's node:
//   "pin_state"    uint32 (flags 2): the input state of pins 0-15, pin n in bit n (registers 1
//                  and 0, read one after the other, so the halves may come from two moments)
//   "prescaler_0"  uint32 (flags 6): blink prescaler 0 (register 2)
//   "prescaler_1"  uint32 (flags 6): blink prescaler 1 (register 4)
//   "pwm_0"        uint32 (flags 6): PWM duty 0 (register 3)
//   "pwm_1"        uint32 (flags 6): PWM duty 1 (register 5)
//                  (the four registers are bytes: a write keeps the low 8 bits, 300 writes 44)
//   "modes"        16 strings (flags 0x206): the mode of each pin, "Off", "On", "Blink0" or
//                  "Blink1"; a write takes the names (exactly, case included) or their decimal
//                  codes 0-3, and converts every text before any pin is written, so a refused
//                  text changes no pin
// Every read asks the chip.

#include <cstddef>
#include <cstdint>
#include <string>

#include "bmc/i2c_device_PCA9532.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_i2c_bus_device.h"
#include "istd/enum_map.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API KavrelPCA9532 : public KavrelI2cBusDevice {
public:
    // The dimmer at the 7-bit I2C address on the controller's bus number bus.
    KavrelPCA9532(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
                  uint8_t bus);
    ~KavrelPCA9532() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // Register 1 × 256 + register 0. True.
    bool GetPinState(uint32_t& state) const;
    // The register byte; the setters write the low 8 bits. True.
    bool GetPrescaler0(uint32_t& value) const;
    bool SetPrescaler0(const uint32_t& value);
    bool GetPWM0(uint32_t& value) const;
    bool SetPWM0(const uint32_t& value);
    bool GetPrescaler1(uint32_t& value) const;
    bool SetPrescaler1(const uint32_t& value);
    bool GetPWM1(uint32_t& value) const;
    bool SetPWM1(const uint32_t& value);

    // The getter and setter of "modes": the texts of pins pos .. pos + count - 1 (stopping after
    // pin 15), the number read; every text converted, then all written at once. A pos above 15
    // fails with the driver's "Start index is out of range".
    size_t GetModes(std::string* texts, size_t pos, size_t count) const;
    bool SetModes(const std::string* texts, size_t pos, size_t count);

    // One pin through the "modes" node (its checks, and a notification for a set); before the
    // registry is defined, straight through GetModes and SetModes. True.
    bool GetMode(std::string& text, size_t pin) const;
    bool SetMode(const std::string& text, size_t pin);

private:
    bool _GetRegister(uint8_t reg, uint32_t& value) const;
    bool _SetRegister(uint8_t reg, uint32_t value);

    bmc::PCA9532& m_driver;
    mci::TreeNodePtr m_modes;
};

} // namespace iapp

ISTD_ENUM_TABLE_DECL(bmc::PCA9532::tMode)

#endif
