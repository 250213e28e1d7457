#ifndef IAPP_KAVREL_SPI_BUS_DEVICE_DAC8581_H
#define IAPP_KAVREL_SPI_BUS_DEVICE_DAC8581_H

// The DAC8581 16-bit DAC on an SPI bus: its signed output code as the node "value" (int32 in
// [-32768, 32767], flags 6), which reads the code last written.
//
// Set goes through the node once the registry is defined (validated and notified as a client's
// write); before, it sends the low 16 bits of any value, as SetValue always does.

#include <cstdint>
#include <string>

#include "bmc/spi_device_DAC8581.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_spi_bus_controller.h"
#include "iapp/kavrel_spi_bus_device.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API DAC8581 : public KavrelSpiBusDevice {
public:
    DAC8581(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id);
    ~DAC8581() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // Through "value" when it exists (false when it refuses), else SetValue.
    bool Set(const int32_t& value);
    // Sends the low 16 bits as the code; true.
    bool SetValue(const int32_t& value);
    // The code last written, sign-extended; true.
    bool GetValue(int32_t& value) const;

private:
    bmc::DAC8581& m_driver;
    mci::TreeNodePtr m_value;
};

} // namespace iapp

#endif
