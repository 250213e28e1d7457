#ifndef IAPP_KAVREL_LVDS_RECEIVER_H
#define IAPP_KAVREL_LVDS_RECEIVER_H

// The FPGA block that receives the LVDS links of the boards in chassis slots 3 to 6, one port
// per slot (slot s: port s - 3). The link training at start-up drives it: GetWindow scans the
// port's input delay over 64 taps and sets it inside the error-free window, SetBitslip aligns the
// nine lanes to the training pattern, Enable lets the port carry data. It has no registry nodes
// and takes no children.
//
// Register window (64-bit words; control words through their lower half alone; Word1, Word2 and
// the enable word read or written whole, lower half first). Port p at 32 * p:
//   +0x00  control and status  bit 0: cleared for the scan, set for the alignment; bit 8: skip
//                              the scan; bit 31: error
//   +0x08  delay and bitslip   write: bits 0-2 delay command (4 tap 0, 3 up, 2 down), bits 3-11
//                              bitslip request per lane; read: bits 0-5 the tap. Every write is a
//                              read-modify-write of the lower half
//   +0x10  Word1               lane k (0..8) in bits 4k..4k+3
//   +0x18  Word2
//   0x4000 enable              bit p enables port p
//
// Window types of the scan: 1 bad at tap 1 and good at tap 63 (delay 63); 2 good at tap 1 and bad
// at tap 63 (delay 0); 3 good at both ends with one bad stretch from tap P (63 when P < 20, else
// 0); 4 bad at both ends with one good stretch (its middle); 5 all 64 taps alike and tap 32 good
// (32); 0 anything else (0, traced as an error; the alignment then decides).

#include <cstddef>
#include <cstdint>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_fpga_object.h"

namespace iapp {

class IAPP_API KavrelLvdsReceiver : public KavrelFpgaObject {
public:
    // The four port blocks and the enable word at 0x4000.
    static size_t Size() { return 0x4008; }

    KavrelLvdsReceiver(KavrelBoard& board, volatile FPGAMem_t* window, std::string name);
    ~KavrelLvdsReceiver() override;

    // The port of a slot (3..6 give 0..3); -1 for every other slot.
    static int SlotToRxPort(size_t slot);

    // Set or clear the port's enable bit (a 64-bit read, then a 64-bit write); false, touching
    // nothing, for a slot without a port.
    bool Enable(size_t slot);
    bool Disable(size_t slot);
    // The delay scan and positioning; false only for a slot without a port. A port whose control
    // word has bit 8 set is left untouched.
    bool GetWindow(size_t slot);
    // Aligns the nine lanes to the low 4 bits of pattern; false on the error bit or after 1000
    // bitslip requests.
    bool SetBitslip(size_t slot, uint64_t pattern);

    bool OnQueryChild(const KavrelObject& child) override;

private:
    volatile uint32_t* _Half(int port, size_t offset) const;
    uint64_t _ReadWord(int port, size_t offset) const;
    // Read-modify-write of the delay word's lower half: the bits of mask become bits.
    void _WriteDelay(int port, uint32_t mask, uint32_t bits);
    bool _SetEnable(size_t slot, bool on);

    volatile FPGAMem_t* const m_window;
    volatile uint64_t* const m_enable;
    const uint32_t m_retryLimit;
};

} // namespace iapp

#endif
