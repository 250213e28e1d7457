#ifndef IAPP_BOARDS_ZOLT_MULTI_GIGABIT_TRANSCIEVER_NODE_H
#define IAPP_BOARDS_ZOLT_MULTI_GIGABIT_TRANSCIEVER_NODE_H

// The registry node "mgt" of the event-receiver board: the multi-gigabit transceiver that
// receives the timing link through the SFP module. Its 16-byte window (byte offsets):
//
//   0x0  control (32 bits)   bit 0 reset; bit 4 receiver power-down; bit 5 transmitter
//                            power-down; bits 8-10 loopback
//   0x4  status (32 bits)    bit 0 PLL lock; bits 4-6 receive buffer; bits 8-9 receiver loss
//                            of sync; bits 12-13 transmit buffer
//   0x8  errors (64 bits)    bits 0-15 soft, 16-31 hard, 32-47 frame errors
//
// Nodes: "ctrl" with "reset" (command), "rx_power_down", "tx_power_down" (read only) and "loop"
// (loopback by name); "status" with "pll_lock", "rx_buf", "rx_loss_of_sync", "tx_buf"; "err"
// with "soft", "hard", "frame" (all read only). Codes without a name (receive buffer 3, 4, 7;
// loopback 3, 6, 7) read as "invalid value"; "loop" takes only the named ones.
//
// Reset pulses the reset bit: set, 2 ms, cleared, with the other control bits kept. Two resets
// never overlap, and each read-modify-write of the control word is ordered with the bit nodes'
// writes of it, so a loopback written during a reset is kept.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "ireg/reg_node.h"
#include "istd/enum_map.h"

namespace iboard {

enum MgtRxBufStatus_e {
    eMgtRxBufNominal = 0,
    eMgtRxBufBelowMinLatency = 1,
    eMgtRxBufAboveMaxLatency = 2,
    eMgtRxBufUnderflow = 5,
    eMgtRxBufOverflow = 6,
};

enum MgtTxBufStatus_e {
    eMgtTxBufLow = 0,
    eMgtTxBufHigh = 1,
    eMgtTxBufUnderflow = 2,
    eMgtTxBufOverflow = 3,
};

enum MgtLoopback_e {
    eMgtNoLoopback = 0,
    eMgtPcsNearEnd = 1,
    eMgtPmaNearEnd = 2,
    eMgtPmaFarEnd = 4,
    eMgtPcsFarEnd = 5,
};

class IAPP_API MultiGigabitTranscieverNode : public ireg::RegNode {
public:
    static constexpr size_t c_control = 0x0;
    static constexpr size_t c_status = 0x4;
    static constexpr size_t c_errors = 0x8;
    static constexpr uint32_t c_resetBit = 1u << 0;
    // How long the reset bit stays set.
    static constexpr unsigned c_resetPulseNs = 2000000;

    static size_t Size() { return 16; }

    // Flags 0; the window must hold Size() bytes and outlive the node.
    MultiGigabitTranscieverNode(const std::string& name, volatile iapp::FPGAMem_t* base);
    ~MultiGigabitTranscieverNode() override;

    bool Init() override;
    // Pulses the reset bit (see the header note); true.
    bool Reset();

private:
    volatile iapp::FPGAMem_t* const m_base;
    std::mutex m_mutex; // one reset at a time
};

} // namespace iboard

ISTD_ENUM_TABLE_DECL(iboard::MgtRxBufStatus_e)
ISTD_ENUM_TABLE_DECL(iboard::MgtTxBufStatus_e)
ISTD_ENUM_TABLE_DECL(iboard::MgtLoopback_e)

#endif
