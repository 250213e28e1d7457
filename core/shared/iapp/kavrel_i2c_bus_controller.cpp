#include "iapp/kavrel_i2c_bus_controller.h"

#include "bmc/i2c_bus_controller_fpga_amba.h"
#include "iapp/kavrel_i2c_bus_device.h"
#include "istd/trace.h"

namespace iapp {

KavrelI2cBusController::KavrelI2cBusController(KavrelBoard& board, volatile FPGAMem_t* window,
                                               const std::string& name, uint32_t maxDevices)
    : KavrelBusController(board, name,
                          bmc::Create<bmc::I2cBusControllerFpgaAmba>(
                              name, maxDevices, reinterpret_cast<volatile bmc::tI2cBusController*>(window)))
{
}

KavrelI2cBusController::~KavrelI2cBusController()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelI2cBusController");
}

bool KavrelI2cBusController::OnQueryChild(const KavrelObject& child)
{
    return dynamic_cast<const KavrelI2cBusDevice*>(&child) != nullptr;
}

} // namespace iapp
