#ifndef IAPP_DEVICES_SPI_CDCE72010_H
#define IAPP_DEVICES_SPI_CDCE72010_H

// The CDCE72010 clock synchroniser on an SPI bus: its twelve configuration registers as the
// nodes "reg_0" to "reg_11" (uint32, flags 6), each read from and written to the chip through the
// driver on every access; the wrapper keeps no copy.
//
// A write takes the register's 28-bit value (2^28 and above: the driver's "Invalid register
// value", nothing sent); a read gives the word as the chip sends it, the 28 bits above the
// register number (value << 4 | number), so a value read cannot be written back as it is.

#include <array>
#include <cstdint>
#include <string>

#include "bmc/spi_device_CDCE72010.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_spi_bus_controller.h"
#include "iapp/kavrel_spi_bus_device.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API CDCE72010 : public KavrelSpiBusDevice {
public:
    // One register's node functions.
    class IAPP_API Register {
    public:
        Register(bmc::CDCE72010& driver, unsigned int number);

        bool Get(uint32_t& value) const;
        bool Set(const uint32_t& value);
        // Adds "reg_<number>" under parent.
        void Add(mci::TreeNodePtr& parent);

    private:
        bmc::CDCE72010& m_driver;
        uint32_t m_number;
    };

    CDCE72010(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id);
    ~CDCE72010() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    bmc::CDCE72010& m_driver;
    std::array<Register, bmc::CDCE72010::c_registers> m_registers;
};

} // namespace iapp

#endif
