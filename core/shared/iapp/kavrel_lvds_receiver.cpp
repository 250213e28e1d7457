#include "iapp/kavrel_lvds_receiver.h"

#include <array>

#include "devio/reg_access.h"
#include "istd/trace.h"

namespace iapp {

namespace {

constexpr size_t c_portStride = 32;
constexpr size_t c_control = 0x00;
constexpr size_t c_delay = 0x08;
constexpr size_t c_word1 = 0x10;
constexpr size_t c_word2 = 0x18;
constexpr size_t c_enable = 0x4000;

constexpr uint32_t c_startBit = 1u << 0;
constexpr uint32_t c_skipScanBit = 1u << 8;
constexpr uint32_t c_errorBit = 1u << 31;

constexpr uint32_t c_commandMask = 0x7;
constexpr uint32_t c_resetTap = 4;
constexpr uint32_t c_tapUp = 3;
constexpr uint32_t c_tapDown = 2;
constexpr uint32_t c_tapMask = 0x3F;
constexpr unsigned c_bitslipShift = 3;

constexpr unsigned c_taps = 64;
constexpr unsigned c_lastTap = c_taps - 1;
constexpr unsigned c_lanes = 9;
constexpr unsigned c_dwellReads = 200;
constexpr unsigned c_settleReads = 10;

constexpr uint32_t c_laneMask = (1u << c_lanes) - 1;

enum TapState_e { eGood = 0, eBad = 2 };

} // namespace

KavrelLvdsReceiver::KavrelLvdsReceiver(KavrelBoard& board, volatile FPGAMem_t* window, std::string name)
    : KavrelFpgaObject(board, name), m_window(window),
      m_enable(reinterpret_cast<volatile uint64_t*>(window + c_enable)), m_retryLimit(1000)
{
    ISTD_TRACE_FNC("iapp::KavrelLvdsReceiver::KavrelLvdsReceiver(iapp::KavrelBoard&, volatile FPGAMem_t*, "
                   "std::string)");
}

KavrelLvdsReceiver::~KavrelLvdsReceiver()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelLvdsReceiver");
}

int KavrelLvdsReceiver::SlotToRxPort(size_t slot)
{
    return slot >= 3 && slot <= 6 ? static_cast<int>(slot - 3) : -1;
}

volatile uint32_t* KavrelLvdsReceiver::_Half(int port, size_t offset) const
{
    return reinterpret_cast<volatile uint32_t*>(m_window + c_portStride * static_cast<size_t>(port) + offset);
}

uint64_t KavrelLvdsReceiver::_ReadWord(int port, size_t offset) const
{
    return devio::Read64(reinterpret_cast<volatile uint64_t*>(_Half(port, offset)));
}

void KavrelLvdsReceiver::_WriteDelay(int port, uint32_t mask, uint32_t bits)
{
    volatile uint32_t* delay = _Half(port, c_delay);
    devio::Write32(delay, (devio::Read32(delay) & ~mask) | bits);
}

bool KavrelLvdsReceiver::_SetEnable(size_t slot, bool on)
{
    const int port = SlotToRxPort(slot);
    if (port < 0) {
        return false;
    }
    const uint64_t bit = uint64_t{1} << port;
    const uint64_t word = devio::Read64(m_enable);
    devio::Write64(m_enable, on ? word | bit : word & ~bit);
    return true;
}

bool KavrelLvdsReceiver::Enable(size_t slot)
{
    ISTD_TRACE_FNC("bool iapp::KavrelLvdsReceiver::Enable(size_t)");
    return _SetEnable(slot, true);
}

bool KavrelLvdsReceiver::Disable(size_t slot)
{
    ISTD_TRACE_FNC("bool iapp::KavrelLvdsReceiver::Disable(size_t)");
    return _SetEnable(slot, false);
}

bool KavrelLvdsReceiver::GetWindow(size_t slot)
{
    ISTD_TRACE_FNC("bool iapp::KavrelLvdsReceiver::GetWindow(size_t)");
    const int port = SlotToRxPort(slot);
    if (port < 0) {
        ISTD_TRACE(1, "ERROR LvdsReceiver SlotToRxPort failed!");
        return false;
    }
    volatile uint32_t* control = _Half(port, c_control);
    volatile uint32_t* delay = _Half(port, c_delay);
    if (devio::Read32(control) & c_skipScanBit) {
        return true;
    }

    _WriteDelay(port, c_commandMask, c_resetTap);
    devio::Write32(control, devio::Read32(control) & ~c_startBit);

    std::array<TapState_e, c_taps> state{};
    for (unsigned tap = 0; tap < c_taps; ++tap) {
        const uint32_t current = devio::Read32(delay) & c_tapMask;
        if (current != tap) {
            ISTD_TRACE(1, "ERROR: Delay ( slot = " << port << " ) does not match loop increment: " << current
                                                   << " != " << tap);
        }
        // The first read lets the status settle; the dwell reads decide.
        devio::Read32(control);
        bool error = false;
        for (unsigned i = 0; i < c_dwellReads; ++i) {
            error |= (devio::Read32(control) & c_errorBit) != 0;
        }
        state[tap] = error ? eBad : eGood;
        if (istd::TraceFile::IsActive(4)) {
            const uint32_t status = devio::Read32(control) >> 31;
            const uint64_t word1 = _ReadWord(port, c_word1);
            const uint64_t word2 = _ReadWord(port, c_word2);
            ISTD_TRACE(4, "LVDS Train status: Slot: " << port << " Delay: " << tap << " Status: " << status
                                                      << " Word1: " << std::hex << word1 << " Word2: " << word2);
        }
        if (tap != c_lastTap) {
            _WriteDelay(port, c_commandMask, c_tapUp);
        }
    }

    // Classify by the transitions between neighbouring taps; tap 1, not tap 0, stands for the
    // low end.
    const TapState_e first = state[1];
    const TapState_e last = state[c_lastTap];
    int type = -1;
    unsigned position = 0;
    unsigned firstTransition = 0;
    for (unsigned i = 1; i < c_taps && type < 0; ++i) {
        if (state[i] == state[i - 1]) {
            continue;
        }
        if (first == eBad && last == eGood) {
            type = 1;
            position = c_lastTap;
        } else if (first == eGood && last == eBad) {
            type = 2;
            position = 0;
        } else if (firstTransition == 0) {
            firstTransition = i;
        } else if (first == eBad && last == eBad) {
            type = 4;
            position = (firstTransition + i - 1) / 2;
        } else {
            type = 3;
            position = firstTransition < 20 ? c_lastTap : 0;
        }
    }
    if (type < 0) {
        if (firstTransition == 0 && state[32] == eGood) {
            type = 5;
            position = 32;
        } else {
            ISTD_TRACE(1, "ERROR: LVDS window type was not determined: "
                              << "windowType == " << 0);
            type = 0;
            position = 0;
        }
    }
    ISTD_TRACE(4, "LVDS window type: " << type << ". LVDS delay position: " << position);

    for (unsigned tap = c_lastTap; tap > position; --tap) {
        const uint32_t current = devio::Read32(delay) & c_tapMask;
        if (current != tap) {
            ISTD_TRACE(1, "ERROR: Delay does not match loop decrement: " << current << " != " << tap);
        }
        _WriteDelay(port, c_commandMask, c_tapDown);
    }
    return true;
}

bool KavrelLvdsReceiver::SetBitslip(size_t slot, uint64_t pattern)
{
    ISTD_TRACE_FNC("bool iapp::KavrelLvdsReceiver::SetBitslip(size_t, uint64_t)");
    const int port = SlotToRxPort(slot);
    if (port < 0) {
        ISTD_TRACE(1, "ERROR LvdsReceiver SlotToRxPort failed!");
        return false;
    }
    volatile uint32_t* control = _Half(port, c_control);
    devio::Write32(control, devio::Read32(control) | c_startBit);
    const uint64_t expected = pattern & 0xF;
    for (uint32_t tries = 0;; ++tries) {
        for (unsigned i = 0; i < c_settleReads; ++i) {
            devio::Read32(control);
        }
        if (devio::Read32(control) & c_errorBit) {
            ISTD_TRACE(1, "LvdsReceiver::SetBitslip(): training failed during bitslip.");
            return false;
        }
        const uint64_t word1 = _ReadWord(port, c_word1);
        uint32_t mask = 0;
        for (unsigned lane = 0; lane < c_lanes; ++lane) {
            if ((word1 >> (4 * lane) & 0xF) != expected) {
                mask |= 1u << lane;
            }
        }
        ISTD_TRACE(4, "LvdsReceiver::SetBitslip(): new mask: " << std::hex << mask);
        // Tested before the mask: the word measured after the last request is not taken.
        if (tries == m_retryLimit) {
            ISTD_TRACE(1, "LvdsReceiver::SetBitslip(): training failed during retries expired.");
            return false;
        }
        if (mask == 0) {
            return true;
        }
        _WriteDelay(port, c_laneMask << c_bitslipShift, mask << c_bitslipShift);
    }
}

bool KavrelLvdsReceiver::OnQueryChild(const KavrelObject&)
{
    return false;
}

} // namespace iapp
