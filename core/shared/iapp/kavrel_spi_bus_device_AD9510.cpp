#include "iapp/kavrel_spi_bus_device_AD9510.h"

#include "ireg/reg_exec_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_node.h"
#include "ireg/validators.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iapp {

namespace {

constexpr mci::Flags c_flags = 6;

// PLL power-down field codes (register 0x0A, bits 1..0): 0 and 2 run the PLL, 1 and 3 stop it.
constexpr bmc::AD9510::tPllPowerDown c_pllRunning = 2;
constexpr bmc::AD9510::tPllPowerDown c_pllPoweredDown = 1;

using Range = ireg::expr::Range<uint32_t, uint32_t>;

mci::Node _Handle(const mci::TreeNodePtr& node)
{
    return mci::Node(node, mci::c_noRelPath);
}

} // namespace

AD9510::AD9510(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id,
               const bmc::AD9510::ConfigurationItem* table)
    : KavrelSpiBusDevice(controller, bmc::Create<bmc::AD9510>(controller.GetController(), name, id, table)),
      m_driver(DriverAs<bmc::AD9510>())
{
}

AD9510::~AD9510()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " AD9510");
}

void AD9510::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::AD9510::OnRegistryAdd(mci::TreeNodePtr&)");
    using Bool = ireg::RegFncNode<bool>;
    using Word = ireg::RegFncNode<uint32_t>;
    m_enable = _Handle(
        node->Add(mci::factory::Create<Bool>("enable", this, &AD9510::_SetPllEnabled, &AD9510::GetPllEnabled, c_flags)));
    m_dividerA = _Handle(node->Add(mci::factory::Create<Word>(ireg::Expr<Range>(0, 63), "divA", this,
                                                              &AD9510::_SetDividerA, &AD9510::GetDividerA, c_flags)));
    m_dividerB = _Handle(node->Add(mci::factory::Create<Word>(ireg::Expr<Range>(0, 8191), "divB", this,
                                                              &AD9510::_SetDividerB, &AD9510::GetDividerB, c_flags)));
    m_dividerR = _Handle(node->Add(mci::factory::Create<Word>(ireg::Expr<Range>(0, 16383), "divR", this,
                                                              &AD9510::_SetDividerR, &AD9510::GetDividerR, c_flags)));

    mci::TreeNodePtr reg = mci::factory::Create<ireg::RegNode>("register", 0);
    reg->Add(mci::factory::Create<Word>(ireg::Expr<Range>(0, c_lastRegister), "addr", this,
                                        &AD9510::SetRegisterAddress, &AD9510::GetRegisterAddress, c_flags));
    reg->Add(mci::factory::Create<Word>(ireg::Expr<Range>(0, 255), "value", this, &AD9510::SetRegister,
                                        &AD9510::GetRegister, c_flags));
    reg->Add(mci::factory::Create<ireg::RegExecNode>("flush", this, &AD9510::Flush));
    node->Add(reg);
    node->Add(mci::factory::Create<ireg::RegExecNode>("init", this, &AD9510::Init));
}

bool AD9510::SetPllEnabled(const bool& enabled)
{
    return m_enable.GetTreeNode() ? m_enable.SetValue(enabled) : _SetPllEnabled(enabled);
}

bool AD9510::SetDividerA(const uint32_t& value)
{
    return m_dividerA.GetTreeNode() ? m_dividerA.SetValue(value) : _SetDividerA(value);
}

bool AD9510::SetDividerB(const uint32_t& value)
{
    return m_dividerB.GetTreeNode() ? m_dividerB.SetValue(value) : _SetDividerB(value);
}

bool AD9510::SetDividerR(const uint32_t& value)
{
    return m_dividerR.GetTreeNode() ? m_dividerR.SetValue(value) : _SetDividerR(value);
}

bool AD9510::GetPllEnabled(bool& enabled) const
{
    bmc::AD9510::tPllPowerDown mode = 0;
    m_driver.GetPllPowerDown(mode);
    enabled = (mode & 1) == 0;
    return true;
}

bool AD9510::GetDividerA(uint32_t& value) const
{
    return m_driver.GetDivider(bmc::AD9510::eDividerA, value);
}

bool AD9510::GetDividerB(uint32_t& value) const
{
    return m_driver.GetDivider(bmc::AD9510::eDividerB, value);
}

bool AD9510::GetDividerR(uint32_t& value) const
{
    return m_driver.GetDivider(bmc::AD9510::eDividerR, value);
}

bool AD9510::GetRegisterAddress(uint32_t& address) const
{
    address = m_registerAddress.load();
    return true;
}

bool AD9510::SetRegisterAddress(const uint32_t& address)
{
    m_registerAddress.store(address);
    return true;
}

bool AD9510::GetRegister(uint32_t& value) const
{
    m_driver.GetRegister(m_registerAddress.load(), value);
    return true;
}

bool AD9510::SetRegister(const uint32_t& value)
{
    m_driver.SetRegister(m_registerAddress.load(), value);
    return true;
}

bool AD9510::Flush()
{
    m_driver.Flush();
    return true;
}

bool AD9510::Init()
{
    m_driver.ReloadConfiguration();
    return true;
}

bool AD9510::_SetPllEnabled(const bool& enabled)
{
    m_driver.SetPllPowerDown(enabled ? c_pllRunning : c_pllPoweredDown);
    return true;
}

bool AD9510::_SetDividerA(const uint32_t& value)
{
    return m_driver.SetDivider(bmc::AD9510::eDividerA, value);
}

bool AD9510::_SetDividerB(const uint32_t& value)
{
    return m_driver.SetDivider(bmc::AD9510::eDividerB, value);
}

bool AD9510::_SetDividerR(const uint32_t& value)
{
    return m_driver.SetDivider(bmc::AD9510::eDividerR, value);
}

} // namespace iapp
