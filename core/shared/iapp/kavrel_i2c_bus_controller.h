#ifndef IAPP_KAVREL_I2C_BUS_CONTROLLER_H
#define IAPP_KAVREL_I2C_BUS_CONTROLLER_H

// The FPGA I2C master core of a board as a bus-controller component: a
// bmc::I2cBusControllerFpgaAmba over the core's 48-byte window. It takes I2C chip wrappers
// (KavrelI2cBusDevice) as children and nothing else.
//
//     auto* i2c = board.RegisterObject<iapp::KavrelI2cBusController>(0x300000, "i2c", 2u);

#include <cstddef>
#include <cstdint>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_bus_controller.h"

namespace iapp {

class IAPP_API KavrelI2cBusController : public KavrelBusController {
public:
    static size_t Size() { return 48; }

    // A controller for at most maxDevices chips over the window (KavrelBoard::RegisterObject).
    KavrelI2cBusController(KavrelBoard& board, volatile FPGAMem_t* window, const std::string& name,
                           uint32_t maxDevices);
    ~KavrelI2cBusController() override;

    // True exactly for an I2C chip wrapper.
    bool OnQueryChild(const KavrelObject& child) override;
};

} // namespace iapp

#endif
