#include "iapp/devices/spi_DAC7554.h"

#include "ireg/reg_enum_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_node.h"
#include "ireg/validators.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

ISTD_ENUM_TABLE(bmc::DAC7554::PowerDownMode_e, {bmc::DAC7554::ePowerDownHiZ, "HiZ"},
                {bmc::DAC7554::ePowerDown1K, "1K"}, {bmc::DAC7554::ePowerDown100K, "100K"},
                {bmc::DAC7554::ePowerDownOff, "Off"});

namespace iapp {

namespace {

constexpr mci::Flags c_flags = 6;

} // namespace

DAC7554Channel::DAC7554Channel(bmc::DAC7554& driver, uint32_t channel, std::mutex& lock)
    : m_driver(driver), m_channel(channel), m_lock(lock)
{
}

DAC7554Channel::~DAC7554Channel()
{
    m_powerDown.reset();
    m_value.reset();
}

bool DAC7554Channel::SetValue(const uint32_t& value)
{
    // The driver takes 16 bits: a larger value would be cut before its range check, and
    // 65 636 would write 100.
    if (value > bmc::DAC7554::c_maxValue) {
        throw istd::Exception("Specified value " + std::to_string(value) + " is out of range", true);
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return m_driver.SetValue(m_channel, static_cast<uint16_t>(value));
}

bool DAC7554Channel::GetValue(uint32_t& value) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    value = m_driver.GetValue(m_channel);
    return true;
}

bool DAC7554Channel::SetPowerDownMode(const bmc::DAC7554::PowerDownMode_e& mode)
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_driver.SetPowerDownMode(m_channel, mode);
}

bool DAC7554Channel::GetPowerDownMode(bmc::DAC7554::PowerDownMode_e& mode) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    mode = m_driver.GetPowerDownMode(m_channel);
    return true;
}

void DAC7554Channel::Set(const uint32_t& value)
{
    if (m_value) {
        m_value->Set(value, 0, mci::c_noRelPath);
    } else {
        SetValue(value);
    }
}

void DAC7554Channel::AddReg(mci::TreeNodePtr parent)
{
    ISTD_TRACE_FNC("void iapp::DAC7554Channel::AddReg(mci::TreeNodePtr)");
    using Range = ireg::expr::Range<uint32_t, uint32_t>;
    const mci::TreeNodePtr branch =
        parent->Add(mci::factory::Create<ireg::RegNode>("channel_" + std::to_string(m_channel), mci::Flags(0)));
    m_value = branch->Add(mci::factory::Create<ireg::RegFncNode<uint32_t>>(
        ireg::Expr<Range>(0, bmc::DAC7554::c_maxValue), "value", this, &DAC7554Channel::SetValue,
        &DAC7554Channel::GetValue, c_flags));
    m_powerDown = branch->Add(mci::factory::Create<ireg::RegFncEnumNode<bmc::DAC7554::PowerDownMode_e>>(
        "power_down_mode", this, &DAC7554Channel::SetPowerDownMode, &DAC7554Channel::GetPowerDownMode, c_flags));
}

DAC7554::DAC7554(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id)
    : KavrelSpiBusDevice(controller, bmc::Create<bmc::DAC7554>(controller.GetController(), name, id)),
      m_driver(DriverAs<bmc::DAC7554>()),
      m_channels{{DAC7554Channel(m_driver, 0, m_lock), DAC7554Channel(m_driver, 1, m_lock),
                  DAC7554Channel(m_driver, 2, m_lock), DAC7554Channel(m_driver, 3, m_lock)}},
      m_table{{&m_channels[0], &m_channels[1], &m_channels[2], &m_channels[3]}}
{
}

DAC7554::~DAC7554()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " DAC7554");
}

void DAC7554::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::DAC7554::OnRegistryAdd(mci::TreeNodePtr&)");
    for (DAC7554Channel& channel : m_channels) {
        channel.AddReg(node);
    }
}

void DAC7554::Set(uint32_t channel, const uint32_t& value)
{
    if (channel >= m_table.size()) {
        throw istd::Exception("Invalid channel " + std::to_string(channel), true);
    }
    m_table[channel]->Set(value);
}

} // namespace iapp
