#include "iapp/kavrel_spi_bus_device_DAC8581.h"

#include "ireg/reg_fnc_node.h"
#include "ireg/validators.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "mci/tree_node.h"

namespace iapp {

DAC8581::DAC8581(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id)
    : KavrelSpiBusDevice(controller, bmc::Create<bmc::DAC8581>(controller.GetController(), name, id)),
      m_driver(DriverAs<bmc::DAC8581>())
{
}

DAC8581::~DAC8581()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " DAC8581");
}

void DAC8581::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::DAC8581::OnRegistryAdd(mci::TreeNodePtr&)");
    m_value = node->Add(mci::factory::Create<ireg::RegFncNode<int32_t>>(
        ireg::Expr<ireg::expr::Range<int32_t, int32_t>>(-32768, 32767), "value", this, &DAC8581::SetValue,
        &DAC8581::GetValue, mci::Flags(6)));
}

bool DAC8581::Set(const int32_t& value)
{
    return m_value ? mci::Node(m_value, mci::c_noRelPath).SetValue(value) : SetValue(value);
}

bool DAC8581::SetValue(const int32_t& value)
{
    return m_driver.SetValue(static_cast<int16_t>(static_cast<uint16_t>(value)));
}

bool DAC8581::GetValue(int32_t& value) const
{
    value = m_driver.GetValue();
    return true;
}

} // namespace iapp
