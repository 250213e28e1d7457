// Two threads writing different fields of one register word through their own nodes: no update
// is lost. Served by a register model, every write is checked to change one field only (a lost
// update rewrites the other field with a stale value); in plain memory the final word holds both
// threads' last values, and ThreadSanitizer sees every read-modify-write ordered.

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <thread>

#include "common/ireg_kinds_util.h"
#include "ireg/reg_reference_bit_node.h"

using iregtest::MakeKind;
using mci::c_noRelPath;

namespace {

constexpr uint32_t c_fieldBits = 12;
constexpr uint32_t c_fieldMask = (1u << c_fieldBits) - 1;

// The two fields: bits 0..11 and 16..27 (of a 32-bit word) or 40..51 (of a 64-bit word).
template <class W>
constexpr unsigned c_secondOffset = sizeof(W) == 4 ? 16 : 40;

// Runs `writes` writes on each field, from two threads at once; each thread writes its count.
template <class W>
void HammerTwoFields(volatile W& word, size_t writes)
{
    auto low = MakeKind<ireg::RegReferenceBitNode<uint32_t, volatile W>>("low", word, 0, c_fieldBits);
    auto high = MakeKind<ireg::RegReferenceBitNode<uint32_t, volatile W>>("high", word, c_secondOffset<W>, c_fieldBits);
    auto hammer = [writes](const std::shared_ptr<ireg::RegReferenceBitNode<uint32_t, volatile W>>& node) {
        for (size_t i = 1; i <= writes; ++i) {
            node->Set(uint32_t(i & c_fieldMask), 0, c_noRelPath);
        }
    };
    std::thread a(hammer, low);
    std::thread b(hammer, high);
    a.join();
    b.join();
}

// Keeps one word; a write that changes bits of both fields at once has overwritten one of them
// with what it held before the other thread's write.
class OneFieldPerWrite : public devio::RegisterModel {
public:
    explicit OneFieldPerWrite(unsigned secondOffset)
        : m_first(c_fieldMask), m_second(uint64_t(c_fieldMask) << secondOffset)
    {
    }

    uint32_t OnRead32(size_t offset) override { return static_cast<uint32_t>(OnRead64(offset)); }
    void OnWrite32(size_t offset, uint32_t value) override { OnWrite64(offset, value); }
    uint64_t OnRead64(size_t) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_word;
    }
    void OnWrite64(size_t, uint64_t value) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uint64_t changed = m_word ^ value;
        if ((changed & m_first) != 0 && (changed & m_second) != 0) {
            ++m_bothChanged;
        }
        m_word = value;
        ++m_writes;
    }

    uint64_t Word()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_word;
    }
    size_t Writes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_writes;
    }
    size_t BothChanged()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bothChanged;
    }

private:
    const uint64_t m_first;
    const uint64_t m_second;
    std::mutex m_mutex;
    uint64_t m_word = 0;
    size_t m_writes = 0;
    size_t m_bothChanged = 0;
};

template <class W>
void CheckModelledWord(size_t writes)
{
    volatile W word = 0;
    auto model = std::make_shared<OneFieldPerWrite>(c_secondOffset<W>);
    const devio::RangeClaim claim(&word, sizeof(W), model);
    HammerTwoFields(word, writes);
    EXPECT_EQ(model->Writes(), 2 * writes);
    EXPECT_EQ(model->BothChanged(), 0u);
    const uint64_t last = writes & c_fieldMask;
    EXPECT_EQ(model->Word(), last | last << c_secondOffset<W>);
}

TEST(RegReferenceBitNodeThreads, NoUpdateLostThroughARegisterModel)
{
    CheckModelledWord<uint32_t>(200000);
    CheckModelledWord<uint64_t>(200000);
}

TEST(RegReferenceBitNodeThreads, NoUpdateLostInMemory)
{
    constexpr size_t c_writes = 1000000;
    const uint64_t last = c_writes & c_fieldMask;

    volatile uint32_t narrow = 0;
    HammerTwoFields(narrow, c_writes);
    EXPECT_EQ(uint64_t(narrow), last | last << c_secondOffset<uint32_t>);

    volatile uint64_t wide = 0;
    HammerTwoFields(wide, c_writes);
    EXPECT_EQ(uint64_t(wide), last | last << c_secondOffset<uint64_t>);
}

} // namespace
