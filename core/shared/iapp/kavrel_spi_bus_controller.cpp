#include "iapp/kavrel_spi_bus_controller.h"

#include "bmc/spi_bus_controller_fpga_amba.h"
#include "iapp/kavrel_spi_bus_device.h"
#include "istd/trace.h"

namespace iapp {

KavrelSpiBusController::KavrelSpiBusController(KavrelBoard& board, volatile FPGAMem_t* window,
                                               const std::string& name, uint32_t maxDevices, bool csPolarity)
    : KavrelBusController(board, name,
                          bmc::Create<bmc::SpiBusControllerFpgaAmba>(
                              name, maxDevices, csPolarity, reinterpret_cast<volatile bmc::tSpiBusController*>(window)))
{
}

KavrelSpiBusController::~KavrelSpiBusController()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelSpiBusController");
}

bool KavrelSpiBusController::OnQueryChild(const KavrelObject& child)
{
    return dynamic_cast<const KavrelSpiBusDevice*>(&child) != nullptr;
}

} // namespace iapp
