#ifndef IAPP_DEVICES_I2C_SFP_PHY_H
#define IAPP_DEVICES_I2C_SFP_PHY_H

// The PHY of a copper SFP module on an I2C bus. It shows no registry nodes: the application sets
// the PHY up and reads its status through the calls below. The PHY answers at its fixed address
// (the driver's), on the controller's bus number given. A failed transfer throws the bus's
// exception.

#include <cstdint>
#include <string>

#include "bmc/i2c_device_SFP_PHY.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_i2c_bus_device.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API SFP_PHY : public KavrelI2cBusDevice {
public:
    // The address argument has no effect. Nothing is sent here.
    SFP_PHY(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
            uint8_t bus);
    ~SFP_PHY() override;

    // Adds nothing.
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // Control register 0 = 0x4011: the PHY out of isolation.
    void IsolateDisable();
    // Register 27 = 0x8490 (SGMII), then control register 0 = 0x4091.
    void SetSgmii();
    // Status register 1 read twice (its link bit latches low): the second reading. True.
    bool GetStatus(uint16_t& status) const;

private:
    bmc::SfpPhy& m_driver;
};

} // namespace iapp

#endif
