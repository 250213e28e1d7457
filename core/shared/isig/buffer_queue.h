#ifndef ISIG_BUFFER_QUEUE_H
#define ISIG_BUFFER_QUEUE_H

// The containers that carry a stream's atoms:
//   Array<TRAITS>          a run of atoms, owning its storage or borrowing someone else's;
//   MetaBufferPair<TRAITS> one dispatched group with its metadata; one object is shared, read
//                          only, by every client queue it was pushed into (MetaBufferPtr);
//   BufferQueue<TRAITS>    a bounded FIFO of such buffers, without locking of its own.
// TRAITS is a stream's traits type (isig::SignalTraits, "isig/stream.h"): TRAITS::Atom is the
// atom type, which must be trivially copyable, since devices deliver atoms as bytes.

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "istd/exception.h"
#include "istd/growing_ring.h"
#include "isig/signal_types.h"

namespace isig {

template <class TRAITS>
class Array {
public:
    using Traits = TRAITS;
    using Atom = typename TRAITS::Atom;
    static_assert(std::is_trivially_copyable_v<Atom>, "atoms are read from devices as bytes");

    // Owned storage for `atoms` atoms (left uninitialised), all in use.
    explicit Array(const TRAITS& traits = TRAITS(), unsigned atoms = 0)
        : m_traits(traits), m_length(atoms), m_capacity(atoms), m_owned(true),
          m_data(atoms != 0 ? new Atom[atoms] : nullptr)
    {
    }
    // Borrows `atoms` atoms at `data`; the array never frees or grows them.
    Array(const TRAITS& traits, Atom* data, unsigned atoms)
        : m_traits(traits), m_length(atoms), m_capacity(atoms), m_owned(false), m_data(data)
    {
    }
    // The source is left owning nothing, with length and capacity 0, and able to grow again.
    Array(Array&& other) noexcept
        : m_traits(other.m_traits), m_length(other.m_length), m_capacity(other.m_capacity),
          m_owned(other.m_owned), m_data(other.m_data)
    {
        other._Forget();
    }
    Array& operator=(Array&& other) noexcept
    {
        if (this != &other) {
            _Free();
            m_traits = other.m_traits;
            m_length = other.m_length;
            m_capacity = other.m_capacity;
            m_owned = other.m_owned;
            m_data = other.m_data;
            other._Forget();
        }
        return *this;
    }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    ~Array() { _Free(); }

    // Sets the length to n. Beyond the capacity an owned array moves to new storage for n atoms,
    // keeping the atoms in use; a borrowed one throws "array: Cannot extend non-owned array.".
    void Resize(unsigned n)
    {
        if (n <= m_capacity) {
            m_length = n;
            return;
        }
        if (!m_owned) {
            throw istd::Exception("array: Cannot extend non-owned array.");
        }
        Atom* data = new Atom[n];
        if (m_length != 0) {
            std::memcpy(static_cast<void*>(data), static_cast<const void*>(m_data), m_length * sizeof(Atom));
        }
        delete[] m_data;
        m_data = data;
        m_capacity = n;
        m_length = n;
    }

    unsigned GetLength() const { return m_length; }
    unsigned GetCapacity() const { return m_capacity; }
    bool IsOwned() const { return m_owned; }
    const TRAITS& GetTraits() const { return m_traits; }
    Atom* Data() { return m_data; }
    const Atom* Data() const { return m_data; }

    // One atom in use; throws "array: index out of range" past the length.
    Atom& operator[](unsigned i) { return m_data[_Check(i)]; }
    const Atom& operator[](unsigned i) const { return m_data[_Check(i)]; }

private:
    unsigned _Check(unsigned i) const
    {
        if (i >= m_length) {
            throw istd::Exception("array: index out of range");
        }
        return i;
    }
    void _Free()
    {
        if (m_owned) {
            delete[] m_data;
        }
        m_data = nullptr;
    }
    void _Forget()
    {
        m_data = nullptr;
        m_length = 0;
        m_capacity = 0;
        m_owned = true;
    }

    TRAITS m_traits;
    unsigned m_length;
    unsigned m_capacity;
    bool m_owned;
    Atom* m_data;
};

template <class TRAITS>
struct MetaBufferPair {
    using Buffer = Array<TRAITS>;

    MetaBufferPair(Buffer&& buffer, const SignalMeta& metadata) : data(std::move(buffer)), meta(metadata) {}

    Buffer data;
    SignalMeta meta;
};

// Buffers travel read only: every queue and reader of one dispatch sees the same atoms. A filter
// that changes atoms makes a new buffer.
template <class TRAITS>
using MetaBufferPtr = std::shared_ptr<const MetaBufferPair<TRAITS>>;

// Memory blocks kept for reuse by the buffers of one stream, so that a stream in steady use
// allocates nothing per group: a buffer's block comes back when its last holder (queue or reader)
// lets go of it, on whichever thread that is, and never before. Blocks of each size are kept up
// to a bound; a burst beyond it goes to the heap and back. Buffers keep their pool alive.
class BufferPool {
public:
    // Free blocks kept per size: as many as 4 MiB hold, at least 16 and at most 1024.
    static constexpr size_t c_keptBytes = size_t{4} << 20;
    static constexpr size_t c_minKept = 16;
    static constexpr size_t c_maxKept = 1024;
    // Sizes kept: a stream's full group and its single atoms, with room for a few more. The last
    // group of a read and a producer's own counts may take any size; those go to the heap.
    static constexpr size_t c_maxShelves = 4;

    BufferPool() = default;
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;
    ~BufferPool()
    {
        for (Shelf& shelf : m_shelves) {
            for (void* block : shelf.free) {
                ::operator delete(block);
            }
        }
    }

    void* Allocate(size_t bytes)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Shelf* shelf = _Find(bytes);
            if (shelf == nullptr && m_shelves.size() < c_maxShelves) {
                // Its room is reserved up to the bound here, so that keeping a block never
                // allocates.
                m_shelves.push_back(Shelf{bytes, {}});
                shelf = &m_shelves.back();
                shelf->free.reserve(std::clamp(c_keptBytes / std::max<size_t>(bytes, 1), c_minKept, c_maxKept));
            }
            if (shelf != nullptr && !shelf->free.empty()) {
                void* block = shelf->free.back();
                shelf->free.pop_back();
                return block;
            }
        }
        return ::operator new(bytes);
    }
    void Deallocate(void* block, size_t bytes) noexcept
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Shelf* shelf = _Find(bytes);
            if (shelf != nullptr && shelf->free.size() < shelf->free.capacity()) {
                shelf->free.push_back(block);
                return;
            }
        }
        ::operator delete(block);
    }

private:
    struct Shelf {
        size_t bytes;
        std::vector<void*> free;
    };

    Shelf* _Find(size_t bytes) noexcept
    {
        for (Shelf& shelf : m_shelves) {
            if (shelf.bytes == bytes) {
                return &shelf;
            }
        }
        return nullptr;
    }

    mutable std::mutex m_mutex;
    std::vector<Shelf> m_shelves;
};

using BufferPoolPtr = std::shared_ptr<BufferPool>;

namespace detail {

// Hands out a pool's blocks to allocate_shared; the copy in a buffer's control block keeps the
// pool alive until that block is back.
template <class T>
struct PoolAllocator {
    using value_type = T;
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "pooled blocks have the heap's alignment");

    explicit PoolAllocator(BufferPoolPtr p) : pool(std::move(p)) {}
    template <class U>
    PoolAllocator(const PoolAllocator<U>& other) : pool(other.pool)
    {
    }
    T* allocate(size_t n) { return static_cast<T*>(pool->Allocate(n * sizeof(T))); }
    void deallocate(T* p, size_t n) noexcept { pool->Deallocate(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const PoolAllocator<U>& other) const
    {
        return pool == other.pool;
    }
    template <class U>
    bool operator!=(const PoolAllocator<U>& other) const
    {
        return pool != other.pool;
    }

    BufferPoolPtr pool;
};

// Groups of at most this many bytes live in the allocation of their buffer.
constexpr size_t c_smallGroupBytes = 64;

template <class TRAITS>
struct SmallBuffer {
    using Atom = typename TRAITS::Atom;
    static constexpr unsigned c_atoms =
        sizeof(Atom) <= c_smallGroupBytes ? static_cast<unsigned>(c_smallGroupBytes / sizeof(Atom)) : 0u;

    SmallBuffer(const TRAITS& traits, const Atom* atoms, unsigned count, const SignalMeta& meta)
        : pair(Array<TRAITS>(traits, reinterpret_cast<Atom*>(storage), count), meta)
    {
        std::memcpy(static_cast<void*>(storage), static_cast<const void*>(atoms), count * sizeof(Atom));
    }

    MetaBufferPair<TRAITS> pair; // borrows the storage below
    alignas(Atom) unsigned char storage[std::max<size_t>(c_atoms, 1) * sizeof(Atom)];
};

// A larger group in a block of the pool, which takes the block back when the buffer goes.
template <class TRAITS>
struct PooledBuffer {
    using Atom = typename TRAITS::Atom;
    static_assert(alignof(Atom) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "pooled blocks have the heap's alignment");

    PooledBuffer(const TRAITS& traits, const Atom* atoms, unsigned count, const SignalMeta& meta, BufferPool& p)
        : pool(p), storage(static_cast<Atom*>(p.Allocate(count * sizeof(Atom)))), bytes(count * sizeof(Atom)),
          pair(Array<TRAITS>(traits, storage, count), SignalMeta())
    {
        std::memcpy(static_cast<void*>(storage), static_cast<const void*>(atoms), bytes);
        try {
            pair.meta = meta;
        } catch (...) {
            pool.Deallocate(storage, bytes);
            throw;
        }
    }
    PooledBuffer(const PooledBuffer&) = delete;
    PooledBuffer& operator=(const PooledBuffer&) = delete;
    ~PooledBuffer() { pool.Deallocate(storage, bytes); }

    BufferPool& pool; // outlives the buffer: the control block's allocator holds it
    Atom* const storage;
    const size_t bytes;
    MetaBufferPair<TRAITS> pair; // borrows the storage
};

} // namespace detail

// A new buffer holding a copy of `count` atoms (and of the metadata). A small group shares one
// allocation with its buffer, whose array then borrows that storage; readers see no difference.
// With a pool, the buffer's memory comes from the pool and goes back to it.
template <class TRAITS>
MetaBufferPtr<TRAITS> CopyToBuffer(const TRAITS& traits, const typename TRAITS::Atom* atoms, unsigned count,
                                   const SignalMeta& meta, const BufferPoolPtr& pool = nullptr)
{
    using Small = detail::SmallBuffer<TRAITS>;
    if (count <= Small::c_atoms) {
        if (pool) {
            auto small = std::allocate_shared<Small>(detail::PoolAllocator<Small>(pool), traits, atoms, count, meta);
            return MetaBufferPtr<TRAITS>(small, &small->pair);
        }
        auto small = std::make_shared<Small>(traits, atoms, count, meta);
        return MetaBufferPtr<TRAITS>(small, &small->pair);
    }
    if (pool) {
        using Pooled = detail::PooledBuffer<TRAITS>;
        auto pooled = std::allocate_shared<Pooled>(detail::PoolAllocator<Pooled>(pool), traits, atoms, count, meta,
                                                   *pool);
        return MetaBufferPtr<TRAITS>(pooled, &pooled->pair);
    }
    Array<TRAITS> array(traits, count);
    std::memcpy(static_cast<void*>(array.Data()), static_cast<const void*>(atoms),
                count * sizeof(typename TRAITS::Atom));
    return std::make_shared<const MetaBufferPair<TRAITS>>(std::move(array), meta);
}

template <class TRAITS>
class BufferQueue {
public:
    using Ptr = MetaBufferPtr<TRAITS>;

    explicit BufferQueue(unsigned capacity) : m_capacity(capacity) {}

    // Appends the buffer; the queue grows past its capacity only when its user lets it.
    void Push(Ptr buffer) { m_ring.push_back(std::move(buffer), m_capacity); }
    // Takes the oldest buffer; throws "isig: The queue is empty." when there is none.
    void Pop(Ptr& out)
    {
        if (m_ring.empty()) {
            throw istd::Exception("isig: The queue is empty.");
        }
        out = std::move(m_ring.front());
        m_ring.pop_front();
    }
    void Clear() { m_ring.clear(); }

    size_t Size() const { return m_ring.size(); }
    bool Empty() const { return m_ring.empty(); }
    // The most buffers the queue may hold.
    unsigned Capacity() const { return m_capacity; }
    void SetCapacity(unsigned capacity) { m_capacity = capacity; }

private:
    istd::GrowingRing<Ptr> m_ring;
    unsigned m_capacity;
};

} // namespace isig

#endif
