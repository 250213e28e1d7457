#ifndef IAPP_KAVREL_SPI_BUS_CONTROLLER_H
#define IAPP_KAVREL_SPI_BUS_CONTROLLER_H

// The FPGA SPI master core of a board as a bus-controller component: a
// bmc::SpiBusControllerFpgaAmba over the core's 40-byte window. It takes SPI chip wrappers
// (KavrelSpiBusDevice) as children and nothing else.
//
//     auto* spi = board.RegisterObject<iapp::KavrelSpiBusController>(0xE00080, "pll_spi", 2u, false);
//
// maxDevices bounds both the number of drivers and the device ids the core can select (an id
// must be below it). csPolarity true drives the selected chip's line high (1 << id written to
// the chip-select register), false low (the complement of that word).

#include <cstddef>
#include <cstdint>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_bus_controller.h"

namespace iapp {

class IAPP_API KavrelSpiBusController : public KavrelBusController {
public:
    static size_t Size() { return 40; }

    KavrelSpiBusController(KavrelBoard& board, volatile FPGAMem_t* window, const std::string& name,
                           uint32_t maxDevices, bool csPolarity);
    ~KavrelSpiBusController() override;

    // True exactly for an SPI chip wrapper.
    bool OnQueryChild(const KavrelObject& child) override;
};

} // namespace iapp

#endif
