// Value nodes: construction forms, flags, resizing and the bit-wise storage of bools.

#include <gtest/gtest.h>

#include "common/ireg_test_util.h"
#include "ireg/reg_value_node.h"
#include "tests/support/error_of.h"

using iregtest::Make;
using mci::c_noRelPath;

namespace {

template <class T>
std::vector<T> All(const mci::TreeNodePtr& node)
{
    std::vector<T> out;
    node->Get(out, 0, 0, c_noRelPath);
    return out;
}

TEST(RegValueNode, ConstructionFormsAndFlags)
{
    auto scalar = Make<ireg::RegValueNode<int32_t>>("s", 7);
    EXPECT_EQ(scalar->GetFlags(), 6u);
    EXPECT_EQ(All<int32_t>(scalar), std::vector<int32_t>{7});

    auto persistent = Make<ireg::RegValueNode<int32_t>>("p", 7, mci::Flags(0x2A));
    EXPECT_EQ(persistent->GetFlags(), 0x2Au); // the caller's flags unchanged

    auto sized = Make<ireg::RegValueNode<std::string>>("t", size_t(3), std::string("a"), mci::Flags(6));
    EXPECT_EQ(sized->GetFlags(), 0x206u);
    EXPECT_EQ(All<std::string>(sized), (std::vector<std::string>{"a", "a", "a"}));

    auto none = Make<ireg::RegValueNode<double>>("z", size_t(0), 1.0, mci::Flags(6));
    EXPECT_EQ(none->GetSize(), 0u);
    EXPECT_TRUE(none->IsArray());

    auto empty = Make<ireg::RegValueNode<uint32_t>>("e", std::vector<uint32_t>{}, mci::Flags(2));
    EXPECT_EQ(empty->GetSize(), 0u);
    EXPECT_EQ(empty->GetFlags(), 0x202u);

    // The factory passes flags given as int, sign-extended, as the signal node does.
    auto fromInt = mci::factory::Create<ireg::RegValueNode<uint32_t>>("i", 5u, 0x22);
    EXPECT_EQ(fromInt->GetFlags(), 0x22u);
}

TEST(RegValueNode, ValueTypeCodes)
{
    EXPECT_EQ(Make<ireg::RegValueNode<bool>>("n", true)->GetValueType(), mci::enums::eBool);
    EXPECT_EQ(Make<ireg::RegValueNode<int32_t>>("n", 0)->GetValueType(), mci::enums::eInt32);
    EXPECT_EQ(Make<ireg::RegValueNode<uint32_t>>("n", 0u)->GetValueType(), mci::enums::eUInt32);
    EXPECT_EQ(Make<ireg::RegValueNode<int64_t>>("n", int64_t(0))->GetValueType(), mci::enums::eInt64);
    EXPECT_EQ(Make<ireg::RegValueNode<uint64_t>>("n", uint64_t(0))->GetValueType(), mci::enums::eUInt64);
    EXPECT_EQ(Make<ireg::RegValueNode<double>>("n", 0.0)->GetValueType(), mci::enums::eDouble);
    EXPECT_EQ(Make<ireg::RegValueNode<float>>("n", 0.0f)->GetValueType(), mci::enums::eFloat);
    EXPECT_EQ(Make<ireg::RegValueNode<std::string>>("n", std::string())->GetValueType(), mci::enums::eString);
}

TEST(RegValueNode, ResizeKeepsValuesAndTheArrayFlag)
{
    auto scalar = Make<ireg::RegValueNode<int32_t>>("s", 7);
    EXPECT_TRUE(scalar->Resize(3));
    EXPECT_EQ(All<int32_t>(scalar), (std::vector<int32_t>{7, 0, 0}));
    EXPECT_FALSE(scalar->IsArray());

    auto strings = Make<ireg::RegValueNode<std::string>>("t", std::vector<std::string>{"a", "b", "c", "d"}, mci::Flags(6));
    EXPECT_TRUE(strings->Resize(2));
    EXPECT_EQ(All<std::string>(strings), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(strings->Resize(4));
    EXPECT_EQ(All<std::string>(strings), (std::vector<std::string>{"a", "b", "", ""}));
    EXPECT_TRUE(strings->Resize(1));
    EXPECT_TRUE(strings->IsArray());
}

TEST(RegValueNode, BoolsAreStoredBitByBit)
{
    auto bits = Make<ireg::RegValueNode<bool>>("b", size_t(8), false, mci::Flags(6));
    bits->Set(std::vector<bool>{true, false, true}, 5, c_noRelPath);
    EXPECT_EQ(All<bool>(bits), (std::vector<bool>{false, false, false, false, false, true, false, true}));
    std::vector<bool> slice;
    bits->Get(slice, 5, 3, c_noRelPath);
    EXPECT_EQ(slice, (std::vector<bool>{true, false, true}));
    bool one = false;
    bits->Get(one, 7, c_noRelPath);
    EXPECT_TRUE(one);
}

// Over an enumeration the node keeps its values as the enumeration and offers the hooks of
// that type; the value type is left to the enumeration node.
enum class Mode_e : int32_t { eOff = 0, eOn = 5 };

TEST(RegValueNode, OverAnEnumerationTheStorageHooksTakeTheEnumeration)
{
    auto node = Make<ireg::RegValueNode<Mode_e>>("m", size_t(2), Mode_e::eOn, mci::Flags(6));
    EXPECT_EQ(node->GetValueType(), mci::enums::eNone);
    const Mode_e in[] = {Mode_e::eOff};
    node->OnSet(in, 1, 1);
    Mode_e out[2] = {};
    EXPECT_EQ(node->OnGet(out, 0, 2), 2u);
    EXPECT_EQ(out[0], Mode_e::eOn);
    EXPECT_EQ(out[1], Mode_e::eOff);
    EXPECT_EQ(testsupport::ErrorOf([&] { node->Set(1, 0, c_noRelPath); }),
              "ireg: m: m: unsupported argument type while setting a node value");
}

} // namespace
