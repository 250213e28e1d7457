// Bit-field nodes: the construction checks, reading and writing fields of every geometry and sign
// with the range errors, refusing a value the word type would cut, one read and one write of each
// addressed word and nothing else (register model, guard pages), equality, and the enumeration
// bit node.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/ireg_kinds_util.h"
#include "common/ireg_test_util.h"
#include "ireg/reg_reference_bit_node.h"
#include "istd/convert.h"
#include "istd/trace.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::GuardedPages;
using iregtest::MakeKind;
using iregtest::RecordingModel;
using mci::c_noRelPath;
using Access = RecordingModel::Access;

namespace {

template <class AT, class W>
using BitNode = ireg::RegReferenceBitNode<AT, volatile W>;

template <class AT, class W>
std::string Construct(unsigned offset, unsigned size)
{
    volatile W word = 0;
    return ErrorOf([&] { MakeKind<BitNode<AT, W>>("f", word, offset, size); });
}

struct CheckCase {
    std::string (*construct)(unsigned, unsigned);
    const char* what;
    unsigned offset;
    unsigned size;
    std::string error; // "" when accepted
};

TEST(RegReferenceBitNode, ConstructionChecks)
{
    const std::string c_outside = "size and offset are out of range";
    const std::string c_zero = "size could not be zero";
    const std::string c_wide = "size is of range";
    const std::vector<CheckCase> cases = {
        {Construct<uint32_t, uint32_t>, "u32 in 32", 28, 4, ""},
        {Construct<uint32_t, uint32_t>, "u32 in 32", 29, 4, c_outside},
        {Construct<uint32_t, uint32_t>, "u32 in 32", 0, 0, c_zero},
        {Construct<uint32_t, uint32_t>, "u32 in 32", 40, 0, c_outside}, // the sum is tested first
        {Construct<uint32_t, uint32_t>, "u32 in 32", 0, 32, ""},
        {Construct<uint32_t, uint32_t>, "u32 in 32", 300, 1, c_outside}, // not taken as 300 mod 256
        {Construct<uint32_t, uint32_t>, "u32 in 32", 1, 0xFFFFFFFF, c_outside}, // no wrap-around
        {Construct<bool, uint64_t>, "bool in 64", 0, 9, c_wide},
        {Construct<bool, uint64_t>, "bool in 64", 56, 8, ""},
        {Construct<uint32_t, uint64_t>, "u32 in 64", 0, 33, c_wide},
        {Construct<uint32_t, uint64_t>, "u32 in 64", 32, 32, ""},
        {Construct<uint32_t, uint64_t>, "u32 in 64", 33, 32, c_outside},
        {Construct<int64_t, uint64_t>, "i64 in 64", 0, 64, ""},
        {Construct<istd::TraceLevel_e, uint64_t>, "enum in 64", 0, 33, c_wide},
        {Construct<istd::TraceLevel_e, uint64_t>, "enum in 64", 32, 32, ""},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " offset " + std::to_string(c.offset) + " size " + std::to_string(c.size));
        EXPECT_EQ(c.construct(c.offset, c.size), c.error.empty() ? "no error" : c.error);
    }
}

// One write into a word flush against a guard page, and what the word and the node hold after.
struct FieldCase {
    const char* what;
    unsigned offset;
    unsigned size;
    uint64_t preset;
    uint64_t write;     // as AT: two's complement for signed types
    std::string error;  // "" when accepted
    uint64_t wordAfter; // the preset when refused
    uint64_t readAfter; // as AT
};

template <class AT, class W>
void RunFieldCase(const FieldCase& c)
{
    SCOPED_TRACE(c.what);
    GuardedPages pages(sizeof(W));
    volatile W* word = pages.WordsAtEnd<W>(1);
    *word = static_cast<W>(c.preset);
    auto node = MakeKind<BitNode<AT, W>>("f", *word, c.offset, c.size);
    EXPECT_EQ(node->GetFlags(), 6u);
    EXPECT_EQ(ErrorOf([&] { node->Set(static_cast<AT>(c.write), 0, c_noRelPath); }),
              c.error.empty() ? "no error" : c.error);
    EXPECT_EQ(uint64_t(*word), c.wordAfter);
    AT read{};
    node->Get(read, 0, c_noRelPath);
    EXPECT_EQ(read, static_cast<AT>(c.readAfter));
}

TEST(RegReferenceBitNode, FieldsSignsAndRanges)
{
    const uint64_t c_all64 = ~uint64_t(0);
    // Unsigned, 3 bits at 4 of a word set everywhere else.
    RunFieldCase<uint32_t, uint32_t>({"u32 writes only its field", 4, 3, 0xFFFFFF8F, 5, "", 0xFFFFFFDF, 5});
    RunFieldCase<uint32_t, uint32_t>({"u32 too large", 4, 3, 0xFFFFFFDF, 8, "ireg: f: Too large value.8 for node f",
                                      0xFFFFFFDF, 5});
    RunFieldCase<uint32_t, uint32_t>({"u32 whole word", 0, 32, 0, 0xFFFFFFFF, "", 0xFFFFFFFF, 0xFFFFFFFF});
    RunFieldCase<uint32_t, uint64_t>({"u32 across the halves", 30, 4, 0, 0xF, "", 0x3C0000000, 0xF});
    RunFieldCase<uint64_t, uint64_t>({"u64 whole word", 0, 64, 0, c_all64, "", c_all64, c_all64});
    // bool: any bit reads true, a write stores 1 or 0.
    RunFieldCase<bool, uint32_t>({"bool true", 0, 3, 0b100, 1, "", 0b001, 1});
    RunFieldCase<bool, uint32_t>({"bool false", 0, 3, 0b110, 0, "", 0b000, 0});
    RunFieldCase<bool, uint64_t>({"bool top bit", 63, 1, 0, 1, "", uint64_t(1) << 63, 1});
    // Signed: the top bit of the field extends.
    RunFieldCase<int32_t, uint32_t>({"i32 reads -2", 8, 4, 0xE00, uint64_t(-2), "", 0xE00, uint64_t(-2)});
    RunFieldCase<int32_t, uint32_t>({"i32 lowest", 8, 4, 0xF00, uint64_t(-8), "", 0x800, uint64_t(-8)});
    RunFieldCase<int32_t, uint32_t>({"i32 too high", 8, 4, 0x100, 8, "ireg: f: Value 8 is out of range for node f",
                                     0x100, 1});
    RunFieldCase<int32_t, uint32_t>({"i32 too low", 8, 4, 0x100, uint64_t(-9),
                                     "ireg: f: Value -9 is out of range for node f", 0x100, 1});
    RunFieldCase<int32_t, uint32_t>({"i32 whole word", 0, 32, 0, uint64_t(int64_t(INT32_MIN)), "", 0x80000000,
                                     uint64_t(int64_t(INT32_MIN))});
    RunFieldCase<int64_t, uint64_t>({"i64 whole word", 0, 64, 0, uint64_t(INT64_MIN), "", uint64_t(INT64_MIN),
                                     uint64_t(INT64_MIN)});
    // A 64-bit value is checked as it is, not as the 32-bit word would cut it.
    RunFieldCase<uint64_t, uint32_t>({"u64 beyond a 32-bit word", 0, 32, 7, uint64_t(1) << 32,
                                      "ireg: f: Too large value.4294967296 for node f", 7, 7});
    RunFieldCase<uint64_t, uint32_t>({"u64 within a 32-bit word", 0, 32, 7, 0xFFFFFFFF, "", 0xFFFFFFFF, 0xFFFFFFFF});
    RunFieldCase<int64_t, uint32_t>({"i64 beyond a 32-bit word", 0, 32, 7, uint64_t(1) << 31,
                                     "ireg: f: Value 2147483648 is out of range for node f", 7, 7});
    RunFieldCase<int64_t, uint32_t>({"i64 lowest of a 32-bit word", 0, 32, 7, uint64_t(int64_t(INT32_MIN)), "",
                                     0x80000000, uint64_t(int64_t(INT32_MIN))});
}

// The signed kinds over a 32-bit register word (the kinds a runtime description makes): the
// limits of 1-, 8- and 32-bit fields, with the bits outside the field kept.
template <class AT>
void RunSignedLimits()
{
    SCOPED_TRACE(istd::CppName<AT>());
    const uint64_t c_minus1 = uint64_t(-1);
    const std::string c_range = "ireg: f: Value ";
    const uint64_t c_bits = 0x5A5A5A5A; // bit 31 clear, 0x5A in bits 8 to 15
    RunFieldCase<AT, uint32_t>({"1 bit: -1", 31, 1, c_bits, c_minus1, "", 0xDA5A5A5A, c_minus1});
    RunFieldCase<AT, uint32_t>({"1 bit: 0", 31, 1, 0xDA5A5A5A, 0, "", c_bits, 0});
    RunFieldCase<AT, uint32_t>({"1 bit: 1", 31, 1, c_bits, 1, c_range + "1 is out of range for node f", c_bits, 0});
    RunFieldCase<AT, uint32_t>(
        {"1 bit: -2", 31, 1, c_bits, uint64_t(-2), c_range + "-2 is out of range for node f", c_bits, 0});
    RunFieldCase<AT, uint32_t>({"8 bits: 127", 8, 8, c_bits, 127, "", 0x5A5A7F5A, 127});
    RunFieldCase<AT, uint32_t>({"8 bits: -128", 8, 8, c_bits, uint64_t(-128), "", 0x5A5A805A, uint64_t(-128)});
    RunFieldCase<AT, uint32_t>({"8 bits: 128", 8, 8, c_bits, 128, c_range + "128 is out of range for node f", c_bits,
                                0x5A});
    RunFieldCase<AT, uint32_t>({"8 bits: -129", 8, 8, c_bits, uint64_t(-129),
                                c_range + "-129 is out of range for node f", c_bits, 0x5A});
    RunFieldCase<AT, uint32_t>({"32 bits: -1", 0, 32, c_bits, c_minus1, "", 0xFFFFFFFF, c_minus1});
    RunFieldCase<AT, uint32_t>({"32 bits: highest", 0, 32, c_bits, INT32_MAX, "", 0x7FFFFFFF, INT32_MAX});
    RunFieldCase<AT, uint32_t>({"32 bits: lowest", 0, 32, c_bits, uint64_t(int64_t(INT32_MIN)), "", 0x80000000,
                                uint64_t(int64_t(INT32_MIN))});
}

TEST(RegReferenceBitNode, SignedLimitsInA32BitWord)
{
    RunSignedLimits<int32_t>();
    RunSignedLimits<int64_t>();
    // A 64-bit value whose low 32 bits would fit is still refused: 2^32 + 1 is not 1.
    RunFieldCase<int64_t, uint32_t>({"2^32 + 1 in 8 bits", 8, 8, 0x5A5A5A5A, (uint64_t(1) << 32) + 1,
                                     "ireg: f: Value 4294967297 is out of range for node f", 0x5A5A5A5A, 0x5A});
    RunFieldCase<int64_t, uint32_t>({"below a 32-bit field", 0, 32, 7, uint64_t(int64_t(INT32_MIN) - 1),
                                     "ireg: f: Value -2147483649 is out of range for node f", 7, 7});
}

TEST(RegReferenceBitNode, Masks)
{
    volatile uint64_t word = 0;
    auto narrow = MakeKind<BitNode<uint32_t, uint64_t>>("n", word, 5, 3);
    EXPECT_EQ(narrow->GetBitMask(), 7u);
    EXPECT_EQ(narrow->GetMSBMask(), 4u);
    auto wide = MakeKind<BitNode<uint64_t, uint64_t>>("w", word, 0, 64);
    EXPECT_EQ(wide->GetBitMask(), ~uint64_t(0));
    EXPECT_EQ(wide->GetMSBMask(), uint64_t(1) << 63);
    EXPECT_NO_THROW(wide->SanityCheck());
}

// Through a register model: a refused run touches no word; an accepted one reads and writes each
// addressed word once, in order, and no other.
TEST(RegReferenceBitNode, EachWordReadAndWrittenOnce)
{
    GuardedPages pages(4096);
    volatile uint32_t* words = pages.WordsAtStart<uint32_t>();
    auto model = std::make_shared<RecordingModel>();
    const devio::RangeClaim claim(words, 4 * sizeof(uint32_t), model);
    for (size_t i = 0; i < 4; ++i) {
        model->Preset(4 * i, 0xF0);
    }

    auto node = MakeKind<BitNode<uint32_t, uint32_t>>("a", size_t(4), words, 1u, 3u, mci::Flags(6));
    EXPECT_EQ(node->GetFlags(), 0x206u);
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<uint32_t>{1, 9, 2}, 0, c_noRelPath); }),
              "ireg: a: Too large value.9 for node a");
    EXPECT_TRUE(model->TakeLog().empty());

    node->Set(std::vector<uint32_t>{5, 2}, 1, c_noRelPath);
    EXPECT_EQ(model->TakeLog(), (std::vector<Access>{{'r', 4, 0xF0}, {'w', 4, 0xFA}, {'r', 8, 0xF0}, {'w', 8, 0xF4}}));
    // The same value again still writes the word.
    node->Set(uint32_t(5), 1, c_noRelPath);
    EXPECT_EQ(model->TakeLog(), (std::vector<Access>{{'r', 4, 0xFA}, {'w', 4, 0xFA}}));

    std::vector<uint32_t> read;
    node->Get(read, 1, 2, c_noRelPath);
    EXPECT_EQ(read, (std::vector<uint32_t>{5, 2}));
    EXPECT_EQ(model->TakeLog(), (std::vector<Access>{{'r', 4, 0xFA}, {'r', 8, 0xF4}}));

    ASSERT_TRUE(node->Resize(3));
    EXPECT_EQ(node->GetSize(), 3u);
    EXPECT_TRUE(model->TakeLog().empty());
}

// Fields of word arrays flush against a guard page on either side.
template <class AT, class W>
void ExerciseGuardedFields(volatile W* words, size_t count)
{
    auto node = MakeKind<BitNode<AT, W>>("g", count, words, 3u, 5u, mci::Flags(6));
    std::vector<AT> values(count);
    for (size_t i = 0; i < count; ++i) {
        values[i] = static_cast<AT>(i % 2 == 0 ? 1 : 0);
    }
    node->Set(values, 0, c_noRelPath);
    for (size_t pos = 0; pos < count; ++pos) {
        std::vector<AT> read;
        node->Get(read, pos, count, c_noRelPath);
        EXPECT_EQ(read, std::vector<AT>(values.begin() + static_cast<std::ptrdiff_t>(pos), values.end()));
    }
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(uint64_t(words[i]), i % 2 == 0 ? 8u : 0u);
    }
}

TEST(RegReferenceBitNode, WordArraysBetweenGuardPages)
{
    ExerciseGuardedFields<uint32_t, uint32_t>(GuardedPages(4096).WordsAtEnd<uint32_t>(5), 5);
    ExerciseGuardedFields<int32_t, uint32_t>(GuardedPages(4096).WordsAtStart<uint32_t>(), 5);
    ExerciseGuardedFields<bool, uint64_t>(GuardedPages(4096).WordsAtEnd<uint64_t>(3), 3);
    ExerciseGuardedFields<uint32_t, uint64_t>(GuardedPages(4096).WordsAtStart<uint64_t>(), 3);
}

TEST(RegReferenceBitNode, Equality)
{
    volatile uint32_t word = 0;
    volatile uint32_t other = 0;
    using U32 = BitNode<uint32_t, uint32_t>;
    using Flag = BitNode<bool, uint32_t>;
    using Whole = ireg::RegReferenceNode<uint32_t, volatile uint32_t>;
    auto node = MakeKind<U32>("x", word, 4, 3);
    EXPECT_TRUE(*node == *MakeKind<U32>("x", size_t(2), &word, 4u, 3u, mci::Flags(2)));
    EXPECT_FALSE(*node == *MakeKind<U32>("x", word, 5, 3));
    EXPECT_FALSE(*node == *MakeKind<U32>("x", word, 4, 2));
    EXPECT_FALSE(*node == *MakeKind<U32>("x", other, 4, 3));
    EXPECT_FALSE(*node == *MakeKind<Flag>("x", word, 4, 3));
    EXPECT_FALSE(*node == *MakeKind<Whole>("x", word));
}

TEST(RegReferenceEnumBitNode, CodesOfAFieldByName)
{
    using LevelBits = ireg::RegReferenceEnumBitNode<istd::TraceLevel_e, volatile uint64_t>;
    GuardedPages pages(4096);
    volatile uint64_t* word = pages.WordsAtEnd<uint64_t>(1);
    auto model = std::make_shared<RecordingModel>();
    const devio::RangeClaim claim(word, sizeof(uint64_t), model);
    model->Preset(0, 0xFF00FF);

    auto node = MakeKind<LevelBits>("e", *word, 8, 3);
    EXPECT_EQ(node->GetFlags(), 6u);
    EXPECT_EQ(node->GetValueType(), mci::enums::eEnumeration);
    std::vector<std::string> domain;
    node->GetDomainValues(domain);
    EXPECT_EQ(domain.size(), 6u);

    node->Set(std::string("detail"), 0, c_noRelPath);
    EXPECT_EQ(model->Word(0), 0xFF04FFu);
    std::string name;
    node->Get(name, 0, c_noRelPath);
    EXPECT_EQ(name, "detail");
    int64_t code = 0;
    node->Get(code, 0, c_noRelPath);
    EXPECT_EQ(code, 4);
    node->Set(istd::eTraceError, 0, c_noRelPath);
    EXPECT_EQ(model->Word(0), 0xFF01FFu);
    model->TakeLog();

    // Refused by the table or by the number's form before any word is touched.
    EXPECT_EQ(ErrorOf([&] { node->Set(std::string("loud"), 0, c_noRelPath); }), "ireg: e: Invalid integer value");
    EXPECT_EQ(ErrorOf([&] { node->Set(std::string("6"), 0, c_noRelPath); }), "ireg: e: Invalid enum value");
    EXPECT_EQ(ErrorOf([&] { node->Set(int64_t(1) << 32 | 4, 0, c_noRelPath); }), "ireg: e: invalid value");
    EXPECT_TRUE(model->TakeLog().empty());

    // A code the table lacks fails the read.
    model->Preset(0, 0x700);
    EXPECT_EQ(ErrorOf([&] { node->Get(name, 0, c_noRelPath); }), "ireg node e: invalid value");

    // A code of the table that does not fit the field: the field's range error.
    auto narrow = MakeKind<LevelBits>("n", *word, 0, 2, mci::Flags(0x0E));
    EXPECT_EQ(narrow->GetFlags(), 0x0Eu);
    EXPECT_EQ(ErrorOf([&] { narrow->Set(std::string("scope"), 0, c_noRelPath); }), "ireg: n: Too large value.5 for node n");
}

} // namespace
