#include "iapp/devices/i2c_SI5338.h"

#include <cmath>
#include <exception>

#include "ireg/reg_enum_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/validators.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iapp {

namespace {

constexpr mci::Flags c_setting = 10; // readable, persistent
constexpr mci::Flags c_status = 2;   // readable

using Range = ireg::expr::Range<uint32_t, uint32_t>;
using Dividers = ireg::expr::Set<uint32_t, uint32_t>;
using Word = ireg::RegFncNode<uint32_t>;

ireg::ExpressionPtr _Range(int minimum, int maximum)
{
    return ireg::Expr<Range>(minimum, maximum);
}

ireg::ExpressionPtr _Dividers()
{
    return ireg::Expr<Dividers>(1, 2, 4, 8, 16, 32);
}

} // namespace

SI5338::SI5338(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
               uint8_t bus)
    : KavrelI2cBusDevice(controller, bmc::Create<bmc::Si5338>(controller.GetController(), name, id, address, bus)),
      m_driver(DriverAs<bmc::Si5338>())
{
}

SI5338::~SI5338()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " SI5338");
}

int SI5338::MaskOfBits(int n)
{
    return static_cast<int>(std::pow(2.0, n) - 1.0);
}

void SI5338::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::SI5338::OnRegistryAdd(mci::TreeNodePtr&)");
    using bmc::Si5338;
    namespace f = mci::factory;
    bmc::Si5338* d = &m_driver;
    const size_t multiSynths = bmc::eSi5338MsCount;
    const size_t outputs = bmc::eSi5338OutCount;

    node->Add(f::Create<ireg::RegFncEnumNode<bmc::_tSi5338DeviceStatus_e>>("state", d, 0, &Si5338::_GetDeviceState,
                                                                          c_status));
    node->Add(f::Create<ireg::RegFncEnumNode<bmc::_tSi5338ClkIn_e>>("in_clk", d, &Si5338::_SetInputClkSel,
                                                                   &Si5338::_GetInputClkSel, c_setting));
    node->Add(f::Create<Word>(_Dividers(), "in_D1", d, &Si5338::_SetInputDividerP1, &Si5338::_GetInputDividerP1,
                              c_setting));
    node->Add(f::Create<Word>(_Dividers(), "in_D2", d, &Si5338::_SetInputDividerP2, &Si5338::_GetInputDividerP2,
                              c_setting));
    node->Add(f::Create<Word>(_Range(1, MaskOfBits(7)), "pll_kphi", d, &Si5338::_SetPllKphi, &Si5338::_GetPllKphi,
                              c_setting));
    node->Add(f::Create<Word>(_Range(0, MaskOfBits(3)), "pll_vco_gain", d, &Si5338::_SetVcoGain,
                              &Si5338::_GetVcoGain, c_setting));
    node->Add(
        f::Create<Word>(_Range(0, MaskOfBits(2)), "pll_rsel", d, &Si5338::_SetRSel, &Si5338::_GetRSel, c_setting));
    // Two of the field's values are defined: the range stops at 2, not at the field's 3.
    node->Add(f::Create<Word>(_Range(0, MaskOfBits(2) - 1), "pll_bwsel", d, &Si5338::_SetBwSel, &Si5338::_GetBwSel,
                              c_setting));
    node->Add(
        f::Create<Word>(_Range(0, MaskOfBits(6)), "pll_mcal", d, &Si5338::_SetMCal, &Si5338::_GetMCal, c_setting));
    node->Add(f::Create<Word>(_Range(1, MaskOfBits(18)), "Ms_P1", multiSynths, d, &Si5338::_SetMultiSynthMsP1,
                              &Si5338::_GetMultiSynthMsP1, c_setting));
    node->Add(f::Create<Word>(_Range(0, MaskOfBits(30)), "Ms_P2", multiSynths, d, &Si5338::_SetMultiSynthMsP2,
                              &Si5338::_GetMultiSynthMsP2, c_setting));
    node->Add(f::Create<Word>(_Range(1, MaskOfBits(30)), "Ms_P3", multiSynths, d, &Si5338::_SetMultiSynthMsP3,
                              &Si5338::_GetMultiSynthMsP3, c_setting));
    node->Add(f::Create<Word>(_Dividers(), "out_Dx", outputs, d, &Si5338::_SetRxDivider, &Si5338::_GetRxDivider,
                              c_setting));
    node->Add(f::Create<ireg::RegFncEnumNode<bmc::_tSi5338ClkPresent_e>>("in1_clk_status", d, 0,
                                                                        &Si5338::_GetIn1ClkStatus, c_status));
    node->Add(f::Create<ireg::RegFncEnumNode<bmc::_tSi5338ClkPresent_e>>("in2_clk_status", d, 0,
                                                                        &Si5338::_GetIn2ClkStatus, c_status));
    node->Add(f::Create<ireg::RegFncEnumNode<bmc::_tSi5338PllLock_e>>("pll_status", d, 0, &Si5338::_GetPllStatus,
                                                                     c_status));
}

void SI5338::OnPostConfig()
{
    ISTD_TRACE_FNC("void iapp::SI5338::OnPostConfig()");
    try {
        m_driver.Si5338DevStateSet(bmc::eSi5338Enabled);
    } catch (const std::exception& e) {
        istd::LogError(GetName() + ": the clock generator did not start: " + e.what());
    }
}

} // namespace iapp
