#include "iapp/kavrel_i2c_bus_device_PCA9532.h"

#include <memory>
#include <vector>

#include "ireg/reg_enum_node.h"
#include "ireg/reg_fnc_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

ISTD_ENUM_TABLE(bmc::PCA9532::tMode, {bmc::PCA9532::eModeOff, "Off"}, {bmc::PCA9532::eModeOn, "On"},
                {bmc::PCA9532::eModeBlink0, "Blink0"}, {bmc::PCA9532::eModeBlink1, "Blink1"});

namespace iapp {

namespace {

using Mode = bmc::PCA9532::tMode;

constexpr uint8_t c_inputLow = 0;
constexpr uint8_t c_inputHigh = 1;
constexpr uint8_t c_prescaler0 = 2;
constexpr uint8_t c_pwm0 = 3;
constexpr uint8_t c_prescaler1 = 4;
constexpr uint8_t c_pwm1 = 5;

} // namespace

KavrelPCA9532::KavrelPCA9532(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id,
                             uint8_t address, uint8_t bus)
    : KavrelI2cBusDevice(controller, bmc::Create<bmc::PCA9532>(controller.GetController(), name, id, address, bus)),
      m_driver(DriverAs<bmc::PCA9532>())
{
    ISTD_TRACE_FNC("iapp::KavrelPCA9532::KavrelPCA9532(iapp::KavrelI2cBusController&, const std::string&, "
                   "bmc::BusDeviceId, uint8_t, uint8_t)");
}

KavrelPCA9532::~KavrelPCA9532()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelPCA9532");
}

void KavrelPCA9532::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::KavrelPCA9532::OnRegistryAdd(mci::TreeNodePtr&)");
    using Word = ireg::RegFncNode<uint32_t>;
    node->Add(mci::factory::Create<Word>("pin_state", this, 0, &KavrelPCA9532::GetPinState, mci::Flags(2)));
    node->Add(mci::factory::Create<Word>("prescaler_0", this, &KavrelPCA9532::SetPrescaler0,
                                         &KavrelPCA9532::GetPrescaler0, mci::Flags(6)));
    node->Add(mci::factory::Create<Word>("prescaler_1", this, &KavrelPCA9532::SetPrescaler1,
                                         &KavrelPCA9532::GetPrescaler1, mci::Flags(6)));
    node->Add(
        mci::factory::Create<Word>("pwm_0", this, &KavrelPCA9532::SetPWM0, &KavrelPCA9532::GetPWM0, mci::Flags(6)));
    node->Add(
        mci::factory::Create<Word>("pwm_1", this, &KavrelPCA9532::SetPWM1, &KavrelPCA9532::GetPWM1, mci::Flags(6)));
    m_modes = node->Add(mci::factory::Create<ireg::RegFncNode<std::string>>(
        "modes", size_t{bmc::PCA9532::c_num_of_pins}, this, &KavrelPCA9532::SetModes, &KavrelPCA9532::GetModes,
        mci::Flags(0x206)));
}

bool KavrelPCA9532::GetPinState(uint32_t& state) const
{
    const uint32_t high = m_driver.Get(c_inputHigh);
    state = high * 256 + m_driver.Get(c_inputLow);
    return true;
}

bool KavrelPCA9532::GetPrescaler0(uint32_t& value) const
{
    return _GetRegister(c_prescaler0, value);
}

bool KavrelPCA9532::SetPrescaler0(const uint32_t& value)
{
    return _SetRegister(c_prescaler0, value);
}

bool KavrelPCA9532::GetPWM0(uint32_t& value) const
{
    return _GetRegister(c_pwm0, value);
}

bool KavrelPCA9532::SetPWM0(const uint32_t& value)
{
    return _SetRegister(c_pwm0, value);
}

bool KavrelPCA9532::GetPrescaler1(uint32_t& value) const
{
    return _GetRegister(c_prescaler1, value);
}

bool KavrelPCA9532::SetPrescaler1(const uint32_t& value)
{
    return _SetRegister(c_prescaler1, value);
}

bool KavrelPCA9532::GetPWM1(uint32_t& value) const
{
    return _GetRegister(c_pwm1, value);
}

bool KavrelPCA9532::SetPWM1(const uint32_t& value)
{
    return _SetRegister(c_pwm1, value);
}

size_t KavrelPCA9532::GetModes(std::string* texts, size_t pos, size_t count) const
{
    ISTD_TRACE_FNC("size_t iapp::KavrelPCA9532::GetModes(std::string*, size_t, size_t) const");
    std::vector<Mode> modes(count);
    const size_t n = m_driver.GetOperationModes(modes.data(), pos, count);
    for (size_t i = 0; i < n; ++i) {
        texts[i] = istd::EnumName(modes[i]);
    }
    return n;
}

bool KavrelPCA9532::SetModes(const std::string* texts, size_t pos, size_t count)
{
    ISTD_TRACE_FNC("bool iapp::KavrelPCA9532::SetModes(const std::string*, size_t, size_t)");
    std::vector<Mode> modes(count);
    for (size_t i = 0; i < count; ++i) {
        modes[i] = ireg::detail::EnumFromText<Mode>(texts[i]);
    }
    return m_driver.SetOperationModes(modes.data(), pos, count);
}

bool KavrelPCA9532::GetMode(std::string& text, size_t pin) const
{
    if (m_modes) {
        m_modes->Get(text, pin, mci::c_noRelPath);
        return true;
    }
    return GetModes(&text, pin, 1) == 1;
}

bool KavrelPCA9532::SetMode(const std::string& text, size_t pin)
{
    if (m_modes) {
        m_modes->Set(text, pin, mci::c_noRelPath);
        return true;
    }
    return SetModes(&text, pin, 1);
}

bool KavrelPCA9532::_GetRegister(uint8_t reg, uint32_t& value) const
{
    value = m_driver.Get(reg);
    return true;
}

bool KavrelPCA9532::_SetRegister(uint8_t reg, uint32_t value)
{
    // The registers are bytes: the low 8 bits are what the chip can take.
    m_driver.Set(reg, static_cast<uint8_t>(value));
    return true;
}

} // namespace iapp
