#ifndef BMC_I2C_BUS_CONTROLLER_FPGA_SPIAMBA_H
#define BMC_I2C_BUS_CONTROLLER_FPGA_SPIAMBA_H

// The FPGA I2C master core reached through the board's own register commands
// (bmc::Board::FpgaAmbaWrite and FpgaAmbaRead, one board command per register access) at an AMBA
// base address; the register offsets are those of bmc::tI2cBusController.
//
// A register read whose answer reports failure makes the core look busy or unacknowledged, so a
// board that cannot be reached fails the protocol's waits (the wait for an idle core before a
// transfer has no limit unless one is set). A failed read of a received byte throws. What the
// board's write command raises passes through.

#include <cstddef>
#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/i2c_bus_controller.h"

namespace bmc {

class Board;

class BMC_API I2cBusControllerFpgaSPIAmba : public I2cBusController {
public:
    // The board must outlive the controller. A null board, or a block that does not lie wholly
    // below 2^32 (the board's commands take 32-bit addresses), is refused. Touches no register.
    I2cBusControllerFpgaSPIAmba(const std::string& name, uint32_t maxDevices, const Board* board, size_t base);
    ~I2cBusControllerFpgaSPIAmba() override;

protected:
    bool OnSetOutput(uint32_t value) override;
    bool OnGetOutput(uint32_t& value) override; // false when the read fails, the value untouched
    bool IsIdle() override;                     // false when the read fails
    bool IsAcknowledged() override;             // false when the read fails
    void OnSetSpeed(uint32_t freq_khz) override;
    void OnSelectBus(uint8_t bus) override; // written every time
    void OnWriteCtrl(uint32_t command) override;
    void OnWriteData(uint8_t byte) override;
    void OnReadData(uint8_t& byte) override; // throws when the read fails

private:
    // The register's AMBA address; the constructor checked that it fits.
    unsigned _Address(size_t offset) const { return static_cast<unsigned>(m_base + offset); }
    // The value read at the offset; false when the board reports failure.
    bool _Read(size_t offset, uint32_t& value) const;

    const Board* const m_board;
    const size_t m_base;
};

} // namespace bmc

#endif
