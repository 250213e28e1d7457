#include "sim/chips/spi_chip.h"

namespace sim {

namespace {

uint64_t _Ones(unsigned bits)
{
    return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

} // namespace

SpiChipBase::SpiChipBase(unsigned wordBits, bool lsbFirst) : m_wordBits(wordBits), m_lsbFirst(lsbFirst) {}

SpiChipBase::~SpiChipBase() = default;

uint64_t SpiChipBase::ReverseBits(uint64_t value, unsigned bits)
{
    uint64_t reversed = 0;
    for (unsigned i = 0; i < bits; ++i) {
        reversed = reversed << 1 | (value >> i & 1);
    }
    return reversed;
}

void SpiChipBase::OnSelect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_selects;
    if (m_answering) {
        _Select();
    }
}

void SpiChipBase::OnDeselect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_answering) {
        _Deselect();
    }
}

uint64_t SpiChipBase::OnShift(uint64_t mosi, const SpiShiftFormat& format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const unsigned bits = format.bits;
    if (!m_answering) {
        return ~uint64_t{0};
    }
    const bool fits = m_wordBits == 0 ? bits > 0 && bits % 8 == 0 : bits == m_wordBits;
    if (!fits) {
        ++m_protocolErrors;
        return ~uint64_t{0};
    }
    const bool reversed = format.lsbFirst != m_lsbFirst;
    const uint64_t word = reversed ? ReverseBits(mosi, bits) : mosi & _Ones(bits);
    if (m_recording) {
        m_words.push_back(word);
    }
    uint64_t answer = 0;
    if (m_wordBits != 0) {
        answer = _Word(word) & _Ones(bits);
    } else {
        // Bytes in the chip's order: the first byte on the wire is the top byte of its word.
        for (unsigned shift = bits; shift > 0; shift -= 8) {
            const auto byte = static_cast<uint8_t>(word >> (shift - 8));
            answer |= uint64_t{_Byte(byte)} << (shift - 8);
        }
    }
    return reversed ? ReverseBits(answer, bits) : answer;
}

uint64_t SpiChipBase::_Word(uint64_t)
{
    return ~uint64_t{0};
}

uint8_t SpiChipBase::_Byte(uint8_t)
{
    return 0xFF;
}

std::vector<uint64_t> SpiChipBase::GetWords() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_words;
}

void SpiChipBase::ClearWords()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_words.clear();
}

size_t SpiChipBase::GetProtocolErrors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_protocolErrors;
}

size_t SpiChipBase::GetSelectCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_selects;
}

void SpiChipBase::SetAnswering(bool answering)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answering = answering;
}

void SpiChipBase::SetRecording(bool recording)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recording = recording;
}

} // namespace sim
