#pragma once
// A register model of the FPGA's LVDS receiver block: four ports, each the receiving end of the
// link from the board in chassis slot 3 + port, and the enable word. Attach it over the block's
// window of a simulated board (sim::MonitorDevice::AttachModel, or sim::boards::Board::Attach),
// c_windowSize bytes.
//
// Register map (byte offsets from the window's start; port p at 32 * p):
//   +0x00  control and status   bits kept as written, but bit 31 (error), which reads set while
//                               the port's current delay tap is bad or an error is forced;
//                               bit 8 (skip the delay scan) is the test's to set (SetControl)
//   +0x08  delay and bitslip    read: bits 0-5 the current delay tap; the other bits read 0.
//                               write: bits 0-2 a delay command (4 tap 0, 3 one tap up, 2 one
//                               tap down; the tap stays inside 0..63, other codes do nothing),
//                               bits 3-11 one bitslip request per lane (lane k at bit 3 + k)
//   +0x10  Word1                the word received: lane k (0..8) in bits 4k..4k+3
//   +0x18  Word2                a second word, as set with SetWord2
//   0x4000 enable               64 bits as written; bit p enables port p
// Every other offset reads 0 and ignores writes. 64-bit accesses are two 32-bit ones, lower
// half first. A write acts on every field it carries: a read-modify-write that keeps the tap
// bits read back therefore also carries them as a command or a request, as on the hardware.
//
// Link model. The transmitter sends a 36-bit word (SetTransmitted, or a source function that
// reads it from somewhere else, SetSource); lane k carries its nibble k. What the port receives
// on a lane is that nibble turned left by the lane's offset (0..3 bit positions); a bitslip
// request of the lane turns it one position further, so a lane with offset o is aligned after
// (4 - o) mod 4 requests. Taps are good or bad by a 64-entry table (all good by default).
//
// Calls may come from any thread; the model serialises them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "devio/reg_access.h"

namespace sim::fpga {

class LvdsReceiverModel : public devio::RegisterModel {
public:
    static constexpr size_t c_ports = 4;
    static constexpr size_t c_lanes = 9;
    static constexpr size_t c_taps = 64;
    static constexpr size_t c_portStride = 32;
    static constexpr size_t c_controlOffset = 0x00;
    static constexpr size_t c_delayOffset = 0x08;
    static constexpr size_t c_word1Offset = 0x10;
    static constexpr size_t c_word2Offset = 0x18;
    static constexpr size_t c_enableOffset = 0x4000;
    static constexpr size_t c_windowSize = c_enableOffset + 8;
    static constexpr uint32_t c_errorBit = 1u << 31;
    static constexpr uint32_t c_skipScanBit = 1u << 8;
    static constexpr uint64_t c_defaultWord = 0x888888888ULL;

    using Taps = std::array<bool, c_taps>;           // true: good
    using LaneOffsets = std::array<unsigned, c_lanes>; // 0..3, taken modulo 4

    LvdsReceiverModel();

    // Set-up of a port (0..3; a larger port throws std::out_of_range).
    void SetTaps(size_t port, const Taps& good);
    // Taps from first to last (inclusive) good, all others bad.
    void SetGoodTaps(size_t port, size_t first, size_t last);
    void SetLaneOffsets(size_t port, const LaneOffsets& offsets);
    void SetTransmitted(size_t port, uint64_t word);
    // The word the port's transmitter sends, asked at every read of Word1; an empty function
    // goes back to the word of SetTransmitted. It runs under the model's lock: it must not
    // access this model.
    void SetSource(size_t port, std::function<uint64_t()> source);
    void SetWord2(size_t port, uint64_t word);
    // The stored bits of the control word (bit 31 is always computed).
    void SetControl(size_t port, uint32_t bits);
    void ForceError(size_t port, bool on);
    void SetTap(size_t port, unsigned tap);

    // State of a port.
    unsigned GetTap(size_t port) const;
    LaneOffsets GetLaneOffsets(size_t port) const;
    uint32_t GetControl(size_t port) const; // as a read would give it
    uint64_t GetReceived(size_t port) const; // Word1 now
    uint64_t GetEnable() const;

    uint32_t OnRead32(size_t offset) override;
    void OnWrite32(size_t offset, uint32_t value) override;

private:
    struct Port {
        Taps taps;
        LaneOffsets offsets{};
        uint64_t transmitted = c_defaultWord;
        std::function<uint64_t()> source;
        uint64_t word2 = 0;
        uint32_t control = 0;
        bool forcedError = false;
        unsigned tap = 0;
    };

    Port& _Port(size_t port);
    const Port& _Port(size_t port) const;
    uint32_t _Control(const Port& port) const;
    uint64_t _Received(const Port& port) const;

    mutable std::mutex m_mutex;
    std::array<Port, c_ports> m_ports;
    uint64_t m_enable = 0;
};

} // namespace sim::fpga
