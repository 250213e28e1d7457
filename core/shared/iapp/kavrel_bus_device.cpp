#include "iapp/kavrel_bus_device.h"

#include <utility>

#include "istd/exception.h"
#include "istd/trace.h"

namespace iapp {

namespace {

const std::string& _NameOf(const bmc::BusDevicePtr& device)
{
    if (!device) {
        throw istd::Exception("iapp: a bus-device component needs a device", true);
    }
    return device->GetName();
}

} // namespace

KavrelBusDevice::KavrelBusDevice(KavrelObject& parent, bmc::BusDevicePtr device)
    : KavrelObject(parent, _NameOf(device)), m_device(std::move(device))
{
}

KavrelBusDevice::~KavrelBusDevice()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelBusDevice");
}

} // namespace iapp
