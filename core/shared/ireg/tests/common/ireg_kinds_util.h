#ifndef IREG_TESTS_COMMON_IREG_KINDS_UTIL_H
#define IREG_TESTS_COMMON_IREG_KINDS_UTIL_H

// Helpers of the tests of the node kinds over variables, functions, enumerations and register
// words: typed creation, word arrays between inaccessible pages, and a register model that
// records every access.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "devio/reg_access.h"
#include "mci/mci.h"

namespace iregtest {

// mci::factory::Create, typed as the node kind made. A dynamic cast: the enumeration kinds reach
// the tree node through a virtual base, which a static cast cannot cross.
template <class N, class... A>
std::shared_ptr<N> MakeKind(A&&... args)
{
    return std::dynamic_pointer_cast<N>(mci::factory::Create<N>(std::forward<A>(args)...));
}

// Readable and writable memory with an inaccessible page on each side: a read or write just
// outside [Begin(), End()) crashes the test.
class GuardedPages {
public:
    explicit GuardedPages(size_t bytes);
    ~GuardedPages();
    GuardedPages(const GuardedPages&) = delete;
    GuardedPages& operator=(const GuardedPages&) = delete;

    char* Begin() const { return m_data; }
    char* End() const { return m_data + m_dataBytes; }

    // count words of W ending at the upper guard, or starting at the lower one, all zero.
    template <class W>
    volatile W* WordsAtEnd(size_t count) const
    {
        return reinterpret_cast<volatile W*>(End()) - count;
    }
    template <class W>
    volatile W* WordsAtStart() const
    {
        return reinterpret_cast<volatile W*>(Begin());
    }

private:
    char* m_base = nullptr;
    char* m_data = nullptr;
    size_t m_dataBytes = 0;
    size_t m_mappedBytes = 0;
};

// A register model that keeps its words by byte offset (0 until written) and records every
// access in order.
class RecordingModel : public devio::RegisterModel {
public:
    struct Access {
        char kind; // 'r' or 'w'
        size_t offset;
        uint64_t value;
        bool operator==(const Access& o) const { return kind == o.kind && offset == o.offset && value == o.value; }
    };

    uint32_t OnRead32(size_t offset) override;
    void OnWrite32(size_t offset, uint32_t value) override;
    uint64_t OnRead64(size_t offset) override;
    void OnWrite64(size_t offset, uint64_t value) override;

    void Preset(size_t offset, uint64_t value);
    uint64_t Word(size_t offset);
    std::vector<Access> TakeLog();

private:
    uint64_t _Read(size_t offset);
    void _Write(size_t offset, uint64_t value);

    std::mutex m_mutex;
    std::map<size_t, uint64_t> m_words;
    std::vector<Access> m_log;
};

} // namespace iregtest

#endif
