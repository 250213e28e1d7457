// The range and set validators, on their own and on nodes, and the program-side SetValue with
// its failures traced and its notifications.

#include <gtest/gtest.h>

#include <any>
#include <functional>
#include <stdexcept>
#include <vector>

#include "common/ireg_test_util.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_value_node.h"
#include "ireg/validators.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"

using iregtest::Make;
using iregtest::Recorder;
using ireg::Expr;
using ireg::expr::Range;
using ireg::expr::Set;
using mci::c_noRelPath;
using testsupport::ErrorOf;

namespace {

// Aliases keep the template arguments' commas out of the test macros.
using RangeI32 = Range<int32_t, int32_t>;
using RangeU32 = Range<uint32_t, uint32_t>;
using RangeI64 = Range<int64_t, int64_t>;
using RangeU64 = Range<uint64_t, uint64_t>;
using SetI32 = Set<int32_t, int32_t>;
using SetU32 = Set<uint32_t, uint32_t>;
using SetI64 = Set<int64_t, int64_t>;

TEST(Validators, RangesAndSetsTakeTheirValuesAndReadAsTheirText)
{
    struct Case {
        ireg::ExpressionPtr validator;
        const char* text;
        std::vector<int32_t> accepted;
        std::vector<int32_t> refused;
    };
    const Case cases[] = {
        {Expr<RangeI32>(-32768, 32767), "[-32768, 32767]", {-32768, 0, 32767}, {32768, -32769}},
        {Expr<RangeI32>(5, 5), "[5, 5]", {5}, {4, 6}},
        {Expr<RangeI32>(6, 5), "[6, 5]", {}, {5, 6, 0}},
        {Expr<SetI32>(4, 2, 4, 1), "{1,2,4}", {1, 2, 4}, {3, 0, -4}},
        {Expr<SetI32>(7, -1, 0), "{-1,0,7}", {-1, 0, 7}, {1}},
        {Expr<SetI32>(), "{}", {}, {0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.validator->ToText(), c.text);
        for (int32_t v : c.accepted) {
            EXPECT_TRUE(c.validator->Evaluate(v)) << c.text << " " << v;
        }
        for (int32_t v : c.refused) {
            EXPECT_FALSE(c.validator->Evaluate(v)) << c.text << " " << v;
        }
    }
    auto set = std::static_pointer_cast<SetI32>(Expr<SetI32>(4, 2, 4, 1));
    EXPECT_EQ(set->GetValues().size(), 3u);
}

// The instantiations the components make, from the argument types they pass; the bounds arrive
// converted and the full width of each type is kept.
TEST(Validators, EveryWidthKeepsItsBounds)
{
    EXPECT_EQ(Expr<RangeI32>(-1, 10u)->ToText(), "[-1, 10]");
    EXPECT_EQ(Expr<RangeU32>(0, 4095)->ToText(), "[0, 4095]");
    EXPECT_EQ(Expr<RangeU32>(1u, 4294967295u)->ToText(), "[1, 4294967295]");
    EXPECT_EQ(Expr<RangeU32>(0, 255u)->ToText(), "[0, 255]");
    EXPECT_EQ(Expr<RangeI64>(-5, 4294967295u)->ToText(), "[-5, 4294967295]");
    EXPECT_EQ(Expr<RangeU64>(0, 4294967295u)->ToText(), "[0, 4294967295]");
    auto wide = Expr<RangeU64>(uint64_t{1} << 40, UINT64_MAX);
    EXPECT_EQ(wide->ToText(), "[1099511627776, 18446744073709551615]");
    EXPECT_TRUE(wide->Evaluate(UINT64_MAX));
    EXPECT_FALSE(wide->Evaluate(uint64_t{1} << 39));
    EXPECT_EQ(Expr<SetU32>(1, 2, 4, 8, 16, 32)->ToText(), "{1,2,4,8,16,32}");
    auto sources = Expr<SetI64>(int64_t{0}, int64_t{1}, int64_t{4});
    EXPECT_TRUE(sources->Evaluate(int64_t{4}));
    EXPECT_FALSE(sources->Evaluate(int64_t{2}));
}

TEST(Validators, RefuseWhatTheyCannotTest)
{
    // A value of another type: the base's SyntaxError.
    auto range = Expr<RangeI32>(0, 10);
    EXPECT_THROW(range->Evaluate(uint32_t{3}), ireg::SyntaxError);
    EXPECT_EQ(ErrorOf([&] { range->Evaluate(uint32_t{3}); }), "[...]: Invalid type uint32_t in validation.");
    EXPECT_EQ(ErrorOf([&] { Expr<SetU32>(1u)->Evaluate(int64_t{1}); }),
              "{...}: Invalid type int64_t in validation.");

    // A bound its type cannot hold is refused, never wrapped into another validator.
    EXPECT_THROW(Expr<RangeU32>(-1, 5), ireg::SyntaxError);
    EXPECT_EQ(ErrorOf([] { Expr<RangeU32>(-1, 5); }),
              "[...]: Parameter -1 does not fit the validated type.");
    EXPECT_THROW(Expr<RangeI32>(0, int64_t{5000000000}), ireg::SyntaxError);
    EXPECT_THROW(Expr<RangeI32>(0, 2147483648u), ireg::SyntaxError);
    EXPECT_THROW(Expr<RangeI64>(0, UINT64_MAX), ireg::SyntaxError);
    EXPECT_THROW(Expr<SetU32>(1, -2), ireg::SyntaxError);
}

// On a node the validator decides every write and its text is what clients read.
TEST(Validators, OnANodeTheRefusalQuotesTheText)
{
    auto node = Make<ireg::RegValueNode<uint32_t>>("level", 7u);
    node->SetValidator(Expr<RangeU32>(0, 255));
    std::string text;
    node->OnGetValidatorExpression(text, c_noRelPath);
    EXPECT_EQ(text, "[0, 255]");
    EXPECT_EQ(ErrorOf([&] { node->Set(uint32_t{300}, 0, c_noRelPath); }),
              "ireg: level: Validation failed: [0, 255] for 300");
    EXPECT_EQ(ErrorOf([&] { node->Set(int32_t{3}, 0, c_noRelPath); }),
              "ireg: level: [...]: Invalid type int32_t in validation.");
    node->Set(uint32_t{255}, 0, c_noRelPath);
    uint32_t value = 0;
    node->Get(value, 0, c_noRelPath);
    EXPECT_EQ(value, 255u);
}

// The program's own writes: SetValue refuses constants but not read-only nodes, answers false
// with the failure traced and nothing sent, and notifies arrays with one element.
TEST(SetValue, OneTableOfTheProgramsWrites)
{
    using Flags = mci::Flags;
    const Flags readOnly = mci::enums::eReadable;
    const Flags writable = mci::enums::eReadable | mci::enums::eWritable;
    const Flags constant = readOnly | mci::enums::eConstant;
    struct Case {
        const char* name;
        Flags flags;
        size_t size; // 0: a scalar
        uint32_t value;
        size_t pos;
        bool result;
        const char* trace; // the failure traced, or nullptr
    };
    const Case cases[] = {
        {"ro", readOnly, 0, 9, 0, true, nullptr},
        {"const", constant, 0, 9, 0, false, "Cannot set value ireg: const: Node is a constant."},
        {"refused", writable, 0, 300, 0, false, "Cannot set value ireg: refused: Validation failed: [0, 255] for 300"},
        {"scalar", writable, 0, 9, 1, false, "Cannot set value ireg: scalar: Position out of range"},
        {"array", readOnly, 4, 9, 2, true, nullptr},
        {"past", readOnly, 4, 9, 4, false, "Cannot set value ireg: past: Position out of range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto node = c.size == 0 ? Make<ireg::RegValueNode<uint32_t>>(c.name, 1u, c.flags)
                                : Make<ireg::RegValueNode<uint32_t>>(c.name, c.size, 1u, c.flags);
        node->SetValidator(Expr<RangeU32>(0, 255));
        Recorder recorder;
        ASSERT_TRUE(recorder.Subscribe(node));
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_EQ(node->SetValue(c.value, c.pos), c.result);
        if (c.trace != nullptr) {
            EXPECT_TRUE(capture.Contains(c.trace)) << capture.Text();
        }
        std::vector<uint32_t> values;
        node->Get(values, 0, 0, c_noRelPath);
        const size_t stored = c.result ? c.pos : values.size();
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(values[i], i == stored ? c.value : 1u) << i;
        }
        // A marker sent after the call: a failed set must have sent nothing before it.
        node->ApplyAndEmitValue(uint32_t{2}, 0);
        ASSERT_TRUE(recorder.WaitFor(c.result ? 2 : 1));
        const std::vector<mci::NotificationData> sent = recorder.Received();
        if (c.result) {
            EXPECT_EQ(sent.at(0).position, c.pos);
            if (c.size == 0) {
                EXPECT_EQ(std::any_cast<uint32_t>(sent.at(0).value), c.value);
            } else {
                EXPECT_EQ(std::any_cast<std::vector<uint32_t>>(sent.at(0).value), std::vector<uint32_t>{c.value});
            }
        }
        EXPECT_EQ(sent.back().position, 0u);
        EXPECT_EQ(sent.size(), c.result ? 2u : 1u);
    }
}

// The widths the components set through SetValue, and a bound setter that throws something
// other than istd::Exception: still an answer, never an escaping exception.
TEST(SetValue, WiderTypesAndForeignExceptions)
{
    auto wide = Make<ireg::RegValueNode<uint64_t>>("events", uint64_t{0}, mci::Flags(mci::enums::eReadable));
    EXPECT_TRUE(wide->SetValue(uint64_t{1} << 40));
    auto source = Make<ireg::RegValueNode<int64_t>>("source", int64_t{0}, mci::Flags(mci::enums::eReadable));
    source->SetValidator(Expr<SetI64>(int64_t{0}, int64_t{1}, int64_t{4}));
    EXPECT_TRUE(source->SetValue(int64_t{4}));
    EXPECT_FALSE(source->SetValue(int64_t{3}));
    EXPECT_FALSE(source->SetValue(int32_t{4})); // a validator of another type
    auto power = Make<ireg::RegValueNode<bool>>("power", false);
    power->ApplyAndEmitValue(true, 0);
    bool on = false;
    power->Get(on, 0, c_noRelPath);
    EXPECT_TRUE(on);

    auto throwing = Make<ireg::RegFncNode<uint32_t>>(
        "fnc", [](const uint32_t&) -> bool { throw std::runtime_error("bus gone"); },
        [](uint32_t& v) { return (v = 0), true; });
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_FALSE(throwing->SetValue(uint32_t{1}));
    EXPECT_TRUE(capture.Contains("Cannot set value ireg: fnc: bus gone")) << capture.Text();
}

} // namespace
