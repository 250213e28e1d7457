// Enumeration nodes over their four base kinds: reads as int32_t, int64_t and names, writes by
// number and by text with their refusals, domain values, and the widening of signed and unsigned
// enumerations (a number is taken only in its widened form, never by its low 32 bits).

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/ireg_kinds_util.h"
#include "common/ireg_test_util.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_exec_node.h"
#include "isig/signal_types.h"
#include "istd/trace.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::MakeKind;
using mci::c_noRelPath;

namespace {

using LevelNode = ireg::RegValueEnumNode<istd::TraceLevel_e>;

constexpr int64_t c_2to32 = int64_t(1) << 32;

template <class T>
T Read(const mci::TreeNodePtr& node, size_t pos = 0)
{
    T value{};
    node->Get(value, pos, c_noRelPath);
    return value;
}

// A write and what follows: the error text ("" for success) and the value the node then holds.
struct TextCase {
    std::string text;
    std::string error;
    int32_t heldAfter;
};

TEST(RegEnumNode, TextWrites)
{
    // The node holds "info" (3) before every case.
    const std::vector<TextCase> cases = {
        {"warning", "", 2},
        {"2", "", 2},
        {"+2", "", 2},
        {"-0", "", 0},
        {"info", "", 3},
        {"Warning", "ireg: level: Invalid integer value", 3}, // names are case-sensitive
        {" 2", "ireg: level: Invalid integer value", 3},
        {"2 ", "ireg: level: Invalid integer value", 3},
        {"0x2", "ireg: level: Invalid integer value", 3},
        {"", "ireg: level: Invalid integer value", 3},
        {"99999999999999999999", "ireg: level: Invalid integer value", 3},
        {"9", "ireg: level: Invalid enum value", 3},
        {"-1", "ireg: level: Invalid enum value", 3},
        {std::to_string(c_2to32 + 2), "ireg: level: Invalid enum value", 3},
        {std::to_string(-c_2to32 + 2), "ireg: level: Invalid enum value", 3},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE("text '" + c.text + "'");
        auto node = MakeKind<LevelNode>("level", istd::eTraceInfo);
        EXPECT_EQ(ErrorOf([&] { node->Set(c.text, 0, c_noRelPath); }), c.error.empty() ? "no error" : c.error);
        EXPECT_EQ(Read<int32_t>(node), c.heldAfter);
    }
}

struct NumberCase {
    int64_t number;
    bool asInt32;
    std::string error;
};

TEST(RegEnumNode, NumberWrites)
{
    const std::vector<NumberCase> cases = {
        {4, true, ""},
        {4, false, ""},
        {9, true, "ireg: level: invalid value"},
        {-1, true, "ireg: level: invalid value"},
        {-1, false, "ireg: level: invalid value"},
        {c_2to32 + 4, false, "ireg: level: invalid value"}, // not taken as 4
        {-c_2to32 + 4, false, "ireg: level: invalid value"},
        {INT64_MIN, false, "ireg: level: invalid value"},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.number) + (c.asInt32 ? " as int32_t" : " as int64_t"));
        auto node = MakeKind<LevelNode>("level", istd::eTraceInfo);
        const std::string error = ErrorOf([&] {
            if (c.asInt32) {
                node->Set(static_cast<int32_t>(c.number), 0, c_noRelPath);
            } else {
                node->Set(c.number, 0, c_noRelPath);
            }
        });
        EXPECT_EQ(error, c.error.empty() ? "no error" : c.error);
        EXPECT_EQ(Read<int32_t>(node), c.error.empty() ? 4 : 3);
    }
}

TEST(RegEnumNode, ReadsTypeAndDomain)
{
    auto node = MakeKind<LevelNode>("level", istd::eTraceWarning, mci::Flags(0x0E));
    EXPECT_EQ(node->GetFlags(), 0x0Eu);
    EXPECT_EQ(node->GetSize(), 1u);
    EXPECT_EQ(node->GetValueType(), mci::enums::eEnumeration);
    EXPECT_EQ(Read<int32_t>(node), 2);
    EXPECT_EQ(Read<int64_t>(node), 2);
    EXPECT_EQ(Read<std::string>(node), "warning");

    // Appended in ascending order of value behind what the caller's vector holds.
    std::vector<std::string> domain{"keep"};
    EXPECT_TRUE(node->GetDomainValues(domain));
    EXPECT_EQ(domain, (std::vector<std::string>{"keep", "none", "error", "warning", "info", "detail", "scope"}));

    // The other value types are not an enumeration's.
    EXPECT_EQ(ErrorOf([&] { Read<double>(node); }),
              "ireg node level: level: unsupported argument type while getting a node value");
    EXPECT_EQ(ErrorOf([&] { node->Set(uint32_t(2), 0, c_noRelPath); }),
              "ireg: level: level: unsupported argument type while setting a node value");

    auto command = MakeKind<ireg::RegValueEnumNode<mci::enums::NodeCommand_e>>("cmd", mci::enums::eExecute);
    std::vector<std::string> names;
    command->GetDomainValues(names);
    EXPECT_EQ(names, std::vector<std::string>{"Execute"});
    EXPECT_EQ(Read<std::string>(command), "Execute");
    EXPECT_EQ(Read<int64_t>(command), 238);
}

// Signed enumerations widen with their sign; a number is accepted only as that widened form.
TEST(RegEnumNode, SignedEnumerationsWidenWithTheirSign)
{
    auto atom = MakeKind<ireg::RegValueEnumNode<isig::AtomType_e>>("atom", isig::eAtomUnknown, 6);
    EXPECT_EQ(Read<int64_t>(atom), -1);
    EXPECT_EQ(Read<int32_t>(atom), -1);
    EXPECT_EQ(Read<std::string>(atom), "unknown");

    atom->Set(std::string("int32"), 0, c_noRelPath);
    atom->Set(int64_t(-1), 0, c_noRelPath);
    EXPECT_EQ(Read<std::string>(atom), "unknown");
    atom->Set(std::string("float"), 0, c_noRelPath);
    EXPECT_EQ(ErrorOf([&] { atom->Set(int64_t(UINT32_MAX), 0, c_noRelPath); }), "ireg: atom: invalid value");
    EXPECT_EQ(ErrorOf([&] { atom->Set(std::to_string(UINT32_MAX), 0, c_noRelPath); }), "ireg: atom: Invalid enum value");
    atom->Set(std::string("-1"), 0, c_noRelPath);
    EXPECT_EQ(Read<std::string>(atom), "unknown");

    auto access = MakeKind<ireg::RegValueEnumNode<isig::AccessType_e>>("access", isig::eAccessStream, 6);
    std::vector<std::string> domain;
    access->GetDomainValues(domain);
    EXPECT_EQ(domain, (std::vector<std::string>{"invalid", "random", "stream"}));
    access->Set(int32_t(-1), 0, c_noRelPath);
    EXPECT_EQ(Read<int64_t>(access), -1);

    // An unsigned enumeration's largest code reads as a positive 64-bit number.
    auto level = MakeKind<LevelNode>("level", istd::eTraceScope);
    EXPECT_GT(Read<int64_t>(level), 0);
}

// A run of values is converted whole before anything is stored.
TEST(RegEnumNode, ARefusedValueInARunStoresNone)
{
    const std::vector<istd::TraceLevel_e> start{istd::eTraceNone, istd::eTraceError, istd::eTraceWarning};
    auto node = MakeKind<LevelNode>("levels", start, mci::Flags(6));
    EXPECT_EQ(node->GetFlags(), 0x206u);

    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(node));

    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<int32_t>{4, 5, 7}, 0, c_noRelPath); }), "ireg: levels: invalid value");
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<int64_t>{4, 5, c_2to32}, 0, c_noRelPath); }),
              "ireg: levels: invalid value");
    // A list of texts is converted before the node is entered: no prefix.
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<std::string>{"detail", "scope", "loud"}, 0, c_noRelPath); }),
              "Invalid integer value");
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<std::string>{"detail", "scope", "6"}, 0, c_noRelPath); }),
              "Invalid enum value");
    std::vector<std::string> names;
    node->Get(names, 0, 0, c_noRelPath);
    EXPECT_EQ(names, (std::vector<std::string>{"none", "error", "warning"}));

    node->Set(std::vector<std::string>{"scope", "4"}, 1, c_noRelPath);
    node->Get(names, 0, 0, c_noRelPath);
    EXPECT_EQ(names, (std::vector<std::string>{"none", "scope", "detail"}));

    // Only the successful write was announced, as the 64-bit values it was set with.
    ASSERT_TRUE(recorder.WaitFor(1));
    const auto received = recorder.Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(std::any_cast<std::vector<int64_t>>(received[0].value), (std::vector<int64_t>{5, 4}));
    EXPECT_EQ(received[0].position, 1u);

    // A read-only node given a bad text reports the text, since conversion comes first.
    auto readOnly = MakeKind<LevelNode>("ro", istd::eTraceInfo, mci::Flags(2));
    EXPECT_EQ(ErrorOf([&] { readOnly->Set(std::vector<std::string>{"loud"}, 0, c_noRelPath); }), "Invalid integer value");
    EXPECT_EQ(ErrorOf([&] { readOnly->Set(std::vector<std::string>{"info"}, 0, c_noRelPath); }), "Node is not writable.");
}

// A value outside the table (a variable the owner set, a grown element, a constructor's value)
// fails every read, whole.
TEST(RegEnumNode, AStoredValueOutsideTheTableFailsEveryRead)
{
    istd::TraceLevel_e variable = istd::eTraceError;
    auto reference = MakeKind<ireg::RegReferenceEnumNode<istd::TraceLevel_e>>("ref", variable);
    EXPECT_EQ(Read<std::string>(reference), "error");
    variable = static_cast<istd::TraceLevel_e>(42);
    EXPECT_EQ(ErrorOf([&] { Read<int32_t>(reference); }), "ireg node ref: invalid value");
    EXPECT_EQ(ErrorOf([&] { Read<int64_t>(reference); }), "ireg node ref: invalid value");
    EXPECT_EQ(ErrorOf([&] { Read<std::string>(reference); }), "ireg node ref: invalid value");
    reference->Set(std::string("detail"), 0, c_noRelPath);
    EXPECT_EQ(variable, istd::eTraceDetail);

    auto command = MakeKind<ireg::RegValueEnumNode<mci::enums::NodeCommand_e>>("cmd", mci::enums::eExecute);
    ASSERT_TRUE(command->Resize(2));
    EXPECT_EQ(Read<std::string>(command, 0), "Execute");
    EXPECT_EQ(ErrorOf([&] { Read<std::string>(command, 1); }), "ireg node cmd: invalid value");
    std::vector<int32_t> both;
    EXPECT_EQ(ErrorOf([&] { command->Get(both, 0, 0, c_noRelPath); }), "ireg node cmd: invalid value");

    auto made = MakeKind<LevelNode>("made", static_cast<istd::TraceLevel_e>(17));
    EXPECT_EQ(ErrorOf([&] { Read<std::string>(made); }), "ireg node made: invalid value");
}

// The trace level as the application exposes it: a function node over the trace file's getter
// and setter.
TEST(RegEnumNode, FunctionKindOverTheTraceLevel)
{
    istd::TraceFile& trace = istd::TraceFile::GetInstance();
    const istd::TraceLevel_e before = trace.Level();
    auto node = MakeKind<ireg::RegFncEnumNode<istd::TraceLevel_e>>(
        "debug", &trace, &istd::TraceFile::SetLevel,
        &istd::TraceFile::GetLevel);
    EXPECT_EQ(node->GetFlags(), 6u);
    EXPECT_EQ(node->GetValueType(), mci::enums::eEnumeration);

    node->Set(std::string("detail"), 0, c_noRelPath);
    EXPECT_EQ(trace.Level(), istd::eTraceDetail);
    EXPECT_EQ(Read<std::string>(node), "detail");
    node->Set(istd::eTraceWarning, 0, c_noRelPath); // the mixin's set of one enumeration value
    EXPECT_EQ(trace.Level(), istd::eTraceWarning);
    EXPECT_TRUE(trace.SetLevel(before));

    // A getter that fails delivers no value: the core's failure, no conversion message.
    auto failing = MakeKind<ireg::RegFncEnumNode<istd::TraceLevel_e>>(
        "f", nullptr, [](istd::TraceLevel_e&) { return false; }, mci::Flags(6));
    EXPECT_EQ(ErrorOf([&] { Read<std::string>(failing); }), "ireg node f: Unable to get value.");
    // A setter-less function node, made with 0.
    auto readOnly = MakeKind<ireg::RegFncEnumNode<istd::TraceLevel_e>>(
        "ro", &trace, 0, &istd::TraceFile::GetLevel);
    EXPECT_EQ(readOnly->GetFlags(), 2u);
}

} // namespace
