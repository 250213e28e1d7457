#include "iapp/kavrel_lvds_transmitter.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "devio/reg_access.h"
#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace iapp {

namespace {

constexpr size_t c_control = 0x00;
constexpr size_t c_word1 = 0x08;
constexpr size_t c_word2 = 0x10;

// True when every character from from on is a digit of the base.
bool _AllDigits(const std::string& text, size_t from, bool hex)
{
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), [&](char c) {
        const int u = static_cast<unsigned char>(c);
        return (hex ? std::isxdigit(u) : std::isdigit(u)) != 0;
    });
}

// The chassis slot of a board URI id. Only whole numbers of the slot's range are taken: a sign,
// a blank, trailing characters or a value above the int range would otherwise become a wrong or
// wrapped slot, and so feed another board's receiver port.
int32_t _SlotOf(const std::string& id)
{
    try {
        if (id.size() > 2 && id[0] == '0' && id[1] == 'x') {
            if (_AllDigits(id, 2, true)) {
                const unsigned int value = istd::HexTo<unsigned int>(id);
                if (value <= static_cast<unsigned int>(std::numeric_limits<int32_t>::max())) {
                    return static_cast<int32_t>(value);
                }
            }
        } else if (!id.empty() && _AllDigits(id, 0, false)) {
            return istd::FromString<int>(id);
        }
    } catch (const istd::Exception&) {
        // Refused below with the one text.
    }
    throw istd::Exception("Bad cast from " + id + " to " + istd::CppName<int>(), true);
}

volatile uint32_t* _Half(volatile FPGAMem_t* window, size_t offset)
{
    return reinterpret_cast<volatile uint32_t*>(window + offset);
}

void _WriteWord(volatile FPGAMem_t* window, size_t offset, uint64_t word)
{
    devio::Write32(_Half(window, offset), static_cast<uint32_t>(word));
    devio::Write32(_Half(window, offset + 4), static_cast<uint32_t>(word >> 32));
}

} // namespace

KavrelLvdsTransmitter::KavrelLvdsTransmitter(KavrelBoard& board, volatile FPGAMem_t* window, std::string name)
    : KavrelFpgaObject(board, name), m_window(window), m_slot(_SlotOf(board.Uri().GetId()))
{
    ISTD_TRACE_FNC("iapp::KavrelLvdsTransmitter::KavrelLvdsTransmitter(iapp::KavrelBoard&, volatile FPGAMem_t*, "
                   "std::string)");
}

KavrelLvdsTransmitter::~KavrelLvdsTransmitter()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelLvdsTransmitter");
}

bool KavrelLvdsTransmitter::SetTrainWords(uint64_t word1, uint64_t word2)
{
    _WriteWord(m_window, c_word1, word1);
    _WriteWord(m_window, c_word2, word2);
    return true;
}

bool KavrelLvdsTransmitter::SetMode(LvdsTxModeType mode)
{
    ISTD_TRACE_FNC("bool iapp::KavrelLvdsTransmitter::SetMode(iapp::KavrelLvdsTransmitter::LvdsTxModeType)");
    volatile uint32_t* control = _Half(m_window, c_control);
    devio::Write32(control, (devio::Read32(control) & ~1u) | (mode & 1u));
    return true;
}

bool KavrelLvdsTransmitter::OnQueryChild(const KavrelObject&)
{
    return false;
}

} // namespace iapp
