#include "iapp/kavrel_board.h"

#include <atomic>
#include <sstream>

#include "bmc/board_pool.h"
#include "devio/reg_access.h"
#include "iapp/identification_block.h"
#include "iapp/kavrel_application.h"
#include "iapp/kavrel_feature.h"
#include "istd/log.h"

namespace iapp {

namespace {

// Where FlushRegisters puts what it reads, so that the reads are made; atomic, because boards
// flush from several threads.
std::atomic<uint64_t> g_flushSink{0};

// A window argument in the refusal's hexadecimal, with a sign when it is negative.
std::string _Hex(int64_t value)
{
    std::ostringstream os;
    if (value < 0) {
        os << '-' << std::hex << (0 - static_cast<uint64_t>(value));
    } else {
        os << std::hex << value;
    }
    return os.str();
}

} // namespace

std::string KavrelBoard::_NameOf(const bmc::Board* board)
{
    return board != nullptr ? board->GetShortName() : std::string();
}

KavrelBoard::KavrelBoard(KavrelApplication& application, const bmc::Board* board)
    : KavrelObject(application, _NameOf(board)), m_application(application), m_board(board)
{
    ISTD_TRACE_FNC("iapp::KavrelBoard::KavrelBoard(iapp::KavrelApplication&, const bmc::Board*)");
    if (board == nullptr || bmc::BoardPool::Instance().GetBoard(board->GetUri()) == nullptr) {
        throw istd::Exception("Problem accessing board: ", true);
    }
    try {
        m_identificationBlock = RegisterObject<IdentificationBlock>(0, "info");
    } catch (const istd::Exception& e) {
        // Named: the device file's name, which the reason gives, may be empty.
        istd::LogWarning("Board " + GetName() + " (" + board->GetUri().ToString() +
                         "): Can't instatiate ID block: " + e.what() + ". Ignoring.");
    }
}

KavrelBoard::~KavrelBoard()
{
    ISTD_TRACE_FNC("iapp::KavrelBoard::~KavrelBoard()");
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelBoard");
    UnmapDevice();
}

bmc::BoardType_e KavrelBoard::GetType() const
{
    return m_board->GetType();
}

const bmc::Uri& KavrelBoard::Uri() const
{
    return m_board->GetUri();
}

volatile FPGAMem_t* KavrelBoard::MapRegisters(ssize_t offset, ssize_t size)
{
    ISTD_TRACE_FNC("volatile FPGAMem_t* iapp::KavrelBoard::MapRegisters(ssize_t, ssize_t)");
    ISTD_TRACE(2, "Map registers: " << m_mapping.fd << " " << GetName() << " " << offset << " " << size);
    if (m_mapping.fd == -1) {
        MapDevice(m_mapping);
        if (m_mapping.fd == -1) {
            ISTD_TRACE(1, "Device is not opened.");
            return nullptr;
        }
    }
    if (m_mapping.address == nullptr) {
        ISTD_TRACE(1, "Startup address is not defined.");
        return nullptr;
    }
    if (m_mapping.address == bmc::c_MapFailed) {
        ISTD_TRACE(1, "Mapping to appropriate device failed during initialization.");
        return nullptr;
    }
    // In 64 bits and with the size unsigned: no sum of two ssize_t arguments reaches 2^64, and an
    // unmapped size (all ones) is never mistaken for a small negative one.
    if (offset >= 0 && size >= 0 &&
        static_cast<uint64_t>(offset) + static_cast<uint64_t>(size) <= static_cast<uint64_t>(m_mapping.size)) {
        return reinterpret_cast<volatile FPGAMem_t*>(m_mapping.address) + offset;
    }
    ISTD_TRACE(1, "The specified memory offset address " << _Hex(offset) << " exceeds the maximum size "
                                                         << _Hex(m_mapping.size) << ".");
    return nullptr;
}

void KavrelBoard::FlushRegisters(void volatile* addr)
{
    if (addr == nullptr) {
        return;
    }
    auto* words = static_cast<volatile uint32_t*>(addr);
    const uint64_t upper = devio::Read32(words + 1);
    const uint64_t lower = devio::Read32(words);
    g_flushSink.store(upper << 32 | lower, std::memory_order_relaxed);
}

void KavrelBoard::UnmapDevice()
{
    ISTD_TRACE_FNC("void iapp::KavrelBoard::UnmapDevice()");
    // Nothing held, nothing to release: the borrowed board is not asked (the pool may have
    // re-enumerated and deleted it since).
    if (m_mapping.fd == -1 && m_mapping.address == nullptr) {
        return;
    }
    m_board->UnmapDevice(m_mapping);
}

bool KavrelBoard::OnQueryChild(const KavrelObject& child)
{
    return dynamic_cast<const KavrelFeature*>(&child) != nullptr || KavrelObject::OnQueryChild(child);
}

void KavrelBoard::OnAnnounceSync() {}

void KavrelBoard::OnAdjustedTimestamp(int64_t, uint64_t) {}

void KavrelBoard::MapDevice(bmc::DeviceMapping_t& mapping) const
{
    ISTD_TRACE_FNC("void iapp::KavrelBoard::MapDevice(bmc::DeviceMapping_t&) const");
    m_board->MapDevice(mapping);
}

void KavrelBoard::UnmapDevice(bmc::DeviceMapping_t& mapping) const
{
    ISTD_TRACE_FNC("void iapp::KavrelBoard::UnmapDevice(bmc::DeviceMapping_t&) const");
    m_board->UnmapDevice(mapping);
}

} // namespace iapp
