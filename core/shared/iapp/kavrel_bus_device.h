#ifndef IAPP_KAVREL_BUS_DEVICE_H
#define IAPP_KAVREL_BUS_DEVICE_H

// A chip on a bus as a component: the base of every chip wrapper. It holds the chip's driver,
// which the bus controller's device list holds too, is named after the driver, and takes no
// children. A wrapper derives from KavrelI2cBusDevice or KavrelSpiBusDevice, which tell the
// controller components its bus; its constructor follows one pattern:
//
//     class Dac : public iapp::KavrelSpiBusDevice {
//     public:
//         Dac(iapp::KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id)
//             : KavrelSpiBusDevice(controller, bmc::Create<bmc::DAC8581>(controller.GetController(), name, id)),
//               m_driver(DriverAs<bmc::DAC8581>())
//         {
//         }
//         void OnRegistryAdd(mci::TreeNodePtr& node) override;   // nodes bound to the driver
//     private:
//         bmc::DAC8581& m_driver;
//     };
//     iapp::Create<Dac>(*spi, "dac", bmc::BusDeviceId{0});
//
// A controller that refuses the driver (too many devices, id taken) throws from bmc::Create, so
// no component is made. The nodes' getters and setters run on the caller's thread inside the
// node's lock, and each transfer takes the bus controller's mutex inside it.

#include <string>

#include "bmc/bus_device.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_object.h"

namespace iapp {

class IAPP_API KavrelBusDevice : public KavrelObject {
public:
    // Under parent, named by the device's name; a null device is refused with istd::Exception.
    KavrelBusDevice(KavrelObject& parent, bmc::BusDevicePtr device);
    ~KavrelBusDevice() override;

    const bmc::BusDevicePtr& GetDevice() const { return m_device; }

    // The driver as DRIVER; std::bad_cast when it is of another class.
    template <class DRIVER>
    DRIVER& DriverAs() const
    {
        return dynamic_cast<DRIVER&>(*m_device);
    }

private:
    bmc::BusDevicePtr m_device;
};

} // namespace iapp

#endif
