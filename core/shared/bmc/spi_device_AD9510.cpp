#include "bmc/spi_device_AD9510.h"

#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

namespace {

constexpr uint32_t c_dividerA = 4;
constexpr uint32_t c_dividerBHigh = 5;
constexpr uint32_t c_dividerBLow = 6;
constexpr uint32_t c_dividerRHigh = 11;
constexpr uint32_t c_dividerRLow = 12;

// Bits 7 and 6 clear and bit 4 set: the chip answers in the long-instruction mode.
bool _LinkWorks(bool bit7, bool bit6, bool bit4)
{
    return !bit7 && !bit6 && bit4;
}

} // namespace

AD9510::AD9510(BusController& controller, const std::string& name, BusDeviceId id, const ConfigurationItem* config)
    : SpiDevice(controller, name, id), m_config(config)
{
    ISTD_TRACE_FNC("bmc::AD9510::AD9510(bmc::BusController&, const std::string&, bmc::BusDeviceId, const "
                   "bmc::AD9510::ConfigurationItem*)");
    SetBusParam<SpiBusParams>(*this, false, 8, true, false, false, true, 3125);
    ReloadConfiguration();
}

AD9510::~AD9510() = default;

void AD9510::GetRegister(uint32_t address, uint32_t& value)
{
    const uint64_t instruction[2] = {(address >> 8) | 0x80, address & 0xFF};
    uint64_t answer = 0;
    Transfer(0, instruction, 2, &answer, 1);
    value = static_cast<uint32_t>(answer);
}

void AD9510::SetRegister(uint32_t address, const uint32_t& value)
{
    const uint64_t words[3] = {address >> 8, address & 0xFF, value & 0xFF};
    Transfer(0, words, 3, nullptr, 0);
}

void AD9510::GetSpiControl(bool& bit7, bool& bit6, bool& bit5, bool& bit4)
{
    uint32_t value = 0;
    GetRegister(c_serialControl, value);
    bit7 = (value & 0x80) != 0;
    bit6 = (value & 0x40) != 0;
    bit5 = (value & 0x20) != 0;
    bit4 = (value & 0x10) != 0;
}

void AD9510::SetSpiControl(bool bit7, bool bit6, bool bit5, bool bit4)
{
    const uint32_t value = (bit7 ? 0x80u : 0u) | (bit6 ? 0x40u : 0u) | (bit5 ? 0x20u : 0u) | (bit4 ? 0x10u : 0u);
    SetRegister(c_serialControl, value);
}

void AD9510::GetPllPowerDown(tPllPowerDown& mode)
{
    uint32_t value = 0;
    GetRegister(c_pllPowerDown, value);
    mode = value & 3;
}

void AD9510::SetPllPowerDown(tPllPowerDown mode)
{
    BusControllerLocker lock(m_controller);
    uint32_t value = 0;
    GetRegister(c_pllPowerDown, value);
    value = (value & ~uint32_t{3}) | (mode & 3);
    SetRegister(c_pllPowerDown, value);
    Flush();
}

bool AD9510::GetDivider(const tDivider& divider, uint32_t& value)
{
    BusControllerLocker lock(m_controller);
    uint32_t high = 0;
    switch (divider) {
    case eDividerA:
        GetRegister(c_dividerA, value);
        break;
    case eDividerB:
        GetRegister(c_dividerBLow, value);
        GetRegister(c_dividerBHigh, high);
        value |= high << 8;
        break;
    case eDividerR:
        GetRegister(c_dividerRLow, value);
        GetRegister(c_dividerRHigh, high);
        value |= high << 8;
        break;
    default:
        break;
    }
    return true;
}

bool AD9510::SetDivider(const tDivider& divider, const uint32_t& value)
{
    BusControllerLocker lock(m_controller);
    switch (divider) {
    case eDividerA:
        SetRegister(c_dividerA, value & 0x3F);
        break;
    case eDividerB:
        SetRegister(c_dividerBHigh, (value >> 8) & 0x1F);
        SetRegister(c_dividerBLow, value & 0xFF);
        break;
    case eDividerR:
        // The R divider has 14 bits: six in the high register (a 0x2F mask would drop bit 12).
        SetRegister(c_dividerRHigh, (value >> 8) & 0x3F);
        SetRegister(c_dividerRLow, value & 0xFF);
        break;
    default:
        break;
    }
    Flush();
    return true;
}

void AD9510::Flush()
{
    SetRegister(c_update, 1);
}

void AD9510::ReloadConfiguration()
{
    BusControllerLocker lock(m_controller);
    ISTD_TRACE(3, "Reloading AD9510 configuration ");
    if (m_config != nullptr) {
        for (const ConfigurationItem* item = m_config; item->register_address != 0 || item->register_value != 0;
             ++item) {
            SetRegister(item->register_address, item->register_value);
        }
    }
    Flush();
}

void AD9510::SetHardResetFnc(std::function<bool()> fnc)
{
    m_hard_reset_fnc = std::move(fnc);
}

void AD9510::SetPostInitFnc(std::function<bool()> fnc)
{
    m_post_init_fnc = std::move(fnc);
}

bool AD9510::Reset()
{
    ISTD_TRACE_FNC("bool bmc::AD9510::Reset()");
    if (!m_hard_reset_fnc || !m_hard_reset_fnc()) {
        SetSpiControl(false, false, true, true);
        SetSpiControl(false, false, false, true);
    }
    bool bit7 = false;
    bool bit6 = false;
    bool bit5 = false;
    bool bit4 = false;
    GetSpiControl(bit7, bit6, bit5, bit4);
    if (_LinkWorks(bit7, bit6, bit4) && !bit5) {
        ReloadConfiguration();
        if (m_post_init_fnc) {
            m_post_init_fnc();
        }
        return true;
    }
    ISTD_TRACE(1, "Serial communication with AD9510 could not be established correctly after reset.");
    return false;
}

bool AD9510::AssureCommunication()
{
    ISTD_TRACE_FNC("bool bmc::AD9510::AssureCommunication()");
    bool bit7 = false;
    bool bit6 = false;
    bool bit5 = false;
    bool bit4 = false;
    GetSpiControl(bit7, bit6, bit5, bit4);
    if (_LinkWorks(bit7, bit6, bit4)) {
        return true;
    }
    SetSpiControl(false, false, false, true);
    GetSpiControl(bit7, bit6, bit5, bit4);
    if (_LinkWorks(bit7, bit6, bit4)) {
        return true;
    }
    return Reset();
}

} // namespace bmc
