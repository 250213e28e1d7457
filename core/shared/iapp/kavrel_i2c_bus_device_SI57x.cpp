#include "iapp/kavrel_i2c_bus_device_SI57x.h"

#include "ireg/reg_exec_node.h"
#include "ireg/reg_fnc_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iapp {

SI57x::SI57x(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
             uint8_t bus)
    : KavrelI2cBusDevice(controller, bmc::Create<bmc::Si57x>(controller.GetController(), name, id, address, bus)),
      m_driver(DriverAs<bmc::Si57x>())
{
}

SI57x::~SI57x()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " SI57x");
}

void SI57x::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::SI57x::OnRegistryAdd(mci::TreeNodePtr&)");
    node->Add(mci::factory::Create<ireg::RegFncNode<uint32_t>>("frequency", &m_driver, &bmc::Si57x::SetVcxoFreq,
                                                               &bmc::Si57x::GetVcxoFreq));
    node->Add(mci::factory::Create<ireg::RegExecNode>("apply", this, &SI57x::ApplyFrequency, mci::Flags(0x40)));
}

bool SI57x::ApplyFrequency()
{
    ISTD_TRACE_FNC("bool iapp::SI57x::ApplyFrequency()");
    if (!m_driver.CheckVcxoPresence()) {
        throw istd::Exception(GetName() + ": the oscillator does not answer; the frequency was not applied", true);
    }
    m_driver.SetDeviceState(bmc::eBusDeviceEnabled);
    return true;
}

} // namespace iapp
