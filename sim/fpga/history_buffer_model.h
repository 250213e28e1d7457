#pragma once
// A register model of the FPGA's history-buffer writers: one 64-bit control register per writer,
// c_stride bytes apart, writer w at offset c_stride * w of the window. Attach it over a window of
// a simulated board (sim::boards::Board::Attach or Log), WindowSize(writers) bytes.
//
// Control register (written and read as two 32-bit halves, the lower one at +0):
//   write  the lower half acts: 2 stops the writer; an enable mode (1 or 4) starts it; any other
//          value is kept but changes nothing. The upper half is kept as written.
//   read   the value last written, but bit 31, which reads 1 exactly while the writer runs.
// Every other offset reads 0 and ignores writes.
//
// A writer can be made to fail: a stuck writer does not start when its mode is written, and
// SetRunning switches one on or off as if it had done so by itself.
//
// Calls may come from any thread; the model serialises them.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "devio/reg_access.h"

namespace sim::fpga {

class HistoryBufferModel : public devio::RegisterModel {
public:
    static constexpr size_t c_stride = 8;
    static constexpr uint32_t c_statusBit = 1u << 31;
    static constexpr uint32_t c_stopWord = 2;

    static constexpr size_t WindowSize(size_t writers) { return writers * c_stride; }

    // Every writer stopped, its control word 0.
    explicit HistoryBufferModel(size_t writers);

    size_t GetWriterCount() const { return m_writers.size(); }

    // A writer number beyond the count throws std::out_of_range.
    void SetStuck(size_t writer, bool stuck);
    void SetRunning(size_t writer, bool running);
    bool IsRunning(size_t writer) const;
    // The mode the writer was last started with (0: never started).
    uint32_t GetMode(size_t writer) const;
    // The register as a 64-bit read gives it.
    uint64_t GetControl(size_t writer) const;
    // Lower-half writes the writer took: stops and starts (writes of its mode), in all.
    uint64_t GetStops(size_t writer) const;
    uint64_t GetStarts(size_t writer) const;

    uint32_t OnRead32(size_t offset) override;
    void OnWrite32(size_t offset, uint32_t value) override;

private:
    struct Writer {
        uint32_t low = 0;
        uint32_t high = 0;
        uint32_t mode = 0;
        bool running = false;
        bool stuck = false;
        uint64_t stops = 0;
        uint64_t starts = 0;
    };

    Writer& _Writer(size_t writer);
    const Writer& _Writer(size_t writer) const;
    static uint32_t _Low(const Writer& writer);

    mutable std::mutex m_mutex;
    std::vector<Writer> m_writers;
};

} // namespace sim::fpga
