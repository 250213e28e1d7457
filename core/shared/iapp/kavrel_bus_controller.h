#ifndef IAPP_KAVREL_BUS_CONTROLLER_H
#define IAPP_KAVREL_BUS_CONTROLLER_H

// A bus controller of the board's FPGA (I2C or SPI master core) as a component: it owns the
// bmc::BusController made over the core's window, lists the chips on the bus in the read-only
// string array "devices" (names in ascending device id), and is the parent of the chip wrappers
// of its bus (KavrelI2cBusController, KavrelSpiBusController). A chip wrapper makes its driver
// on GetController() with bmc::Create and derives from KavrelI2cBusDevice or KavrelSpiBusDevice:
//
//     auto* spi = board.RegisterObject<iapp::KavrelSpiBusController>(0xE00100, "dac_spi", 1u, false);
//     auto* dac = iapp::Create<iapp::DAC8552>(*spi, "DAC8552", bmc::BusDeviceId{0});
//
// "devices" follows the controller's device count: wrappers made after the registry was built
// appear in it. The controller calls OnAddDevice with no bus lock held, so resizing the node under
// its own lock never waits for the node while a read of "devices" holds the node and waits for
// the controller.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bmc/bus_controller.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_fpga_object.h"
#include "mci/types.h"

namespace iapp {

class KavrelBoard;

class IAPP_API KavrelBusController : public KavrelFpgaObject {
public:
    // Under board, named name; takes over the controller's device-added callback (dropping one
    // set before) until the component is destroyed.
    KavrelBusController(KavrelBoard& board, const std::string& name, bmc::BusControllerPtr controller);
    // Clears the device-added callback: the controller may outlive the component.
    ~KavrelBusController() override;

    // Creates "devices" (flags 0x202) with the controller's present device count.
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // The getter of "devices": the names of the devices from position pos in ascending id order,
    // at most count of them; the number written (0 from a pos at or beyond the device count).
    size_t GetDevices(std::string* out, size_t pos, size_t count) const;
    // Writes the device's name into element index of the std::string array at user.
    void OnEachDevice(bmc::BusDevice& device, uint32_t index, void* user) const;

    // The controller, shared with the chip drivers made on it.
    const bmc::BusControllerPtr& GetController() const { return m_controller; }

protected:
    // Called by the controller, with no bus lock held, with each device it registered: resizes
    // "devices" (when it exists) to the controller's device count.
    virtual void OnAddDevice(const bmc::BusDevice& device);

private:
    mci::TreeNodePtr m_devices;
    bmc::BusControllerPtr m_controller;
};

} // namespace iapp

#endif
