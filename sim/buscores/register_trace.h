#pragma once
// What the simulated bus cores share: the record of the register accesses they saw and of their
// bus events, for tests that compare exact traces, and the claim of their window in devio.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devio/reg_access.h"

namespace sim {

struct RegisterAccess {
    bool write;
    size_t offset; // from the start of the core's window
    uint64_t value;
    const char* name; // the register's name ("control"); "?" for an offset the core does not decode

    // "W control 0xb0000000" or "R data 0x34".
    std::string ToString() const;
};

// Texts of the accesses, optionally without the reads.
std::vector<std::string> RegisterTexts(const std::vector<RegisterAccess>& accesses, bool withReads = true);

// "0x" and the value in lower-case hexadecimal, at least two digits.
std::string HexText(uint64_t value);

// A core model with a window of windowSize bytes and events of type Event (which has
// std::string ToString() const). Everything is guarded by m_mutex, which the core's register
// accesses hold while they run.
template <class Event>
class TracedCoreModel : public devio::RegisterModel, public std::enable_shared_from_this<TracedCoreModel<Event>> {
public:
    explicit TracedCoreModel(size_t windowSize) : m_windowSize(windowSize) {}

    // Claims the core's window at base in devio for as long as the claim lives.
    devio::RangeClaim Claim(const volatile void* base)
    {
        return devio::RangeClaim(base, m_windowSize, this->shared_from_this());
    }
    size_t GetWindowSize() const { return m_windowSize; }

    std::vector<Event> GetEvents() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<std::string> GetEventTexts() const
    {
        std::vector<std::string> texts;
        for (const Event& event : GetEvents()) {
            texts.push_back(event.ToString());
        }
        return texts;
    }
    std::vector<RegisterAccess> GetRegisterAccesses() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_registers;
    }
    void ClearTraces()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
        m_registers.clear();
    }
    // Tracing off keeps only the access count (for benchmarks); on by default.
    void SetTracing(bool on)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tracing = on;
    }
    // Register accesses since construction.
    uint64_t GetAccessCount() const { return _Locked(m_accesses); }

    // Each command (I2C) or shift (SPI) leaves the status busy for this many status reads (0 by
    // default).
    void SetBusyReads(uint32_t reads)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_busyReads = reads;
    }
    // The status reads busy for good while set.
    void SetBusyStuck(bool stuck)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stuck = stuck;
    }

protected:
    template <class T>
    T _Locked(const T& field) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return field;
    }

    // Under m_mutex: a command or shift started; a status read (true while busy).
    void _StartBusy() { m_busyLeft = m_busyReads; }
    bool _ReadBusy()
    {
        if (m_stuck) {
            return true;
        }
        if (m_busyLeft > 0) {
            --m_busyLeft;
            return true;
        }
        return false;
    }
    void _SetStuck(bool stuck) { m_stuck = stuck; }

    // Both under m_mutex.
    void _Record(bool write, size_t offset, uint64_t value, const char* name)
    {
        ++m_accesses;
        if (m_tracing) {
            m_registers.push_back(RegisterAccess{write, offset, value, name});
        }
    }
    void _Event(const Event& event)
    {
        if (m_tracing) {
            m_events.push_back(event);
        }
    }

    mutable std::mutex m_mutex;

private:
    const size_t m_windowSize;
    bool m_tracing = true;
    uint64_t m_accesses = 0;
    uint32_t m_busyReads = 0;
    uint32_t m_busyLeft = 0;
    bool m_stuck = false;
    std::vector<Event> m_events;
    std::vector<RegisterAccess> m_registers;
};

} // namespace sim
