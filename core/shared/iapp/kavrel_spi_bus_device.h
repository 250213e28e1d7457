#ifndef IAPP_KAVREL_SPI_BUS_DEVICE_H
#define IAPP_KAVREL_SPI_BUS_DEVICE_H

// The base of the wrappers of SPI chips: only a KavrelSpiBusController takes them as children.

#include "iapp/iapp_export.h"
#include "iapp/kavrel_bus_device.h"

namespace iapp {

class IAPP_API KavrelSpiBusDevice : public KavrelBusDevice {
public:
    KavrelSpiBusDevice(KavrelObject& parent, bmc::BusDevicePtr device);
    ~KavrelSpiBusDevice() override;
};

} // namespace iapp

#endif
