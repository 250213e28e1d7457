#ifndef IAPP_BOARDS_PAX_MC_PLL_H
#define IAPP_BOARDS_PAX_MC_PLL_H

// The timing board's clock manager ("clk_mgr"): a 16-byte window with the MC clock prescaler and
// the lock flags of the MC and SC (10 MHz) clock paths.
//
//   0x0  32 bits  MC prescaler register: the prescaler minus one
//   0x8  32 bits  lock status: bit 0 the SC lock (GetMcLock answers it too), bit 1 the MC lock
//
// Nodes under its node:
//   mc/locked      bool, bit 1 of the lock status (flags 2)
//   mc/source      iboard::PaxBoard::mc_srcEnum, read through the board's GetMCSrc (flags 2)
//   mc/prescaler   uint32, the prescaler register itself: the prescaler minus one (0x4A)
//   mc/oscillator  iboard::PaxBoard::mc_oscEnum, read through the board's GetMCCfg (0x42)
//   sc/locked      bool, bit 0 of the lock status (flags 2)
//   sc/source      iboard::PaxBoard::sc_srcEnum, read through the board's GetSCSrc (flags 2)
// The three enumeration nodes have no setter and cache nothing: each read asks the board, which
// reads its management SPI registers; a configuration the board cannot decode fails the read.
//
// Only a timing board may be its parent (std::bad_cast otherwise); the constructor sets the
// prescaler to 1000000.

#include <cstdint>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_fpga_object.h"
#include "mci/types.h"

namespace iboard {
class PaxBoard;
}

class IAPP_API McPll : public iapp::KavrelFpgaObject {
public:
    static constexpr uint32_t c_defaultPrescaler = 1000000;

    static uint32_t Size() { return 16; }

    McPll(iapp::KavrelObject& parent, volatile iapp::FPGAMem_t* window, const std::string& name);
    ~McPll() override;

    // Bit 0 of the lock status.
    bool GetMcLock() const;
    // Writes prescaler - 1; a prescaler of 0 is raised to the minimum, 1, with a level-1 trace.
    void SetMcPrescaler(uint32_t prescaler);

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    volatile uint32_t* _Word(size_t offset) const;

    volatile iapp::FPGAMem_t* const m_window;
    iboard::PaxBoard* const m_board;
};

#endif
