#include "devio/reg_access.h"

#include <pthread.h>

#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <system_error>

#include "istd/exception.h"
#include "istd/trace.h"

namespace devio {

namespace detail {
std::atomic<size_t> g_claimedRanges{0};
} // namespace detail

namespace {

struct Range {
    uintptr_t end; // one past the last byte
    RangeId id;
    RegisterModelPtr model;
};

// The smallest span that holds every claimed range. An access outside it needs no look-up, so
// claims in one place cost little to accesses elsewhere. It only widens while claims are made and
// shrinks to the remaining ranges on release, so an address of a range that stays claimed lies
// inside it whichever of two updates a reader sees of each bound.
std::atomic<uintptr_t> g_spanFirst{UINTPTR_MAX};
std::atomic<uintptr_t> g_spanEnd{0};

// A reader-writer lock that lets a waiting writer in before new readers. Accesses to a claimed
// range may come from threads that never pause; under the default lock (readers first) a claim or
// a release waited for a moment when none of them held it, which a few busy threads put off for
// many milliseconds on two cores, or for ever. No reader takes it twice, which this kind forbids.
class WriterFirstMutex {
public:
    WriterFirstMutex()
    {
        pthread_rwlockattr_t attributes;
        pthread_rwlockattr_init(&attributes);
        pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
        const int error = pthread_rwlock_init(&m_lock, &attributes);
        pthread_rwlockattr_destroy(&attributes);
        _Check(error);
    }
    ~WriterFirstMutex() { pthread_rwlock_destroy(&m_lock); }
    WriterFirstMutex(const WriterFirstMutex&) = delete;
    WriterFirstMutex& operator=(const WriterFirstMutex&) = delete;

    void lock() { _Check(pthread_rwlock_wrlock(&m_lock)); }
    void unlock() { pthread_rwlock_unlock(&m_lock); }
    void lock_shared() { _Check(pthread_rwlock_rdlock(&m_lock)); }
    void unlock_shared() { pthread_rwlock_unlock(&m_lock); }

private:
    static void _Check(int error)
    {
        if (error != 0) {
            throw std::system_error(error, std::system_category(), "devio: range table lock");
        }
    }

    pthread_rwlock_t m_lock;
};

// Ranges by their first address. They never overlap, so the candidate for an address is the last
// range that starts at or below it.
struct RangeTable {
    WriterFirstMutex mutex;
    std::map<uintptr_t, Range> ranges;
    RangeId lastId = 0;
};

RangeTable& _Table()
{
    // Never destroyed: accesses from static destructors of other libraries may still look it up.
    static RangeTable* table = new RangeTable;
    return *table;
}

// Called under the exclusive lock after every change of the table.
void _UpdateSpan(const RangeTable& table)
{
    if (table.ranges.empty()) {
        g_spanFirst.store(UINTPTR_MAX, std::memory_order_relaxed);
        g_spanEnd.store(0, std::memory_order_relaxed);
    } else {
        g_spanFirst.store(table.ranges.begin()->first, std::memory_order_relaxed);
        g_spanEnd.store(table.ranges.rbegin()->second.end, std::memory_order_relaxed);
    }
}

// The model serving the address and the address's offset inside its range; null when none.
RegisterModelPtr _Find(const volatile void* address, size_t& offset)
{
    const auto a = reinterpret_cast<uintptr_t>(address);
    if (a < g_spanFirst.load(std::memory_order_relaxed) ||
        a >= g_spanEnd.load(std::memory_order_relaxed)) {
        return nullptr;
    }
    RangeTable& table = _Table();
    std::shared_lock<WriterFirstMutex> lock(table.mutex);
    auto it = table.ranges.upper_bound(a);
    if (it == table.ranges.begin()) {
        return nullptr;
    }
    --it;
    if (a >= it->second.end) {
        return nullptr;
    }
    offset = a - it->first;
    return it->second.model;
}

std::string _Hex(uintptr_t value)
{
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

} // namespace

uint64_t RegisterModel::OnRead64(size_t offset)
{
    const uint64_t low = OnRead32(offset);
    const uint64_t high = OnRead32(offset + 4);
    return low | (high << 32);
}

void RegisterModel::OnWrite64(size_t offset, uint64_t value)
{
    OnWrite32(offset, static_cast<uint32_t>(value));
    OnWrite32(offset + 4, static_cast<uint32_t>(value >> 32));
}

uint8_t RegisterModel::OnRead8(size_t offset)
{
    const uint32_t word = OnRead32(offset & ~size_t(3));
    uint8_t bytes[4];
    std::memcpy(bytes, &word, sizeof word); // the word's bytes in the machine's order
    return bytes[offset & 3];
}

void RegisterModel::OnWrite8(size_t offset, uint8_t value)
{
    const size_t wordOffset = offset & ~size_t(3);
    uint32_t word = OnRead32(wordOffset);
    uint8_t bytes[4];
    std::memcpy(bytes, &word, sizeof word);
    bytes[offset & 3] = value;
    std::memcpy(&word, bytes, sizeof word);
    OnWrite32(wordOffset, word);
}

RangeId ClaimRange(const volatile void* base, size_t size, RegisterModelPtr model)
{
    ISTD_TRACE_FNC(
        "devio::RangeId devio::ClaimRange(const volatile void*, size_t, devio::RegisterModelPtr)");
    const auto first = reinterpret_cast<uintptr_t>(base);
    if (size == 0) {
        throw istd::Exception("devio: cannot claim an empty register range");
    }
    if (!model) {
        throw istd::Exception("devio: register range claimed without a model");
    }
    if (first + size < first) {
        throw istd::Exception("devio: register range " + _Hex(first) + " + " +
                              std::to_string(size) + " wraps around the address space");
    }
    const uintptr_t end = first + size;

    RangeTable& table = _Table();
    std::unique_lock<WriterFirstMutex> lock(table.mutex);
    auto next = table.ranges.lower_bound(first);
    const bool overlapsNext = next != table.ranges.end() && next->first < end;
    const bool overlapsPrevious =
        next != table.ranges.begin() && std::prev(next)->second.end > first;
    if (overlapsNext || overlapsPrevious) {
        const auto& other = overlapsNext ? *next : *std::prev(next);
        throw istd::Exception("devio: register range " + _Hex(first) + ".." + _Hex(end) +
                              " overlaps the claimed range " + _Hex(other.first) + ".." +
                              _Hex(other.second.end));
    }
    const RangeId id = ++table.lastId;
    table.ranges.emplace(first, Range{end, id, std::move(model)});
    _UpdateSpan(table);
    detail::g_claimedRanges.fetch_add(1, std::memory_order_relaxed);
    return id;
}

bool ReleaseRange(RangeId id)
{
    ISTD_TRACE_FNC("bool devio::ReleaseRange(devio::RangeId)");
    RegisterModelPtr model; // dropped after the lock, should the model's destructor use devio
    RangeTable& table = _Table();
    std::lock_guard<WriterFirstMutex> lock(table.mutex);
    for (auto it = table.ranges.begin(); it != table.ranges.end(); ++it) {
        if (it->second.id == id) {
            model = std::move(it->second.model);
            table.ranges.erase(it);
            _UpdateSpan(table);
            detail::g_claimedRanges.fetch_sub(1, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

size_t GetClaimedRangeCount()
{
    return detail::g_claimedRanges.load(std::memory_order_relaxed);
}

namespace detail {

namespace {

// Runs the access on the model that serves the address; false when none does.
template <typename Access>
bool _Serve(const volatile void* address, Access access)
{
    size_t offset = 0;
    RegisterModelPtr model = _Find(address, offset);
    if (!model) {
        return false;
    }
    access(*model, offset);
    return true;
}

} // namespace

bool _ModelRead32(const volatile void* address, uint32_t& value)
{
    return _Serve(address, [&](RegisterModel& m, size_t offset) { value = m.OnRead32(offset); });
}

bool _ModelRead64(const volatile void* address, uint64_t& value)
{
    return _Serve(address, [&](RegisterModel& m, size_t offset) { value = m.OnRead64(offset); });
}

bool _ModelWrite32(volatile void* address, uint32_t value)
{
    return _Serve(address, [&](RegisterModel& m, size_t offset) { m.OnWrite32(offset, value); });
}

bool _ModelWrite64(volatile void* address, uint64_t value)
{
    return _Serve(address, [&](RegisterModel& m, size_t offset) { m.OnWrite64(offset, value); });
}

void _ReadBytes(const volatile void* address, void* out, size_t size)
{
    const auto* from = static_cast<const volatile uint8_t*>(address);
    auto* to = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < size; ++i) {
        if (!_AnyClaimed() || !_Serve(from + i, [&](RegisterModel& m, size_t offset) { to[i] = m.OnRead8(offset); })) {
            to[i] = from[i];
        }
    }
}

void _WriteBytes(volatile void* address, const void* in, size_t size)
{
    auto* to = static_cast<volatile uint8_t*>(address);
    const auto* from = static_cast<const uint8_t*>(in);
    for (size_t i = 0; i < size; ++i) {
        if (!_AnyClaimed() || !_Serve(to + i, [&](RegisterModel& m, size_t offset) { m.OnWrite8(offset, from[i]); })) {
            to[i] = from[i];
        }
    }
}

} // namespace detail

} // namespace devio
