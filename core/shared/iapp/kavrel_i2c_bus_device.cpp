#include "iapp/kavrel_i2c_bus_device.h"

#include <utility>

#include "istd/trace.h"

namespace iapp {

KavrelI2cBusDevice::KavrelI2cBusDevice(KavrelObject& parent, bmc::BusDevicePtr device)
    : KavrelBusDevice(parent, std::move(device))
{
}

KavrelI2cBusDevice::~KavrelI2cBusDevice()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelI2cBusDevice");
}

} // namespace iapp
