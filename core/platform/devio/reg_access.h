#pragma once
// Access to FPGA register words in mapped device memory.
//
// Every read and write of a hardware register goes through Read32/Write32/Read64/Write64 (or the
// typed Read/Write for other 4- and 8-byte types). Normally they are plain volatile accesses. A
// simulator may claim an address range at run time (ClaimRange); accesses inside a claimed range
// are then served by its RegisterModel instead of memory.
//
// With no range claimed anywhere in the process an access costs one relaxed load of a global
// counter and one well-predicted branch beside the volatile access itself. Only when some range is
// claimed does an access look the address up in the table of ranges (under a shared lock).
//
// An access goes to a model when its first byte lies inside the model's range; ranges are meant to
// be word-aligned windows, so in practice every word lies wholly inside or outside a range.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "devio/devio_export.h"

namespace devio {

// A simulated block of registers. Offsets are byte offsets from the start of the claimed range.
// Calls may come from any thread at once; a model serialises its own state as it needs. A model
// may throw: the exception passes to the caller of the access.
class DEVIO_API RegisterModel {
public:
    virtual ~RegisterModel() = default;

    virtual uint32_t OnRead32(size_t offset) = 0;
    virtual void OnWrite32(size_t offset, uint32_t value) = 0;

    // By default a 64-bit word is two 32-bit accesses, the lower-addressed half first, as a bus
    // that splits wide transfers would deliver them.
    virtual uint64_t OnRead64(size_t offset);
    virtual void OnWrite64(size_t offset, uint64_t value);

    // One byte of a value that lies off its alignment (ReadUnaligned, WriteUnaligned). By
    // default the byte of the 32-bit word that holds it: a read of that word, and for a write
    // the word read and written back with only that byte changed. A model whose words must not
    // be read back, or that other threads write meanwhile, overrides these.
    virtual uint8_t OnRead8(size_t offset);
    virtual void OnWrite8(size_t offset, uint8_t value);
};

using RegisterModelPtr = std::shared_ptr<RegisterModel>;

// Identifies one claimed range; never 0 for a valid claim and never reused within a process.
using RangeId = uint64_t;

// Claims [base, base + size) for the model. Throws istd::Exception when size is 0, the model is
// null, the range wraps around the address space, or it overlaps a range already claimed.
DEVIO_API RangeId ClaimRange(const volatile void* base, size_t size, RegisterModelPtr model);

// Releases a claim; returns false when the id names no current claim. An access that already
// looked the range up may still reach the model afterwards (the model is kept alive for it).
DEVIO_API bool ReleaseRange(RangeId id);

// Number of ranges claimed now.
DEVIO_API size_t GetClaimedRangeCount();

namespace detail {

// Count of claimed ranges; the fast path reads it relaxed and skips the table while it is 0.
extern DEVIO_API std::atomic<size_t> g_claimedRanges;

inline bool _AnyClaimed()
{
    return __builtin_expect(g_claimedRanges.load(std::memory_order_relaxed) != 0, 0);
}

// Slow paths: true when a model served the access, false when the caller must access memory.
DEVIO_API bool _ModelRead32(const volatile void* address, uint32_t& value);
DEVIO_API bool _ModelRead64(const volatile void* address, uint64_t& value);
DEVIO_API bool _ModelWrite32(volatile void* address, uint32_t value);
DEVIO_API bool _ModelWrite64(volatile void* address, uint64_t value);

// The bytes of a value off its alignment, one at a time in ascending address order, each from
// (to) the model that claims its address or else memory.
DEVIO_API void _ReadBytes(const volatile void* address, void* out, size_t size);
DEVIO_API void _WriteBytes(volatile void* address, const void* in, size_t size);

template <typename T>
inline bool _IsAligned(const volatile T* address)
{
    return reinterpret_cast<uintptr_t>(address) % alignof(T) == 0;
}

// Keeps the value argument of Write from taking part in deduction, so Write(word, 1) compiles.
template <typename T>
struct Same {
    using type = T;
};
template <typename T>
using NonDeduced_t = typename Same<T>::type;

template <typename T>
using Bits_t = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;

template <typename T>
constexpr void _CheckWordType()
{
    static_assert(sizeof(T) == 4 || sizeof(T) == 8, "register words are 32 or 64 bits wide");
    static_assert(std::is_trivially_copyable_v<T>, "register words are plain values");
}

template <typename T>
inline bool _ModelRead(const volatile T* address, T& value)
{
    Bits_t<T> bits;
    bool served;
    if constexpr (sizeof(T) == 4) {
        served = _ModelRead32(address, bits);
    } else {
        served = _ModelRead64(address, bits);
    }
    if (served) {
        std::memcpy(&value, &bits, sizeof(T));
    }
    return served;
}

template <typename T>
inline bool _ModelWrite(volatile T* address, const T& value)
{
    Bits_t<T> bits;
    std::memcpy(&bits, &value, sizeof(T));
    if constexpr (sizeof(T) == 4) {
        return _ModelWrite32(address, bits);
    } else {
        return _ModelWrite64(address, bits);
    }
}

// The path taken while some range is claimed, kept out of line so that the common path needs
// no stack frame.
template <typename T>
[[gnu::noinline, gnu::cold]] T _ReadClaimed(const volatile T* address)
{
    T value;
    if (_ModelRead(address, value)) {
        return value;
    }
    return *address;
}

template <typename T>
[[gnu::noinline, gnu::cold]] void _WriteClaimed(volatile T* address, T value)
{
    if (!_ModelWrite(address, value)) {
        *address = value;
    }
}

} // namespace detail

// Reads one register word of any 4- or 8-byte type (unsigned, signed, float, double).
template <typename T>
inline T Read(const volatile T* address)
{
    detail::_CheckWordType<T>();
    if (detail::_AnyClaimed()) {
        return detail::_ReadClaimed(address);
    }
    return *address;
}

// Writes one register word of any 4- or 8-byte type.
template <typename T>
inline void Write(volatile T* address, detail::NonDeduced_t<T> value)
{
    detail::_CheckWordType<T>();
    if (detail::_AnyClaimed()) {
        detail::_WriteClaimed(address, value);
        return;
    }
    *address = value;
}

// Read and Write for a value that may lie at any address (an element that a memory block lays
// at an odd offset): where the address keeps T's alignment, exactly Read and Write, one access
// of T's width; elsewhere byte by byte, since an access of T's width there is undefined.
template <typename T>
inline T ReadUnaligned(const volatile T* address)
{
    if (__builtin_expect(detail::_IsAligned(address), 1)) {
        return Read(address);
    }
    T value;
    detail::_ReadBytes(address, &value, sizeof(T));
    return value;
}

template <typename T>
inline void WriteUnaligned(volatile T* address, detail::NonDeduced_t<T> value)
{
    if (__builtin_expect(detail::_IsAligned(address), 1)) {
        Write(address, value);
        return;
    }
    detail::_WriteBytes(address, &value, sizeof(T));
}

inline uint32_t Read32(const volatile uint32_t* address)
{
    return Read(address);
}
inline uint64_t Read64(const volatile uint64_t* address)
{
    return Read(address);
}
inline void Write32(volatile uint32_t* address, uint32_t value)
{
    Write(address, value);
}
inline void Write64(volatile uint64_t* address, uint64_t value)
{
    Write(address, value);
}

// Claims a range for as long as the object lives.
class DEVIO_API RangeClaim {
public:
    RangeClaim() = default;
    RangeClaim(const volatile void* base, size_t size, RegisterModelPtr model)
        : m_id(ClaimRange(base, size, std::move(model)))
    {
    }
    ~RangeClaim() { Release(); }
    RangeClaim(RangeClaim&& other) noexcept : m_id(other.m_id) { other.m_id = 0; }
    RangeClaim& operator=(RangeClaim&& other) noexcept
    {
        if (this != &other) {
            Release();
            m_id = other.m_id;
            other.m_id = 0;
        }
        return *this;
    }
    RangeClaim(const RangeClaim&) = delete;
    RangeClaim& operator=(const RangeClaim&) = delete;

    void Release()
    {
        if (m_id != 0) {
            ReleaseRange(m_id);
            m_id = 0;
        }
    }
    RangeId GetId() const { return m_id; }

private:
    RangeId m_id = 0;
};

} // namespace devio
