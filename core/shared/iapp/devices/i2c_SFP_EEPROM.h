#ifndef IAPP_DEVICES_I2C_SFP_EEPROM_H
#define IAPP_DEVICES_I2C_SFP_EEPROM_H

// The identification EEPROM of an SFP module on an I2C bus. It shows no registry nodes: the
// application reads the vendor through GetVendor. The EEPROM answers at its fixed address (the
// driver's), on the controller's bus number given.

#include <cstdint>
#include <string>

#include "bmc/i2c_device_SFP_EEPROM.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_i2c_bus_device.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API SFP_EEPROM : public KavrelI2cBusDevice {
public:
    // The address argument has no effect. Nothing is read here.
    SFP_EEPROM(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
               uint8_t bus);
    ~SFP_EEPROM() override;

    // Adds nothing.
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // The vendor name (bytes 20-35) followed by the part number and revision (40-59), each up
    // to its first zero byte, trailing blanks kept; true when the text is not empty. A failed
    // transfer throws the bus's exception.
    bool GetVendor(std::string& vendor) const;

private:
    bmc::SfpEeprom& m_driver;
};

} // namespace iapp

#endif
