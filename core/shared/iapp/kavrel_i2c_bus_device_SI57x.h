#ifndef IAPP_KAVREL_I2C_BUS_DEVICE_SI57X_H
#define IAPP_KAVREL_I2C_BUS_DEVICE_SI57X_H

// The Si57x programmable oscillator on an I2C bus. Nodes under the wrapper's node:
//   "frequency"  uint32 (flags 6): the wanted output frequency in Hz, kept by the driver; writing
//                it does not touch the chip
//   "apply"      command (flags 0x40 and the command's own): programs the chip for the stored
//                frequency (the device is disabled and enabled again)
// The driver makes enabling a chip that does not answer a silent no-op; "apply" checks that the
// chip answers first and fails with "<name>: the oscillator does not answer; the frequency was
// not applied" when it does not, so that a client never takes an unprogrammed chip for a
// programmed one. Programming failures of the driver fail "apply" with the driver's text.

#include <cstdint>
#include <string>

#include "bmc/i2c_device_SI57x.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_i2c_bus_device.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API SI57x : public KavrelI2cBusDevice {
public:
    // address and bus go to the driver in its own order (it always uses the chip's address).
    SI57x(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
          uint8_t bus);
    ~SI57x() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // Programs the chip for the stored frequency; true, or throws istd::Exception (an absent
    // chip, or the driver's failure).
    bool ApplyFrequency();

    bmc::Si57x& Driver() const { return m_driver; }

private:
    bmc::Si57x& m_driver;
};

} // namespace iapp

#endif
