// Reference nodes: no copy and no cache (the owner's changes show, the node's writes land in the
// referent), only the addressed elements touched, register words read and written once each in
// order through the register-access layer, equality by address.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/ireg_kinds_util.h"
#include "common/ireg_test_util.h"
#include "ireg/reg_reference_node.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::GuardedPages;
using iregtest::MakeKind;
using iregtest::RecordingModel;
using iregtest::Sample;
using mci::c_noRelPath;

namespace {

template <class T>
class RegReferenceNodeTyped : public ::testing::Test {};

using ValueTypes = ::testing::Types<bool, int32_t, uint32_t, int64_t, uint64_t, double, float, std::string>;
TYPED_TEST_SUITE(RegReferenceNodeTyped, ValueTypes);

TYPED_TEST(RegReferenceNodeTyped, ReadsAndWritesTheReferent)
{
    using T = TypeParam;
    const std::vector<T> s = Sample<T>::Values();

    T variable = s[0];
    auto scalar = MakeKind<ireg::RegReferenceNode<T>>("v", variable);
    EXPECT_EQ(scalar->GetFlags(), 6u);
    EXPECT_EQ(scalar->GetValueType(), ireg::ValueTypeCode<T>());
    T out{};
    scalar->Get(out, 0, c_noRelPath);
    EXPECT_EQ(out, s[0]);
    variable = s[2]; // changed by the owner: the next read sees it
    scalar->Get(out, 0, c_noRelPath);
    EXPECT_EQ(out, s[2]);
    scalar->Set(s[1], 0, c_noRelPath);
    EXPECT_EQ(variable, s[1]);

    // Two values at position 1 of four: elements 0 and 3 keep theirs.
    T array[4] = {s[0], s[0], s[0], s[0]};
    auto node = MakeKind<ireg::RegReferenceNode<T>>("a", size_t(4), array, mci::Flags(0x0E));
    EXPECT_EQ(node->GetFlags(), 0x20Eu);
    node->Set(std::vector<T>{s[1], s[2]}, 1, c_noRelPath);
    EXPECT_EQ(array[0], s[0]);
    EXPECT_EQ(array[1], s[1]);
    EXPECT_EQ(array[2], s[2]);
    EXPECT_EQ(array[3], s[0]);
    std::vector<T> all;
    node->Get(all, 0, 0, c_noRelPath);
    EXPECT_EQ(all, (std::vector<T>{s[0], s[1], s[2], s[0]}));
}

TEST(RegReferenceNode, StringsAreAssignedWhole)
{
    std::string texts[2] = {"a rather long text", "b"};
    auto node = MakeKind<ireg::RegReferenceNode<std::string>>("t", size_t(2), texts, mci::Flags(6));
    node->Set(std::string("short"), 0, c_noRelPath);
    EXPECT_EQ(texts[0], "short");
    EXPECT_EQ(texts[1], "b");
}

TEST(RegReferenceNode, ResizeRecordsOnlyTheSize)
{
    int32_t values[4] = {1, 2, 3, 4};
    auto node = MakeKind<ireg::RegReferenceNode<int32_t>>("a", size_t(4), values, mci::Flags(6));
    ASSERT_TRUE(node->Resize(2));
    EXPECT_EQ(node->GetSize(), 2u);
    std::vector<int32_t> all;
    node->Get(all, 0, 0, c_noRelPath);
    EXPECT_EQ(all, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(ErrorOf([&] { node->Set(int32_t(9), 2, c_noRelPath); }), "ireg: a: Position out of range");
    EXPECT_EQ(values[2], 3);
    EXPECT_EQ(values[3], 4);
}

TEST(RegReferenceNode, EqualityByKindNameAndAddress)
{
    int32_t first = 0;
    int32_t second = 0;
    auto node = MakeKind<ireg::RegReferenceNode<int32_t>>("x", first);
    EXPECT_TRUE(*node == *MakeKind<ireg::RegReferenceNode<int32_t>>("x", size_t(1), &first, mci::Flags(2)));
    EXPECT_FALSE(*node == *MakeKind<ireg::RegReferenceNode<int32_t>>("x", second));
    EXPECT_FALSE(*node == *MakeKind<ireg::RegReferenceNode<int32_t>>("y", first));
    volatile int32_t& asVolatile = first;
    using VolatileInt = ireg::RegReferenceNode<int32_t, volatile int32_t>;
    EXPECT_FALSE(*node == *MakeKind<VolatileInt>("x", asVolatile));
    EXPECT_FALSE(*node == *MakeKind<ireg::RegValueNode<int32_t>>("x", 0));
}

// Register words flush against an inaccessible page on either side: reading and writing every
// element, and any run of them, touches nothing beyond the node's words.
template <class W>
void ExerciseGuardedWords(volatile W* words, size_t count)
{
    auto node = MakeKind<ireg::RegReferenceNode<W, volatile W>>("r", count, words, mci::Flags(6));
    std::vector<W> values(count);
    for (size_t i = 0; i < count; ++i) {
        values[i] = static_cast<W>(0x1111111111111111ull * (i + 1));
    }
    node->Set(values, 0, c_noRelPath);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(words[i], values[i]);
    }
    for (size_t pos = 0; pos < count; ++pos) {
        std::vector<W> read;
        node->Get(read, pos, count, c_noRelPath); // more than remains: what remains
        EXPECT_EQ(read, std::vector<W>(values.begin() + static_cast<std::ptrdiff_t>(pos), values.end()));
        node->Set(W(7), pos, c_noRelPath);
        values[pos] = W(7);
    }
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<W>(2, W(1)), count - 1, c_noRelPath); }), "ireg: r: Size too large");
    W last{};
    node->Get(last, count - 1, c_noRelPath);
    EXPECT_EQ(last, W(7));
}

TEST(RegReferenceNode, VolatileWordsBetweenGuardPages)
{
    ExerciseGuardedWords(GuardedPages(4096).WordsAtEnd<uint32_t>(5), 5);
    ExerciseGuardedWords(GuardedPages(4096).WordsAtStart<uint32_t>(), 5);
    ExerciseGuardedWords(GuardedPages(4096).WordsAtEnd<int64_t>(3), 3);
    ExerciseGuardedWords(GuardedPages(4096).WordsAtStart<uint64_t>(), 3);
    ExerciseGuardedWords(GuardedPages(4096).WordsAtEnd<int32_t>(1), 1);
}

// Through a register model every access is seen: each addressed word once, in ascending order,
// nothing else.
TEST(RegReferenceNode, VolatileWordsAreAccessedOnceEachInOrder)
{
    GuardedPages pages(4096);
    volatile uint32_t* words = pages.WordsAtStart<uint32_t>();
    auto model = std::make_shared<RecordingModel>();
    const devio::RangeClaim claim(words, 4 * sizeof(uint32_t), model);
    using Access = RecordingModel::Access;

    auto node = MakeKind<ireg::RegReferenceNode<uint32_t, volatile uint32_t>>("r", size_t(4), words, mci::Flags(6));
    node->Set(std::vector<uint32_t>{10, 20}, 1, c_noRelPath);
    EXPECT_EQ(model->TakeLog(), (std::vector<Access>{{'w', 4, 10}, {'w', 8, 20}}));
    std::vector<uint32_t> read;
    node->Get(read, 1, 2, c_noRelPath);
    EXPECT_EQ(read, (std::vector<uint32_t>{10, 20}));
    EXPECT_EQ(model->TakeLog(), (std::vector<Access>{{'r', 4, 10}, {'r', 8, 20}}));
    EXPECT_EQ(words[1], 0u); // served by the model, not memory

    // Memory outside the claimed range is memory.
    auto outside = MakeKind<ireg::RegReferenceNode<uint32_t, volatile uint32_t>>("o", words[5]);
    outside->Set(uint32_t(99), 0, c_noRelPath);
    EXPECT_EQ(words[5], 99u);
    EXPECT_TRUE(model->TakeLog().empty());

    // A 64-bit word is one access of the model.
    volatile uint64_t* wide = pages.WordsAtEnd<uint64_t>(2);
    auto wideModel = std::make_shared<RecordingModel>();
    const devio::RangeClaim wideClaim(wide, 2 * sizeof(uint64_t), wideModel);
    auto wideNode = MakeKind<ireg::RegReferenceNode<int64_t, volatile int64_t>>(
        "w", size_t(2), reinterpret_cast<volatile int64_t*>(wide), mci::Flags(6));
    wideNode->Set(int64_t(-2), 1, c_noRelPath);
    int64_t value = 0;
    wideNode->Get(value, 1, c_noRelPath);
    EXPECT_EQ(value, -2);
    EXPECT_EQ(wideModel->TakeLog(), (std::vector<Access>{{'w', 8, uint64_t(-2)}, {'r', 8, uint64_t(-2)}}));
}

} // namespace
