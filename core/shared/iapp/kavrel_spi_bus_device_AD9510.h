#ifndef IAPP_KAVREL_SPI_BUS_DEVICE_AD9510_H
#define IAPP_KAVREL_SPI_BUS_DEVICE_AD9510_H

// The AD9510 clock distribution chip with its PLL on an SPI bus. Nodes under the wrapper's node:
//   "enable"          bool (flags 6): the PLL runs (power-down field of register 0x0A at 0 or 2)
//                     or not (1 or 3); true writes 2, false 1, then the update register
//   "divA"            uint32 in [0, 63]     the PLL's A counter (register 0x04)
//   "divB"            uint32 in [0, 8191]   the B counter (registers 0x05, 0x06)
//   "divR"            uint32 in [0, 16383]  the reference divider R (registers 0x0B, 0x0C)
//                     (each written with the update, so it takes effect at once)
//   "register/addr"   uint32 in [0, 90] (0x5A, the chip's last register): the register that
//                     "value" reaches; 0 at start
//   "register/value"  uint32 in [0, 255]: that register, read or written (a write takes effect
//                     with "flush" or any later divider or PLL change)
//   "register/flush"  command: writes 1 to the update register (90)
//   "init"            command: writes the configuration table again, then the update register
// The ranges keep values the chip's fields cannot hold, and addresses the instruction cannot
// carry, from being cut down to another value or register on the way.
//
// The driver writes the configuration table when it is made (so the wrapper's construction
// configures the chip); the table belongs to the caller and must outlive the wrapper.
// SetPllEnabled and SetDividerA/B/R go through the nodes once the registry is defined, and
// straight to the driver before.

#include <atomic>
#include <cstdint>
#include <string>

#include "bmc/spi_device_AD9510.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_spi_bus_controller.h"
#include "iapp/kavrel_spi_bus_device.h"
#include "mci/node.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API AD9510 : public KavrelSpiBusDevice {
public:
    static constexpr uint32_t c_lastRegister = 0x5A;

    AD9510(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id,
           const bmc::AD9510::ConfigurationItem* table);
    ~AD9510() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // Through the node when it exists (false when it refuses), else the private setter.
    bool SetPllEnabled(const bool& enabled);
    bool SetDividerA(const uint32_t& value);
    bool SetDividerB(const uint32_t& value);
    bool SetDividerR(const uint32_t& value);

    bool GetPllEnabled(bool& enabled) const;
    bool GetDividerA(uint32_t& value) const;
    bool GetDividerB(uint32_t& value) const;
    bool GetDividerR(uint32_t& value) const;

    // The register that "register/value" reaches.
    bool GetRegisterAddress(uint32_t& address) const;
    bool SetRegisterAddress(const uint32_t& address);
    // That register, read or written (low 8 bits).
    bool GetRegister(uint32_t& value) const;
    bool SetRegister(const uint32_t& value);

    // The update register; the configuration table again. True once the driver returned.
    bool Flush();
    bool Init();

private:
    bool _SetPllEnabled(const bool& enabled);
    bool _SetDividerA(const uint32_t& value);
    bool _SetDividerB(const uint32_t& value);
    bool _SetDividerR(const uint32_t& value);

    bmc::AD9510& m_driver;
    // "addr" and "value" are two nodes with locks of their own.
    std::atomic<uint32_t> m_registerAddress{0};
    mci::Node m_enable;
    mci::Node m_dividerA;
    mci::Node m_dividerB;
    mci::Node m_dividerR;
};

} // namespace iapp

#endif
