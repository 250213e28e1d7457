#pragma once
// A register model that records every access to a window of a simulated board, in order, and
// passes it on: to another model (an FPGA block's) or, without one, to the board's memory. Tests
// show with it what the code under test did to the registers: a flush's two reads, a
// read-modify-write, or that nothing was written at all.
//
//     auto log = board.Log(0x400000, 0xB0);             // see sim/boards/chassis.h
//     ... code under test ...
//     EXPECT_EQ(log->Count(sim::boards::Access::eWrite), 0u);
//
// A 64-bit access is one entry of width 64 (when the model behind splits it, only the log's own
// entry is kept). Offsets count from the window's start.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <vector>

#include "devio/reg_access.h"

namespace sim::boards {

struct Access {
    enum Kind_e { eRead, eWrite };

    Kind_e kind = eRead;
    size_t offset = 0;
    unsigned width = 32; // 32 or 64
    uint64_t value = 0;  // read or written

    bool operator==(const Access& other) const
    {
        return kind == other.kind && offset == other.offset && width == other.width && value == other.value;
    }
    bool operator!=(const Access& other) const { return !(*this == other); }
};

// "R32 +0x10 = 0x5" / "W64 +0x4000 = 0x1".
std::ostream& operator<<(std::ostream& os, const Access& access);

class AccessLog : public devio::RegisterModel {
public:
    // Accesses go to target; target must not be null.
    explicit AccessLog(devio::RegisterModelPtr target);

    uint32_t OnRead32(size_t offset) override;
    void OnWrite32(size_t offset, uint32_t value) override;
    uint64_t OnRead64(size_t offset) override;
    void OnWrite64(size_t offset, uint64_t value) override;

    // The accesses so far, oldest first.
    std::vector<Access> Entries() const;
    // The accesses of the kind (at the offset, when one is given).
    size_t Count(Access::Kind_e kind) const;
    size_t Count(Access::Kind_e kind, size_t offset) const;
    void Clear();

    // Also hands each access to the observer as it is recorded, on the accessing thread under
    // the log's lock (the observer must not call the log); an empty one stops that.
    void SetObserver(std::function<void(const Access&)> observer);

private:
    void _Record(Access::Kind_e kind, size_t offset, unsigned width, uint64_t value);

    const devio::RegisterModelPtr m_target;
    mutable std::mutex m_mutex;
    std::vector<Access> m_entries;
    std::function<void(const Access&)> m_observer;
};

} // namespace sim::boards
