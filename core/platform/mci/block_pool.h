#ifndef MCI_BLOCK_POOL_H
#define MCI_BLOCK_POOL_H

// The memory of the notification path (private to the library): blocks of two fixed sizes,
// reused across threads, for the queued notifications (with their reference counts) and for
// the chunks of the clients' queues. A notification is made on the emitter's thread and released
// on a sender's, and a queue chunk is made on the dispatcher's thread and released on a
// sender's, where the C library's per-thread caches would keep the memory from the thread that
// makes the next: here a thread that releases blocks keeps a few and gives the rest to a shared
// list, which a thread takes whole once its own list ran dry.

#include <cstddef>
#include <memory_resource>

namespace mci::detail {

enum BlockKind_e {
    eNotificationBlock, // 256 bytes: a notification made by allocate_shared
    eQueueBlock,        // 512 bytes: a chunk of a client's queue (a deque)
    c_blockKinds
};

// A block of the kind for size bytes; larger requests go to the heap.
void* AllocateBlock(BlockKind_e kind, size_t size);
void ReleaseBlock(BlockKind_e kind, void* block, size_t size);

template <class T, BlockKind_e KIND>
struct BlockAllocator {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = BlockAllocator<U, KIND>;
    };
    BlockAllocator() = default;
    template <class U>
    BlockAllocator(const BlockAllocator<U, KIND>&) noexcept
    {
    }
    T* allocate(size_t n) { return static_cast<T*>(AllocateBlock(KIND, n * sizeof(T))); }
    void deallocate(T* p, size_t n) noexcept { ReleaseBlock(KIND, p, n * sizeof(T)); }
    template <class U>
    bool operator==(const BlockAllocator<U, KIND>&) const noexcept
    {
        return true;
    }
    template <class U>
    bool operator!=(const BlockAllocator<U, KIND>&) const noexcept
    {
        return false;
    }
};

// The queue blocks as a memory resource, for the clients' queues.
std::pmr::memory_resource* QueueMemory();

} // namespace mci::detail

#endif
