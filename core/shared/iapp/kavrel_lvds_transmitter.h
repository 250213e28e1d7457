#ifndef IAPP_KAVREL_LVDS_TRANSMITTER_H
#define IAPP_KAVREL_LVDS_TRANSMITTER_H

// The FPGA's LVDS transmitter: the sending end of the link from a board in a chassis slot to the
// board with the LVDS receiver. The link training at start-up loads its training words and
// switches its mode; it has no registry nodes and takes no children.
//
// Register window (64-bit words; each written as two 32-bit halves, lower half first):
//   0x00  control          bit 0: 1 sends the training words, 0 normal operation
//   0x08  training word 1
//   0x10  training word 2
//
// The slot is the board URI's id: "0x" and hexadecimal digits, or decimal digits; any other id,
// and one above the int range, makes the constructor throw "Bad cast from <id> to int".

#include <cstddef>
#include <cstdint>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_fpga_object.h"

namespace iapp {

class IAPP_API KavrelLvdsTransmitter : public KavrelFpgaObject {
public:
    // Only bit 0 reaches the hardware.
    enum LvdsTxModeType : uint32_t { eNormal = 0, eTraining = 1 };

    // The block uses its first 24 bytes.
    static size_t Size() { return 24; }

    KavrelLvdsTransmitter(KavrelBoard& board, volatile FPGAMem_t* window, std::string name);
    ~KavrelLvdsTransmitter() override;

    // Writes word1 at 0x08 and word2 at 0x10; true.
    bool SetTrainWords(uint64_t word1, uint64_t word2);
    // Sets bit 0 of the control word to bit 0 of mode, the other bits kept; true.
    bool SetMode(LvdsTxModeType mode);
    int32_t GetSlot() const { return m_slot; }

    bool OnQueryChild(const KavrelObject& child) override;

private:
    volatile FPGAMem_t* const m_window;
    const int32_t m_slot;
};

} // namespace iapp

#endif
