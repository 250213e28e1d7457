#include "iapp/kavrel_spi_bus_device_DAC8552.h"

#include "ireg/reg_enum_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_node.h"
#include "ireg/validators.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

ISTD_ENUM_TABLE(iapp::DAC8552Mode_e, {iapp::eDac8552Normal, "normal"}, {iapp::eDac8552PowerDown1K, "power_down_1K"},
                {iapp::eDac8552PowerDown100K, "power_down_100K"}, {iapp::eDac8552PowerDown, "power_down"});

namespace iapp {

namespace {

constexpr mci::Flags c_flags = 6;

} // namespace

DAC8552::DAC8552(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id)
    : KavrelSpiBusDevice(controller, bmc::Create<bmc::DAC8552>(controller.GetController(), name, id)),
      m_driver(DriverAs<bmc::DAC8552>())
{
}

DAC8552::~DAC8552()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " DAC8552");
}

void DAC8552::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::DAC8552::OnRegistryAdd(mci::TreeNodePtr&)");
    using Value = ireg::RegFncNode<uint32_t>;
    using Range = ireg::expr::Range<uint32_t, uint32_t>;
    m_mode = mci::Node(node->Add(mci::factory::Create<ireg::RegFncEnumNode<DAC8552Mode_e>>(
                           "mode", this, &DAC8552::_SetMode, &DAC8552::GetMode, c_flags)),
                       mci::c_noRelPath);
    mci::TreeNodePtr output = node->Add(mci::factory::Create<ireg::RegNode>("output", 0));
    m_outputA = mci::Node(output->Add(mci::factory::Create<Value>(ireg::Expr<Range>(0, 65535), "A", this,
                                                                  &DAC8552::_SetValueA, &DAC8552::GetValueA, c_flags)),
                          mci::c_noRelPath);
    m_outputB = mci::Node(output->Add(mci::factory::Create<Value>(ireg::Expr<Range>(0, 65535), "B", this,
                                                                  &DAC8552::_SetValueB, &DAC8552::GetValueB, c_flags)),
                          mci::c_noRelPath);
}

bool DAC8552::SetValueA(const uint32_t& value)
{
    return m_outputA.GetTreeNode() ? m_outputA.SetValue(value) : _SetValueA(value);
}

bool DAC8552::SetValueB(const uint32_t& value)
{
    return m_outputB.GetTreeNode() ? m_outputB.SetValue(value) : _SetValueB(value);
}

bool DAC8552::SetMode(const DAC8552Mode_e& mode)
{
    return m_mode.GetTreeNode() ? m_mode.SetValue(static_cast<int64_t>(mode)) : _SetMode(mode);
}

bool DAC8552::GetValueA(uint32_t& value) const
{
    value = m_driver.GetValue(bmc::DAC8552::c_outputA);
    return true;
}

bool DAC8552::GetValueB(uint32_t& value) const
{
    value = m_driver.GetValue(bmc::DAC8552::c_outputB);
    return true;
}

bool DAC8552::GetMode(DAC8552Mode_e& mode) const
{
    mode = static_cast<DAC8552Mode_e>(m_driver.GetMode());
    return true;
}

bool DAC8552::_SetValueA(const uint32_t& value)
{
    return m_driver.SetValue(true, false, bmc::DAC8552::c_outputA, static_cast<uint16_t>(value));
}

bool DAC8552::_SetValueB(const uint32_t& value)
{
    return m_driver.SetValue(false, true, bmc::DAC8552::c_outputB, static_cast<uint16_t>(value));
}

bool DAC8552::_SetMode(const DAC8552Mode_e& mode)
{
    m_driver.SetMode(mode);
    return true;
}

} // namespace iapp
