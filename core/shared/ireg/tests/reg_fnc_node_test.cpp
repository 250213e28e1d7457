// Function nodes: which function a read or write calls (and how often, with which position and
// count), the flags of the member-function forms with 0 for a missing function, both argument
// shapes of the array functions, and the failure texts.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/ireg_kinds_util.h"
#include "common/ireg_test_util.h"
#include "ireg/reg_fnc_node.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::MakeKind;
using mci::c_noRelPath;

namespace {

using IntFnc = ireg::RegFncNode<int32_t>;

// A component with its settings behind member functions, as a chip driver has them.
struct Component {
    int32_t value = 5;
    bool accept = true;
    int gets = 0;
    int sets = 0;
    std::vector<int32_t> table = std::vector<int32_t>(16, 0);
    size_t lastPos = 0;
    size_t lastCount = 0;
    size_t deliver = 0; // values an array getter delivers; 0 means all asked for

    bool Set(const int32_t& v)
    {
        ++sets;
        value = v;
        return accept;
    }
    bool Get(int32_t& v) const
    {
        ++const_cast<Component*>(this)->gets;
        v = value;
        return accept;
    }
    bool GetMutable(int32_t& v) { return Get(v); }

    template <class P, class N>
    bool SetTable(const int32_t* values, P pos, N count)
    {
        lastPos = pos;
        lastCount = count;
        for (N i = 0; i < count; ++i) {
            table[pos + i] = values[i];
        }
        return accept;
    }
    template <class P, class N>
    N GetTable(int32_t* values, P pos, N count) const
    {
        auto* self = const_cast<Component*>(this);
        self->lastPos = pos;
        self->lastCount = count;
        const N n = deliver != 0 ? static_cast<N>(deliver) : count;
        for (N i = 0; i < n; ++i) {
            values[i] = pos + i < table.size() ? table[pos + i] : -1;
        }
        return accept ? n : 0;
    }
    bool SetU(const int32_t* v, unsigned p, unsigned n) { return SetTable(v, p, n); }
    unsigned GetU(int32_t* v, unsigned p, unsigned n) const { return GetTable(v, p, n); }
    bool SetS(const int32_t* v, size_t p, size_t n) { return SetTable(v, p, n); }
    size_t GetS(int32_t* v, size_t p, size_t n) { return GetTable(v, p, n); }
};

TEST(RegFncNode, ScalarFromFunctionObjects)
{
    int32_t stored = 3;
    int gets = 0;
    bool ok = true;
    auto node = MakeKind<IntFnc>(
        "n", [&](const int32_t& v) { stored = v; return ok; }, [&](int32_t& v) { ++gets; v = stored; return ok; },
        mci::Flags(6));
    int32_t out = 0;
    node->Get(out, 0, c_noRelPath);
    node->Get(out, 0, c_noRelPath);
    EXPECT_EQ(out, 3);
    EXPECT_EQ(gets, 2); // nothing cached
    node->Set(int32_t(8), 0, c_noRelPath);
    EXPECT_EQ(stored, 8);

    ok = false;
    EXPECT_EQ(ErrorOf([&] { node->Set(int32_t(9), 0, c_noRelPath); }), "ireg: n: ireg: Can't set value: setter function failed: n");
    EXPECT_EQ(ErrorOf([&] { node->Get(out, 0, c_noRelPath); }), "ireg node n: Unable to get value.");

    // Resized, the scalar functions still serve position 0 only.
    ok = true;
    ASSERT_TRUE(node->Resize(3));
    node->Get(out, 0, c_noRelPath);
    EXPECT_EQ(ErrorOf([&] { node->Get(out, 2, c_noRelPath); }), "ireg node n: Unable to get value.");
    EXPECT_EQ(ErrorOf([&] { node->Set(int32_t(1), 1, c_noRelPath); }), "ireg: n: ireg: Can't set value: setter function failed: n");
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<int32_t>{1, 2}, 0, c_noRelPath); }),
              "ireg: n: ireg: Can't set value: setter function failed: n");

    // The function-object forms keep the caller's flags, also without a setter.
    auto noSetter = MakeKind<IntFnc>("m", nullptr, [](int32_t& v) { v = 1; return true; }, mci::Flags(6));
    EXPECT_EQ(noSetter->GetFlags(), 6u);
    EXPECT_EQ(ErrorOf([&] { noSetter->Set(int32_t(1), 0, c_noRelPath); }),
              "ireg: m: ireg: Can't set value: setter function failed: m");

    // A getter's or setter's own exception passes on with the operation's prefix.
    auto throwing = MakeKind<IntFnc>(
        "t", [](const int32_t&) -> bool { throw istd::Exception("bus busy", true); },
        [](int32_t&) -> bool { throw istd::Exception("bus gone", true); }, mci::Flags(6));
    EXPECT_EQ(ErrorOf([&] { throwing->Set(int32_t(1), 0, c_noRelPath); }), "ireg: t: bus busy");
    EXPECT_EQ(ErrorOf([&] { throwing->Get(out, 0, c_noRelPath); }), "ireg node t: bus gone");
}

TEST(RegFncNode, ScalarFromMemberFunctions)
{
    Component c;
    auto both = MakeKind<IntFnc>("b", &c, &Component::Set, &Component::Get);
    EXPECT_EQ(both->GetFlags(), 6u);
    both->Set(int32_t(11), 0, c_noRelPath);
    EXPECT_EQ(c.value, 11);
    int32_t out = 0;
    both->Get(out, 0, c_noRelPath);
    EXPECT_EQ(out, 11);

    // A getter alone (given as the literal 0 the factory forwards as int): read-only, and a
    // write is refused before any function runs.
    auto getterOnly = MakeKind<IntFnc>("g", &c, 0, &Component::GetMutable);
    EXPECT_EQ(getterOnly->GetFlags(), 2u);
    const int sets = c.sets;
    EXPECT_EQ(ErrorOf([&] { getterOnly->Set(int32_t(1), 0, c_noRelPath); }), "Node is not writable.");
    EXPECT_EQ(c.sets, sets);
    const int gets = c.gets;
    getterOnly->Get(out, 0, c_noRelPath);
    EXPECT_EQ(c.gets, gets + 1);

    auto setterOnly = MakeKind<IntFnc>("s", &c, &Component::Set, nullptr, mci::Flags(0x0E));
    EXPECT_EQ(setterOnly->GetFlags(), 0x0Cu);
    setterOnly->Set(int32_t(4), 0, c_noRelPath);
    EXPECT_EQ(c.value, 4);
    EXPECT_EQ(c.sets, sets + 1);

    // Any number but 0 in place of a function is a mistake of the caller.
    EXPECT_EQ(ErrorOf([&] { MakeKind<IntFnc>("x", &c, 1, &Component::GetMutable); }),
              "ireg: x: a missing function is given as 0");
}

// Chip wrappers bind array functions that take unsigned or size_t positions and counts.
template <class Shape>
class RegFncNodeArray : public ::testing::Test {};

struct UnsignedShape {
    static constexpr auto c_set = &Component::SetU;
    static constexpr auto c_get = &Component::GetU;
};
struct SizeShape {
    static constexpr auto c_set = &Component::SetS;
    static constexpr auto c_get = &Component::GetS;
};
using Shapes = ::testing::Types<UnsignedShape, SizeShape>;
TYPED_TEST_SUITE(RegFncNodeArray, Shapes);

TYPED_TEST(RegFncNodeArray, MemberFunctionsOfBothArgumentShapes)
{
    Component c;
    auto node = MakeKind<IntFnc>("arr", size_t(16), &c, TypeParam::c_set, TypeParam::c_get);
    EXPECT_EQ(node->GetFlags(), 0x206u);
    EXPECT_EQ(node->GetSize(), 16u);

    node->Set(std::vector<int32_t>{7, 8, 9}, 2, c_noRelPath);
    EXPECT_EQ(c.lastPos, 2u);
    EXPECT_EQ(c.lastCount, 3u);
    EXPECT_EQ(c.table[2], 7);
    EXPECT_EQ(c.table[4], 9);

    // One call with the asked position and count; a getter that delivers fewer gives fewer.
    std::vector<int32_t> out;
    c.deliver = 5;
    node->Get(out, 4, 8, c_noRelPath);
    EXPECT_EQ(c.lastPos, 4u);
    EXPECT_EQ(c.lastCount, 8u);
    EXPECT_EQ(out, (std::vector<int32_t>{9, 0, 0, 0, 0}));
    c.deliver = 0;

    // The scalar typed access reaches the array functions too.
    int32_t one = 0;
    node->Get(one, 3, c_noRelPath);
    EXPECT_EQ(one, 8);

    c.accept = false;
    EXPECT_EQ(ErrorOf([&] { node->Get(out, 0, 0, c_noRelPath); }), "ireg node arr: Unable to get value.");
    EXPECT_EQ(ErrorOf([&] { node->Set(int32_t(1), 0, c_noRelPath); }),
              "ireg: arr: ireg: Can't set value: setter function failed: arr");
    c.accept = true;

    // Resized, every position below the new size reaches the functions.
    ASSERT_TRUE(node->Resize(20));
    node->Get(one, 19, c_noRelPath);
    EXPECT_EQ(c.lastPos, 19u);
    EXPECT_EQ(one, -1);

    auto getterOnly = MakeKind<IntFnc>("ro", size_t(16), &c, 0, TypeParam::c_get);
    EXPECT_EQ(getterOnly->GetFlags(), 0x202u);
    auto setterOnly = MakeKind<IntFnc>("wo", size_t(16), &c, TypeParam::c_set, 0, mci::Flags(0x0E));
    EXPECT_EQ(setterOnly->GetFlags(), 0x20Cu);
}

// A position that an unsigned argument cannot carry fails the call instead of reaching the
// function cut to its low 32 bits.
TEST(RegFncNode, PositionsBeyondTheFunctionsArgumentTypeFail)
{
    Component c;
    auto node = MakeKind<IntFnc>("arr", size_t(16), &c, &Component::SetU, &Component::GetU);
    const size_t far = (size_t(1) << 32) + 2;
    ASSERT_TRUE(node->Resize(far + 1));
    c.lastPos = 99;
    int32_t out = 0;
    EXPECT_EQ(ErrorOf([&] { node->Get(out, far, c_noRelPath); }), "ireg node arr: Unable to get value.");
    EXPECT_EQ(ErrorOf([&] { node->Set(int32_t(1), far, c_noRelPath); }),
              "ireg: arr: ireg: Can't set value: setter function failed: arr");
    EXPECT_EQ(c.lastPos, 99u); // neither function ran
    EXPECT_EQ(c.table[2], 0);

    // The size_t shape takes it.
    auto wide = MakeKind<IntFnc>("wide", far + 1, &c, &Component::SetS, &Component::GetS);
    wide->Get(out, far, c_noRelPath);
    EXPECT_EQ(c.lastPos, far);
}

TEST(RegFncNode, ArrayFromFunctionObjects)
{
    std::vector<std::string> texts{"a", "b", "c"};
    auto node = MakeKind<ireg::RegFncNode<std::string>>(
        "t", size_t(3),
        [&](const std::string* v, size_t pos, size_t count) {
            std::copy_n(v, count, texts.begin() + static_cast<std::ptrdiff_t>(pos));
            return true;
        },
        [&](std::string* v, unsigned pos, unsigned count) {
            std::copy_n(texts.begin() + pos, count, v);
            return count;
        },
        mci::Flags(6));
    EXPECT_EQ(node->GetFlags(), 0x206u);
    EXPECT_EQ(node->GetValueType(), mci::enums::eString);
    node->Set(std::vector<std::string>{"x", "y"}, 1, c_noRelPath);
    std::vector<std::string> out;
    node->Get(out, 0, 0, c_noRelPath);
    EXPECT_EQ(out, (std::vector<std::string>{"a", "x", "y"}));
}

} // namespace
