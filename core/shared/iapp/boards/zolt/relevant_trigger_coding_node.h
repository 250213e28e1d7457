#ifndef IAPP_BOARDS_ZOLT_RELEVANT_TRIGGER_CODING_NODE_H
#define IAPP_BOARDS_ZOLT_RELEVANT_TRIGGER_CODING_NODE_H

// The registry node "rtc" of the event-receiver board: the FPGA block that decodes incoming
// trigger codes, laid out as nodes over its window (byte offsets; 64-bit registers):
//
//   0x040  switches           "decoder_switch" (bits 0-3: off, on, debug) and "mgt_out" (bits
//                             4-7: off, sfp_in, debug), flags 6 each
//   0x200  decoder "t0"       } each a decoder block (RtcDecoder) with "in_mask", "in_function"
//   0x400  decoder "t1"       } (16 words, bits 0-15) and "code" (16 words, bits 0-3), uint32
//   0x600  decoder "t2"       } arrays of flags 0x0E (readable, writable, persistent)
//   0x800  decoder "mc"       }
//   0xA00  "stream_filter"    "in_function" (16 words) and, at 0xA80, "in_mask" (16 words),
//                             bits 0-15: which decoded codes reach the trigger-code stream
//   0xC00  generator          start (0xC00), code (0xC08), delay (0xC10), enable (0xC18, bit 0)
//
// "generator" (flags 0x40) holds "enabled" (the enable bit, written at once), "code" and
// "delay" (uint32 arrays of 32, kept by the node; writing them reaches the FPGA only with the
// next "apply") and the command "apply", which loads the table: 1 to the start register, then
// the entries in order, each code and delay written as two 32-bit halves, low half first, up to
// and including the first entry whose delay is 0 or 0xFFFF, and 32 entries at most. Loads of two
// threads never interleave, and an entry written meanwhile is taken whole, before or after.
//
//     auto node = mci::factory::Create<iboard::RelevantTriggerCodingNode>("rtc", window);

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "ireg/reg_node.h"
#include "istd/enum_map.h"

namespace iboard {

enum RtcDecodeSwitch_e {
    eRtcDecodeOff = 0,
    eRtcDecodeOn = 1,
    eRtcDecodeDebug = 2,
};

enum MgtOutputSwitch_e {
    eMgtOutputOff = 0,
    eMgtOutputSfpIn = 1,
    eMgtOutputDebug = 2,
};

// One decoder block of the trigger-coding window.
struct RtcDecoder {
    uint64_t in_function[16];
    uint64_t in_mask[16];
    uint64_t code[16];
};
static_assert(sizeof(RtcDecoder) == 0x180, "a decoder block is 48 words");

class IAPP_API RelevantTriggerCodingNode : public ireg::RegNode {
public:
    static constexpr uint32_t c_genLen = 32;

    static constexpr size_t c_switches = 0x040;
    static constexpr size_t c_decoders = 0x200; // decoder i at c_decoders * (i + 1)
    static constexpr size_t c_filterFunction = 0xA00;
    static constexpr size_t c_filterMask = 0xA80;
    static constexpr size_t c_genStart = 0xC00;
    static constexpr size_t c_genCode = 0xC08;
    static constexpr size_t c_genDelay = 0xC10;
    static constexpr size_t c_genEnable = 0xC18;
    // Delays that end the generator table (the entry that carries one is written).
    static constexpr uint32_t c_lastDelay = 0;
    static constexpr uint32_t c_lastDelayMarker = 0xFFFF;

    // The block's bytes; the board maps four times as many.
    static size_t Size() { return 3104; }

    // Flags 0; the window must hold Size() bytes and outlive the node.
    RelevantTriggerCodingNode(const std::string& name, volatile iapp::FPGAMem_t* base);
    ~RelevantTriggerCodingNode() override;

    // The subtree of the header note; false when the base node's Init fails.
    bool Init() override;
    // The decoder's node `name` (flags as given) with "in_mask", "in_function" and "code".
    void AddDecoder(const std::string& name, volatile RtcDecoder& decoder, uint64_t flags);
    // Loads the generator table into the FPGA (see the header note); true.
    bool ApplyGenerator();

private:
    bool _SetEntries(uint32_t* field, const uint32_t* values, size_t pos, size_t count);
    size_t _GetEntries(const uint32_t* field, uint32_t* values, size_t pos, size_t count) const;
    // The 64-bit generator register at offset, as two 32-bit halves, low half first.
    void _WriteGenerator(size_t offset, uint32_t value);

    volatile iapp::FPGAMem_t* const m_base;
    mutable std::mutex m_lock; // the generator table, and its load into the FPGA
    uint32_t m_codes[c_genLen] = {};
    uint32_t m_delays[c_genLen] = {};
};

} // namespace iboard

ISTD_ENUM_TABLE_DECL(iboard::RtcDecodeSwitch_e)
ISTD_ENUM_TABLE_DECL(iboard::MgtOutputSwitch_e)

#endif
