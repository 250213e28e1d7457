// String nodes over fixed-size character fields: what a write stores (all fields or none, one
// NUL, the bytes behind it kept), reads that never pass a field's end, and equality by base.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/ireg_kinds_util.h"
#include "ireg/reg_reference_cstring_node.h"
#include "ireg/reg_reference_node.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::GuardedPages;
using iregtest::MakeKind;
using ireg::RegReferenceCStringNode;
using mci::c_noRelPath;

namespace {

// Three fields of 8 bytes, each "<i>.....\0" before a write: field i holds "i" followed by
// five dots that the terminator written by a shorter string leaves in place.
std::string Fields() { return std::string("0.....\0\0" "1.....\0\0" "2.....\0\0", 24); }

struct SetCase {
    const char* what;
    size_t pos;
    std::vector<std::string> values;
    std::string error;  // "" when accepted
    std::string fields; // the 24 bytes after the write
};

TEST(RegReferenceCStringNode, Writes)
{
    const std::string tooLong = "ireg: s: String too long.";
    const SetCase cases[] = {
        {"fits", 0, {"abc"}, "", std::string("abc\0..\0\0" "1.....\0\0" "2.....\0\0", 24)},
        {"exactly full", 1, {"abcdefg"}, "", std::string("0.....\0\0" "abcdefg\0" "2.....\0\0", 24)},
        {"one too long", 1, {"abcdefgh"}, tooLong, Fields()},
        {"the second of three too long", 0, {"a", "abcdefghi", "b"}, tooLong, Fields()},
        {"all three", 0, {"x", "", "yz"}, "", std::string("x\0....\0\0" "\0.....\0\0" "yz\0...\0\0", 24)},
        {"the last field only", 2, {"z"}, "", std::string("0.....\0\0" "1.....\0\0" "z\0....\0\0", 24)},
        {"a value counts up to its NUL", 0, {std::string("ab\0cdefghijk", 12)}, "",
         std::string("ab\0...\0\0" "1.....\0\0" "2.....\0\0", 24)},
        {"past the last field", 2, {"a", "b"}, "ireg: s: Size too large", Fields()},
        {"nothing", 1, {}, "", Fields()},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string memory = Fields();
        auto node = MakeKind<RegReferenceCStringNode>("s", 8, memory.data(), mci::Flags(6), 3);
        EXPECT_EQ(ErrorOf([&] { node->Set(c.values, c.pos, c_noRelPath); }), c.error.empty() ? "no error" : c.error);
        EXPECT_EQ(memory, c.fields);
    }
}

TEST(RegReferenceCStringNode, ReadsEachFieldUpToItsTerminator)
{
    std::string memory = std::string("first\0zz" "second\0z" "\0ignored", 24);
    auto node = MakeKind<RegReferenceCStringNode>("s", 8, memory.data(), mci::Flags(6), 3);
    EXPECT_EQ(node->GetValueType(), mci::enums::eString);
    EXPECT_EQ(node->GetSize(), 3u);
    EXPECT_EQ(node->GetFlags(), 6u); // the array flag is the builder's to add, not the node's
    std::vector<std::string> values;
    node->Get(values, 1, 2, c_noRelPath);
    EXPECT_EQ(values, (std::vector<std::string>{"second", ""}));
    std::string one;
    node->Get(one, 0, c_noRelPath);
    EXPECT_EQ(one, "first");
    // A scalar node holds one field, and cannot be resized over memory it does not own.
    auto scalar = MakeKind<RegReferenceCStringNode>("t", 8, memory.data());
    EXPECT_EQ(scalar->GetSize(), 1u);
    EXPECT_FALSE(scalar->Resize(4));
    EXPECT_EQ(ErrorOf([&] { scalar->Set(int32_t(1), 0, c_noRelPath); }),
              "ireg: t: t: unsupported argument type while setting a node value");
}

TEST(RegReferenceCStringNode, AFieldWithoutTerminatorReadsToItsEndOnly)
{
    // The field ends at an inaccessible page: one byte read past it crashes the test.
    GuardedPages pages(8);
    char* field = pages.End() - 8;
    std::memcpy(field, "ABCDEFGH", 8);
    auto node = MakeKind<RegReferenceCStringNode>("s", 8, field);
    std::string value;
    node->Get(value, 0, c_noRelPath);
    EXPECT_EQ(value, "ABCDEFGH");
    // A write into the last field ends with its terminator on the field's last byte.
    node->Set(std::string("1234567"), 0, c_noRelPath);
    EXPECT_EQ(std::string(field, 8), std::string("1234567\0", 8));
}

TEST(RegReferenceCStringNode, EqualByBaseAndName)
{
    char a[32] = {};
    char b[32] = {};
    auto node = MakeKind<RegReferenceCStringNode>("s", 8, a, mci::Flags(6), 4);
    EXPECT_TRUE(*node == *MakeKind<RegReferenceCStringNode>("s", 16, a, mci::Flags(2), 1));
    EXPECT_FALSE(*node == *MakeKind<RegReferenceCStringNode>("s", 8, b, mci::Flags(6), 4));
    EXPECT_FALSE(*node == *MakeKind<RegReferenceCStringNode>("other", 8, a, mci::Flags(6), 4));
    std::string text;
    EXPECT_FALSE(*node == *MakeKind<ireg::RegReferenceNode<std::string>>("s", text));
}

} // namespace
