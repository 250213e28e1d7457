#include "mci/block_pool.h"

#include <mutex>
#include <new>
#include <vector>

namespace mci::detail {

namespace {

constexpr size_t c_blockSizes[c_blockKinds] = {256, 512};
constexpr size_t c_maxShared = 4096; // blocks of a kind kept for reuse at most; more go to the heap
// Blocks of a kind a thread keeps of those it released itself, for its own next ones (a
// notification that found no client is released by its emitter at once): a thread that only
// releases blocks of that kind, as a sender does, keeps no more than this.
constexpr size_t c_maxOwnReleased = 64;
// Under AddressSanitizer every block is on the heap, where a use after its release is seen. GCC
// says so by a macro, clang (the fuzz targets' compiler) by a feature test.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool c_heapOnly = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool c_heapOnly = true;
#else
constexpr bool c_heapOnly = false;
#endif
#else
constexpr bool c_heapOnly = false;
#endif

struct Shared {
    std::mutex mutex;
    std::vector<void*> blocks;
};

// Leaked, like the dispatcher, so that threads ending during static destruction find it.
Shared& GetShared(BlockKind_e kind)
{
    static Shared* const shared = new Shared[c_blockKinds];
    return shared[kind];
}

void ToShared(BlockKind_e kind, void* block)
{
    Shared& shared = GetShared(kind);
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.blocks.size() < c_maxShared) {
            shared.blocks.push_back(block);
            return;
        }
    }
    ::operator delete(block);
}

struct OwnLists;
// The calling thread's lists while they live (a plain pointer, valid also during the thread's
// end, when the lists themselves may be gone). Initial-exec, as the trace scopes' pointer: a
// plain thread-pointer access on every notification.
__attribute__((tls_model("initial-exec"))) thread_local OwnLists* t_own = nullptr;

// A thread's own lists; what is left when the thread ends goes back to the shared ones.
struct OwnLists {
    std::vector<void*> blocks[c_blockKinds];
    OwnLists() { t_own = this; }
    ~OwnLists()
    {
        t_own = nullptr; // a block released later on this thread goes to the shared list
        for (size_t kind = 0; kind < c_blockKinds; ++kind) {
            for (void* block : blocks[kind]) {
                ToShared(static_cast<BlockKind_e>(kind), block);
            }
        }
    }
};

OwnLists& Own()
{
    thread_local OwnLists own;
    return own;
}

class QueueResource : public std::pmr::memory_resource {
    void* do_allocate(size_t bytes, size_t alignment) override
    {
        if (alignment > alignof(std::max_align_t)) {
            return ::operator new(bytes, std::align_val_t(alignment));
        }
        return AllocateBlock(eQueueBlock, bytes);
    }
    void do_deallocate(void* block, size_t bytes, size_t alignment) override
    {
        if (alignment > alignof(std::max_align_t)) {
            ::operator delete(block, std::align_val_t(alignment));
            return;
        }
        ReleaseBlock(eQueueBlock, block, bytes);
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

} // namespace

void* AllocateBlock(BlockKind_e kind, size_t size)
{
    if (size > c_blockSizes[kind] || c_heapOnly) {
        return ::operator new(size);
    }
    std::vector<void*>& own = (t_own != nullptr ? *t_own : Own()).blocks[kind];
    if (own.empty()) {
        Shared& shared = GetShared(kind);
        std::lock_guard<std::mutex> lock(shared.mutex);
        own.swap(shared.blocks);
    }
    if (own.empty()) {
        return ::operator new(c_blockSizes[kind]);
    }
    void* block = own.back();
    own.pop_back();
    return block;
}

void ReleaseBlock(BlockKind_e kind, void* block, size_t size)
{
    if (size > c_blockSizes[kind] || c_heapOnly) {
        ::operator delete(block);
    } else if (t_own != nullptr && t_own->blocks[kind].size() < c_maxOwnReleased) {
        t_own->blocks[kind].push_back(block);
    } else {
        ToShared(kind, block);
    }
}

std::pmr::memory_resource* QueueMemory()
{
    // Leaked: queues of clients released during static destruction still give their blocks back.
    static QueueResource* const resource = new QueueResource();
    return resource;
}

} // namespace mci::detail
