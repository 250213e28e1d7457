#include "bmc/i2c_device_SFP_EEPROM.h"

#include "istd/trace.h"
#include "bmc/bus_controller.h"

namespace bmc {

SfpEeprom::SfpEeprom(BusController& controller, const std::string& name, BusDeviceId id, uint8_t, uint8_t bus)
    : I2cDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::SfpEeprom::SfpEeprom(bmc::BusController&, const std::string&, bmc::BusDeviceId, uint8_t, uint8_t)");
    SetBusParam<I2cBusParams>(*this, c_i2cAddr, bus, 100);
}

SfpEeprom::~SfpEeprom() = default;

bool SfpEeprom::GetVendor(std::string& vendor) const
{
    ISTD_TRACE_FNC("bool bmc::SfpEeprom::GetVendor(std::string&) const");
    // The bytes of registers first..last as a zero-terminated text.
    const auto field = [this](uint32_t first, uint32_t last) {
        std::string text;
        bool ended = false;
        for (uint32_t reg = first; reg <= last; ++reg) {
            uint64_t word = 0;
            Read(reg, word);
            ISTD_TRACE(1, "i2c Read(" << reg << "): " << word);
            const char c = static_cast<char>(word & 0xFF);
            ended = ended || c == '\0';
            if (!ended) {
                text += c;
            }
        }
        return text;
    };
    vendor = field(20, 35);
    vendor += field(40, 59);
    return !vendor.empty();
}

} // namespace bmc
