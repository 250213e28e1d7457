#ifndef BMC_SPI_BUS_CONTROLLER_FPGA_AMBA_H
#define BMC_SPI_BUS_CONTROLLER_FPGA_AMBA_H

// The FPGA SPI master core in the board's mapped FPGA memory: four 64-bit registers, each access
// one 64-bit devio access (a simulated core can claim the block).

#include <cstddef>
#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_bus_controller.h"

namespace bmc {

struct tSpiBusController {
    // write: prescale (bits 0-4), word length in bits (8-13), clock polarity (16), clock
    // transmit edge (17), clock sample edge (18), LSB first (19); read: busy (c_spiStatusBusy)
    uint64_t control;
    uint64_t chip_select; // one line per device id in the low 32 bits
    uint64_t data;        // write: the word to shift out, right-aligned (starts the shift);
                          // read: the word shifted in
    uint64_t output;      // general-purpose outputs, low 32 bits
};

static_assert(offsetof(tSpiBusController, control) == 0x00 && offsetof(tSpiBusController, chip_select) == 0x08 &&
                  offsetof(tSpiBusController, data) == 0x10 && offsetof(tSpiBusController, output) == 0x18 &&
                  sizeof(tSpiBusController) == 0x20,
              "the SPI core has four 64-bit registers");

constexpr uint64_t c_spiStatusBusy = uint64_t{1} << 21;
constexpr unsigned c_spiLengthShift = 8;
constexpr uint64_t c_spiClockPolarity = uint64_t{1} << 16;
constexpr uint64_t c_spiTransmitEdge = uint64_t{1} << 17;
constexpr uint64_t c_spiSampleEdge = uint64_t{1} << 18;
constexpr uint64_t c_spiLsbFirst = uint64_t{1} << 19;

class BMC_API SpiBusControllerFpgaAmba : public SpiBusController {
public:
    static constexpr uint32_t c_maxPrescale = 31;
    // What the 6-bit length field holds. The data register is written 32 bits wide, so the bits
    // of a longer word above bit 31 go out as zeros.
    static constexpr uint32_t c_maxTransferLen = 63;

    // The block must stay mapped while the controller lives; a null block is refused. Touches no
    // register.
    SpiBusControllerFpgaAmba(const std::string& name, uint32_t maxDevices, bool csPolarity,
                             volatile tSpiBusController* reg);
    ~SpiBusControllerFpgaAmba() override;

    using SpiBusController::Read;
    using SpiBusController::Write;

protected:
    // Checks prescale (at most 31; "<name>:clock prescale parameter (<p>), calculated from
    // frequency (<f>) is out of range (31).") and length (at most 63; "<name>: transfer len
    // parameter (<n>) is out of range (63).") before anything is written, then writes the
    // control word and keeps the chip-select toggle. Other parameter kinds: std::bad_cast.
    void SetBusParams(const BusParamsPtr& params) override;
    // Writes 1 << id (0 to release), inverted for active-low chip selects. Ids not below the
    // maximum: "<name>: Device ID is not supported", also on release.
    void SelectDevice(const BusDevice& device, tDevSelectMode_e mode) override;
    // The low 32 bits of the word (upper half 0); the register number is not used.
    void Write(uint8_t reg, uint64_t value) override;
    void Read(uint8_t reg, uint64_t& value) override;
    bool IsIdle() override;
    bool IsAcknowledged() override;   // true: SPI has no acknowledge
    bool ToggleChipSelect() override; // the toggle of the parameters applied last
    bool OnSetOutput(uint32_t value) override;
    bool OnGetOutput(uint32_t& value) override;

private:
    volatile tSpiBusController* const m_reg;
    bool m_toggle_cs = false;
};

} // namespace bmc

#endif
