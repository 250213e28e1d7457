// Command nodes: which writes run the action, the refusals (and that they run nothing), the
// flags, and the notification of a successful execution only.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/ireg_kinds_util.h"
#include "common/ireg_test_util.h"
#include "ireg/reg_exec_node.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::MakeKind;
using mci::c_noRelPath;

namespace {

using Write = std::function<void(mci::TreeNode&)>;

Write Text(const std::string& text)
{
    return [text](mci::TreeNode& node) { node.Set(text, 0, c_noRelPath); };
}
Write Int32(int32_t value)
{
    return [value](mci::TreeNode& node) { node.Set(value, 0, c_noRelPath); };
}
Write Int64(int64_t value)
{
    return [value](mci::TreeNode& node) { node.Set(value, 0, c_noRelPath); };
}

struct Case {
    const char* what;
    Write write;
    std::string error; // "" when the action runs and succeeds
};

class Counter {
public:
    bool Run()
    {
        ++runs;
        return result;
    }
    int runs = 0;
    bool result = true;
};

TEST(RegExecNode, WhatRunsTheAction)
{
    const int64_t c_2to32 = int64_t(1) << 32;
    const std::vector<Case> cases = {
        {"name", Text("Execute"), ""},
        {"decimal text", Text("238"), ""},
        {"signed text", Text("+238"), ""},
        {"int32", Int32(238), ""},
        {"int64", Int64(238), ""},
        {"name in another case", Text("execute"), "ireg: cmd: Invalid integer value"},
        {"blank before", Text(" 238"), "ireg: cmd: Invalid integer value"},
        {"hexadecimal", Text("0xEE"), "ireg: cmd: Invalid integer value"},
        {"other number text", Text("239"), "ireg: cmd: Invalid enum value"},
        {"negative text", Text("-1"), "ireg: cmd: Invalid enum value"},
        {"text 2^32 + 238", Text(std::to_string(c_2to32 + 238)), "ireg: cmd: Invalid enum value"},
        {"int32 0", Int32(0), "ireg: cmd: invalid value"},
        {"int32 239", Int32(239), "ireg: cmd: invalid value"},
        {"int32 -1", Int32(-1), "ireg: cmd: invalid value"},
        {"int64 2^32 + 238", Int64(c_2to32 + 238), "ireg: cmd: invalid value"},
        {"int64 238 - 2^32", Int64(238 - c_2to32), "ireg: cmd: invalid value"},
        {"double", [](mci::TreeNode& n) { n.Set(238.0, 0, c_noRelPath); },
         "ireg: cmd: cmd: unsupported argument type while setting a node value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Counter counter;
        auto node = MakeKind<ireg::RegExecNode>("cmd", &counter, &Counter::Run, mci::Flags(0x2));
        EXPECT_EQ(ErrorOf([&] { c.write(*node); }), c.error.empty() ? "no error" : c.error);
        EXPECT_EQ(counter.runs, c.error.empty() ? 1 : 0);
        std::string text;
        node->Get(text, 0, c_noRelPath);
        EXPECT_EQ(text, "Execute");
    }
}

TEST(RegExecNode, FlagsAndShape)
{
    Counter counter;
    EXPECT_EQ(MakeKind<ireg::RegExecNode>("a", &counter, &Counter::Run)->GetFlags(), 0x84u);
    EXPECT_EQ(MakeKind<ireg::RegExecNode>("b", &counter, &Counter::Run, mci::Flags(0x22))->GetFlags(), 0xA6u);
    // The factory forwards a literal 0 for the flags as an int.
    auto node = mci::factory::Create<ireg::RegExecNode>("c", [] { return true; }, 0);
    EXPECT_EQ(node->GetFlags(), 0x84u);
    EXPECT_EQ(node->GetValueType(), mci::enums::eEnumeration);
    EXPECT_EQ(ErrorOf([&] { int32_t v; node->Get(v, 0, c_noRelPath); }), "ireg node c: TreeNode is not readable.");

    auto readable = mci::factory::Create<ireg::RegExecNode>("d", [] { return true; }, 0x2);
    int32_t value = 0;
    readable->Get(value, 0, c_noRelPath);
    EXPECT_EQ(value, 238);
    std::vector<std::string> domain;
    node->GetDomainValues(domain);
    EXPECT_EQ(domain, std::vector<std::string>{"Execute"});

    EXPECT_FALSE(node->Resize(3));
    EXPECT_EQ(node->GetSize(), 1u);
}

TEST(RegExecNode, WithoutAnAction)
{
    auto node = MakeKind<ireg::RegExecNode>("cmd", std::function<bool()>(), mci::Flags(0x2));
    // The missing action is found before the number is looked at.
    EXPECT_EQ(ErrorOf([&] { node->Set(int32_t(238), 0, c_noRelPath); }), "ireg: cmd: ireg: No action defined for this node.");
    EXPECT_EQ(ErrorOf([&] { node->Set(int64_t(5), 0, c_noRelPath); }), "ireg: cmd: ireg: No action defined for this node.");
    // A text is converted first.
    EXPECT_EQ(ErrorOf([&] { node->Set(std::string("go"), 0, c_noRelPath); }), "ireg: cmd: Invalid integer value");
    EXPECT_EQ(ErrorOf([&] { node->Set(std::string("Execute"), 0, c_noRelPath); }),
              "ireg: cmd: ireg: No action defined for this node.");
}

TEST(RegExecNode, FailingActionsAndNotifications)
{
    Counter counter;
    auto node = MakeKind<ireg::RegExecNode>("cmd", &counter, &Counter::Run, mci::Flags(0x2));
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(node));

    counter.result = false;
    EXPECT_EQ(ErrorOf([&] { node->Set(std::string("Execute"), 0, c_noRelPath); }), "ireg: cmd: ireg: Execution failed.");
    EXPECT_EQ(counter.runs, 1);

    auto throwing = MakeKind<ireg::RegExecNode>("thr", [] () -> bool { throw istd::Exception("bus stuck", true); });
    EXPECT_EQ(ErrorOf([&] { throwing->Set(std::string("Execute"), 0, c_noRelPath); }), "ireg: thr: bus stuck");

    // Two values do not fit one element; an empty list runs nothing.
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<int32_t>{238, 238}, 0, c_noRelPath); }), "ireg: cmd: Size too large");
    node->Set(std::vector<int32_t>{}, 0, c_noRelPath);
    EXPECT_EQ(counter.runs, 1);

    counter.result = true;
    node->Set(std::string("238"), 0, c_noRelPath);
    node->Set(int32_t(238), 0, c_noRelPath);
    EXPECT_EQ(counter.runs, 3);

    // Every successful execution is announced, with the value as written; the failed one not.
    ASSERT_TRUE(recorder.WaitFor(2));
    const auto received = recorder.Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(std::any_cast<std::string>(received[0].value), "238");
    EXPECT_EQ(std::any_cast<int32_t>(received[1].value), 238);
}

} // namespace
