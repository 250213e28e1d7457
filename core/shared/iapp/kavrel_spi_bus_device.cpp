#include "iapp/kavrel_spi_bus_device.h"

#include <utility>

#include "istd/trace.h"

namespace iapp {

KavrelSpiBusDevice::KavrelSpiBusDevice(KavrelObject& parent, bmc::BusDevicePtr device)
    : KavrelBusDevice(parent, std::move(device))
{
}

KavrelSpiBusDevice::~KavrelSpiBusDevice()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelSpiBusDevice");
}

} // namespace iapp
