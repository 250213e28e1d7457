#include "iapp/devices/i2c_SFP_PHY.h"

#include "istd/trace.h"

namespace iapp {

SFP_PHY::SFP_PHY(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
                 uint8_t bus)
    : KavrelI2cBusDevice(controller, bmc::Create<bmc::SfpPhy>(controller.GetController(), name, id, address, bus)),
      m_driver(DriverAs<bmc::SfpPhy>())
{
}

SFP_PHY::~SFP_PHY()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " SFP_PHY");
}

void SFP_PHY::OnRegistryAdd(mci::TreeNodePtr&) {}

void SFP_PHY::IsolateDisable()
{
    m_driver.IsolateDisable();
}

void SFP_PHY::SetSgmii()
{
    m_driver.SetSgmii();
}

bool SFP_PHY::GetStatus(uint16_t& status) const
{
    return m_driver.GetStatus(status);
}

} // namespace iapp
