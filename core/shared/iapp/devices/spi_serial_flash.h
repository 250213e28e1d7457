#ifndef IAPP_DEVICES_SPI_SERIAL_FLASH_H
#define IAPP_DEVICES_SPI_SERIAL_FLASH_H

// A serial NOR flash on an SPI bus: its JEDEC identification as three read-only nodes (uint32,
// flags 2), each read afresh from the chip on every get (nothing is cached, so the three may come
// from three reads):
//   "id"        manufacturer id (the first identification byte)
//   "mem_type"  memory type (the second)
//   "capacity"  capacity code (the third)
// A failed identification read fails the get. The driver recognises the flash when it is made
// and refuses one it does not know ("Serial flash not supported or inaccessible."), so no
// wrapper is made for it. Programming the flash is the driver's, not offered here.

#include <cstdint>
#include <string>

#include "bmc/spi_device_serial_flash.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_spi_bus_controller.h"
#include "iapp/kavrel_spi_bus_device.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API SerialFlash : public KavrelSpiBusDevice {
public:
    // flag is the driver's.
    SerialFlash(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id, bool flag);
    ~SerialFlash() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // One identification read each; false, value untouched, when it fails.
    bool GetId(uint32_t& value) const;
    bool GetMemType(uint32_t& value) const;
    bool GetCapacity(uint32_t& value) const;

private:
    bool _Read(uint8_t bmc::tFlashId::*field, uint32_t& value) const;

    bmc::SerialFlash& m_driver;
};

} // namespace iapp

#endif
