#include "iapp/devices/i2c_SFP_EEPROM.h"

#include "istd/trace.h"

namespace iapp {

SFP_EEPROM::SFP_EEPROM(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id,
                       uint8_t address, uint8_t bus)
    : KavrelI2cBusDevice(controller,
                         bmc::Create<bmc::SfpEeprom>(controller.GetController(), name, id, address, bus)),
      m_driver(DriverAs<bmc::SfpEeprom>())
{
}

SFP_EEPROM::~SFP_EEPROM()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " SFP_EEPROM");
}

void SFP_EEPROM::OnRegistryAdd(mci::TreeNodePtr&) {}

bool SFP_EEPROM::GetVendor(std::string& vendor) const
{
    return m_driver.GetVendor(vendor);
}

} // namespace iapp
