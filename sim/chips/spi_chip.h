#pragma once
// What the SPI chip models share: the chip's side of the wire.
//
// A chip reads the bits in the order it expects them, whatever order the core shifts them in: a
// word shifted in the other order reaches the chip with its bits reversed, and so does its
// answer. A byte-stream chip (the serial flash, the register-addressed chips) takes any word of
// whole bytes and reads it byte by byte; a word chip takes exactly its frame length per word, and
// a word of another length is counted as a protocol error and ignored (answered with ones).
//
// Every model keeps the words it received, as the chip read them, for tests that compare exact
// wire words, and can stop answering (its output floats high: every answer reads all ones, and
// nothing it receives takes effect), as a chip that is absent or not powered.
//
// Calls from the core run under the core's mutex; the model's own state is guarded by m_mutex,
// which its accessors take, so tests may inspect a model while another thread drives the bus.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/buscores/spi_core.h"

namespace sim {

class SpiChipBase : public SpiChipModel {
public:
    // wordBits: the chip's frame in bits, or 0 for a byte-stream chip; lsbFirst: the order in
    // which the chip takes and gives bits on the wire.
    SpiChipBase(unsigned wordBits, bool lsbFirst);
    ~SpiChipBase() override;

    void OnSelect() final;
    uint64_t OnShift(uint64_t mosi, const SpiShiftFormat& format) final;
    void OnDeselect() final;

    // Words received since construction or ClearWords, as the chip read them (a byte-stream chip
    // keeps each word whole, in its own bit order).
    std::vector<uint64_t> GetWords() const;
    void ClearWords();
    // Words the chip could not take: a length other than its frame, or not whole bytes.
    size_t GetProtocolErrors() const;
    // Times the chip was selected.
    size_t GetSelectCount() const;

    // False: the chip no longer drives its output or acts on what it receives.
    void SetAnswering(bool answering);
    // False: words are no longer kept (long runs such as benchmarks); on at construction.
    void SetRecording(bool recording);

    // The low `bits` bits of value in reverse order.
    static uint64_t ReverseBits(uint64_t value, unsigned bits);

protected:
    // The chip's behaviour, called under m_mutex. A word chip overrides _Word, a byte-stream chip
    // _Byte; both answer in the chip's own bit order.
    virtual void _Select() {}
    virtual uint64_t _Word(uint64_t word);
    virtual uint8_t _Byte(uint8_t byte);
    virtual void _Deselect() {}

    mutable std::mutex m_mutex;

private:
    const unsigned m_wordBits;
    const bool m_lsbFirst;
    bool m_answering = true;
    bool m_recording = true;
    std::vector<uint64_t> m_words;
    size_t m_protocolErrors = 0;
    size_t m_selects = 0;
};

} // namespace sim
