#include "iapp/devices/spi_serial_flash.h"

#include "ireg/reg_fnc_node.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iapp {

namespace {

constexpr mci::Flags c_readOnly = 2;

} // namespace

SerialFlash::SerialFlash(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id,
                         bool flag)
    : KavrelSpiBusDevice(controller, bmc::Create<bmc::SerialFlash>(controller.GetController(), name, id, flag)),
      m_driver(DriverAs<bmc::SerialFlash>())
{
}

SerialFlash::~SerialFlash()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " SerialFlash");
}

void SerialFlash::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::SerialFlash::OnRegistryAdd(mci::TreeNodePtr&)");
    using Word = ireg::RegFncNode<uint32_t>;
    node->Add(mci::factory::Create<Word>("id", this, 0, &SerialFlash::GetId, c_readOnly));
    node->Add(mci::factory::Create<Word>("mem_type", this, 0, &SerialFlash::GetMemType, c_readOnly));
    node->Add(mci::factory::Create<Word>("capacity", this, 0, &SerialFlash::GetCapacity, c_readOnly));
}

bool SerialFlash::GetId(uint32_t& value) const
{
    return _Read(&bmc::tFlashId::id, value);
}

bool SerialFlash::GetMemType(uint32_t& value) const
{
    return _Read(&bmc::tFlashId::memType, value);
}

bool SerialFlash::GetCapacity(uint32_t& value) const
{
    return _Read(&bmc::tFlashId::memCap, value);
}

bool SerialFlash::_Read(uint8_t bmc::tFlashId::*field, uint32_t& value) const
{
    bmc::tFlashId id{};
    if (!m_driver.GetId(&id)) {
        return false;
    }
    value = id.*field;
    return true;
}

} // namespace iapp
