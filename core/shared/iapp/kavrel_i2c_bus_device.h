#ifndef IAPP_KAVREL_I2C_BUS_DEVICE_H
#define IAPP_KAVREL_I2C_BUS_DEVICE_H

// The base of the wrappers of I2C chips: only a KavrelI2cBusController takes them as children.

#include "iapp/iapp_export.h"
#include "iapp/kavrel_bus_device.h"

namespace iapp {

class IAPP_API KavrelI2cBusDevice : public KavrelBusDevice {
public:
    KavrelI2cBusDevice(KavrelObject& parent, bmc::BusDevicePtr device);
    ~KavrelI2cBusDevice() override;
};

} // namespace iapp

#endif
