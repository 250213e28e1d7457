#include "bmc/spi_device.h"

#include "istd/exception.h"
#include "istd/trace.h"

namespace bmc {

namespace {

BusDeviceId _CheckedId(BusDeviceId id)
{
    if (id == 255) {
        throw istd::Exception("Device identifier " + std::to_string(id) + " is reserved for internal usage.", true);
    }
    return id;
}

} // namespace

SpiDevice::SpiDevice(BusController& controller, const std::string& name, BusDeviceId id)
    : BusDevice(controller, name, _CheckedId(id))
{
}

SpiDevice::~SpiDevice()
{
    ISTD_TRACE(1, "SpiDevice");
}

} // namespace bmc
