#include "iapp/devices/spi_CDCE72010.h"

#include <utility>

#include "ireg/reg_fnc_node.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iapp {

namespace {

template <size_t... N>
std::array<CDCE72010::Register, sizeof...(N)> _Registers(bmc::CDCE72010& driver, std::index_sequence<N...>)
{
    return {CDCE72010::Register(driver, N)...};
}

} // namespace

CDCE72010::Register::Register(bmc::CDCE72010& driver, unsigned int number) : m_driver(driver), m_number(number) {}

bool CDCE72010::Register::Get(uint32_t& value) const
{
    return m_driver.Get(m_number, value);
}

bool CDCE72010::Register::Set(const uint32_t& value)
{
    return m_driver.Set(m_number, value);
}

void CDCE72010::Register::Add(mci::TreeNodePtr& parent)
{
    parent->Add(mci::factory::Create<ireg::RegFncNode<uint32_t>>("reg_" + std::to_string(m_number), this,
                                                                 &Register::Set, &Register::Get));
}

CDCE72010::CDCE72010(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id)
    : KavrelSpiBusDevice(controller, bmc::Create<bmc::CDCE72010>(controller.GetController(), name, id)),
      m_driver(DriverAs<bmc::CDCE72010>()),
      m_registers(_Registers(m_driver, std::make_index_sequence<bmc::CDCE72010::c_registers>()))
{
}

CDCE72010::~CDCE72010()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " CDCE72010");
}

void CDCE72010::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::CDCE72010::OnRegistryAdd(mci::TreeNodePtr&)");
    for (Register& reg : m_registers) {
        reg.Add(node);
    }
}

} // namespace iapp
