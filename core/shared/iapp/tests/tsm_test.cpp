// The timing-state machine on a simulated board: the limits of duration and offset with their
// texts, the flush after each register write, the set path in each application state, the
// offset maximum, and the control bits.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/timing_fixture.h"
#include "iapp/features/tsm.h"
#include "ireg/expression.h"
#include "ireg/tests/common/ireg_test_util.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"

using sim::boards::Access;
using testsupport::ErrorOf;

namespace {

constexpr size_t c_base = 0x410000;

class TsmTest : public iapptest::TimingBlocks {
protected:
    void SetUp() override
    {
        TimingBlocks::SetUp();
        log = Memory().Log(c_base, ifeature::Tsm::Size());
        tsm = board->RegisterObject<ifeature::Tsm>(c_base, "tsm");
    }

    uint64_t Word(size_t offset) { return Memory().ReadMemory64(c_base + offset); }

    std::shared_ptr<sim::boards::AccessLog> log;
    ifeature::Tsm* tsm = nullptr;
};

TEST_F(TsmTest, ConstructionWritesTheDefaults)
{
    uint32_t value = 0;
    EXPECT_TRUE(tsm->GetDuration(value));
    EXPECT_EQ(value, 1048576u);
    EXPECT_TRUE(tsm->GetOffset(value));
    EXPECT_EQ(value, 3u);
    EXPECT_EQ(Word(0x10), 2u);
    EXPECT_EQ(Word(0x00), 0xFFFFFu);
}

TEST_F(TsmTest, DurationAndOffsetLimits)
{
    struct Case {
        const char* what;
        std::function<bool()> set;
        const char* error;
        size_t offset;   // of the register
        uint64_t word;   // afterwards
    };
    const Case cases[] = {
        {"duration 0", [&] { return tsm->_SetDuration(0); }, "Duration value 0 is out of valid range [1:33554432]", 0,
         0xFFFFF},
        {"duration 1", [&] { return tsm->_SetDuration(1); }, "no error", 0, 0},
        {"duration max", [&] { return tsm->_SetDuration(33554432); }, "no error", 0, 0x1FFFFFF},
        {"duration max + 1", [&] { return tsm->_SetDuration(33554433); },
         "Duration value 33554433 is out of valid range [1:33554432]", 0, 0x1FFFFFF},
        {"offset 2", [&] { return tsm->_SetOffset(2); }, "Offset value 2 is out of valid range [3:33554434]", 8, 0},
        {"offset 3", [&] { return tsm->_SetOffset(3); }, "no error", 8, 0},
        {"offset max", [&] { return tsm->_SetOffset(33554434); }, "no error", 8, 0x1FFFFFF},
        {"offset max + 1", [&] { return tsm->_SetOffset(33554435); },
         "Offset value 33554435 is out of valid range [3:33554434]", 8, 0x1FFFFFF},
        {"offset 0", [&] { return tsm->_SetOffset(0); }, "Offset value 0 is out of valid range [3:33554434]", 8,
         0x1FFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log->Clear();
        EXPECT_EQ(ErrorOf([&] { EXPECT_TRUE(c.set()); }), c.error);
        EXPECT_EQ(Word(c.offset), c.word);
        if (std::string(c.error) == "no error") {
            // The write, then the flush: the window's first word read back, upper half first.
            const std::vector<Access> entries = log->Entries();
            ASSERT_EQ(entries.size(), 3u);
            EXPECT_EQ(entries[0], (Access{Access::eWrite, c.offset, 64, c.word}));
            EXPECT_EQ(entries[1].kind, Access::eRead);
            EXPECT_EQ(entries[1].offset, 4u);
            EXPECT_EQ(entries[2].offset, 0u);
        } else {
            EXPECT_EQ(log->Count(Access::eWrite), 0u);
        }
    }
    uint32_t value = 0;
    tsm->GetDuration(value);
    EXPECT_EQ(value, 33554432u);
    tsm->GetOffset(value);
    EXPECT_EQ(value, 33554434u);
}

// While running, the change goes through the node (validator, notification) although clients may
// not write it; before, straight to the register; in any other state not at all.
TEST_F(TsmTest, TheSetPathFollowsTheApplicationState)
{
    mci::TreeNodePtr node = AddRegistry(*tsm);
    auto duration = Node(node, "duration");
    auto offset = Node(node, "offset");
    ASSERT_FALSE(duration->IsWritable());
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(duration));
    ASSERT_TRUE(recorder.Subscribe(offset));

    struct Case {
        int state;
        const char* error;
        size_t notifications; // so far
    };
    const Case cases[] = {
        {0, "Internal error: unsupported TSM setting", 0}, {1, "no error", 0}, {2, "no error", 0},
        {3, "no error", 0}, {4, "no error", 2}, {5, "Internal error: unsupported TSM setting", 2},
        {6, "Internal error: unsupported TSM setting", 2},
    };
    uint32_t next = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        root->SetState(c.state);
        const uint64_t before = Word(0);
        ++next;
        EXPECT_EQ(ErrorOf([&] {
                      EXPECT_TRUE(tsm->SetDuration(next));
                      EXPECT_TRUE(tsm->SetOffset(next));
                  }),
                  c.error);
        const bool applied = std::string(c.error) == "no error";
        EXPECT_EQ(Word(0), applied ? next - 1 : before);
        if (applied) {
            EXPECT_EQ(Word(8), next - 3);
        }
        if (c.notifications != 0) {
            ASSERT_TRUE(recorder.WaitFor(c.notifications));
        }
        EXPECT_EQ(recorder.Received().size(), c.notifications);
    }
    EXPECT_EQ(std::any_cast<uint32_t>(recorder.Received()[0].value), 105u);
}

// Running, a refused value throws out of the setter: nothing is written and nobody is told.
TEST_F(TsmTest, RunningRefusalsThrowWithTheRegisterUnchanged)
{
    mci::TreeNodePtr node = AddRegistry(*tsm);
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(Node(node, "duration")));
    ASSERT_TRUE(recorder.Subscribe(Node(node, "offset")));
    root->SetState(4);
    ASSERT_TRUE(tsm->SetDuration(1000));
    ASSERT_TRUE(tsm->SetOffset(50));
    ASSERT_TRUE(recorder.WaitFor(2));

    struct Case {
        const char* what;
        std::function<bool()> set;
        const char* error;
        bool validation; // an ireg::ValidationError
    };
    const Case cases[] = {
        {"duration 0", [&] { return tsm->SetDuration(0); }, "Validation failed: [1, 33554432] for 0", true},
        {"duration max + 1", [&] { return tsm->SetDuration(33554433); },
         "Validation failed: [1, 33554432] for 33554433", true},
        {"offset 2", [&] { return tsm->SetOffset(2); }, "Validation failed: [3, 33554434] for 2", true},
        {"offset above a maximum of 100", [&] { tsm->SetMaxOffset(100); return tsm->SetOffset(101); },
         "Validation failed: [3, 100] for 101", true},
        // A maximum beyond the register's range leaves the register's own refusal.
        {"offset past the register", [&] { tsm->SetMaxOffset(40000000); return tsm->SetOffset(33554435); },
         "Offset value 33554435 is out of valid range [3:33554434]", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log->Clear();
        bool validation = false;
        EXPECT_EQ(ErrorOf([&] {
                      try {
                          c.set();
                      } catch (const ireg::ValidationError&) {
                          validation = true;
                          throw;
                      }
                  }),
                  c.error);
        EXPECT_EQ(validation, c.validation);
        EXPECT_EQ(log->Count(Access::eWrite), 0u);
        EXPECT_EQ(Word(0x00), 999u);
        EXPECT_EQ(Word(0x08), 47u);
    }
    // Nothing was sent for the refusals: the next notification is the next change.
    ASSERT_TRUE(tsm->SetDuration(7));
    ASSERT_TRUE(recorder.WaitFor(3));
    EXPECT_EQ(recorder.Received().size(), 3u);
    EXPECT_EQ(std::any_cast<uint32_t>(recorder.Received()[2].value), 7u);
}

// A node the application made constant refuses the running set as well.
TEST_F(TsmTest, AConstantNodeRefusesTheRunningSet)
{
    const std::vector<ifeature::RegNodeConfiguration> rows = {{0, "duration", 0x2A}};
    auto* fixed = board->RegisterObject<ifeature::Tsm>(c_base + 0x100, "fixed", &rows);
    AddRegistry(*fixed);
    root->SetState(4);
    EXPECT_EQ(ErrorOf([&] { fixed->SetDuration(5); }), "Node is a constant.");
    EXPECT_EQ(Memory().ReadMemory64(c_base + 0x100), 0xFFFFFu);
}

TEST_F(TsmTest, MaximumOffset)
{
    EXPECT_EQ(ErrorOf([&] { tsm->SetMaxOffset(100); }),
              "tsm: SetMaxOffset needs the offset node, which the registry has not made yet");
    mci::TreeNodePtr node = AddRegistry(*tsm);
    auto offset = Node(node, "offset");
    std::string text;
    offset->GetValidatorExpression(text);
    EXPECT_EQ(text, "[3, 33554434]");
    tsm->SetMaxOffset(100);
    EXPECT_TRUE(offset->SetValue(uint32_t(100)));
    EXPECT_FALSE(offset->SetValue(uint32_t(101)));
    EXPECT_EQ(Word(8), 97u);
    EXPECT_TRUE(tsm->_SetOffset(101)) << "the register's own range is unchanged";
    EXPECT_EQ(Word(8), 98u);
}

TEST_F(TsmTest, ControlBits)
{
    mci::TreeNodePtr node = AddRegistry(*tsm);
    std::vector<std::string> names;
    for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
        names.push_back(child->GetName() + " " + std::to_string(child->GetFlags()));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"duration 10", "offset 10", "polarity 78", "enabled 78", "continuous 78"}));

    auto enabled = Node(node, "enabled");
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(enabled));
    Node(node, "polarity")->Set("Negative", 0, mci::c_noRelPath);
    tsm->SetContinuous(true);
    EXPECT_EQ(Word(0x10), 7u);
    tsm->Disable();
    EXPECT_EQ(Word(0x10), 5u);
    tsm->Enable();
    EXPECT_EQ(Word(0x10), 7u);
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_FALSE(std::any_cast<bool>(recorder.Received()[0].value));
    EXPECT_TRUE(std::any_cast<bool>(recorder.Received()[1].value));
    tsm->SetContinuous(false);
    EXPECT_EQ(Word(0x10), 3u);
}

TEST_F(TsmTest, ContinuousBeforeTheRegistry)
{
    {
        istd::TraceCapture capture(istd::eTraceError);
        tsm->SetContinuous(false);
        EXPECT_EQ(Word(0x10), 2u);
        EXPECT_TRUE(capture.Text().empty()) << capture.Text();
    }
    istd::TraceCapture capture(istd::eTraceError);
    tsm->SetContinuous(true);
    EXPECT_EQ(Word(0x10), 6u);
    EXPECT_TRUE(capture.Contains("synth_TMS 0x2")) << capture.Text();
    EXPECT_TRUE(capture.Contains("0x6")) << capture.Text();
}

TEST(TsmOverrides, RowsOutsideTheTableAreRefused)
{
    const std::vector<ifeature::RegNodeConfiguration> rows = {{5, "x", 2}};
    EXPECT_EQ(ErrorOf([&] { ifeature::ApplyOverrides(ifeature::Tsm::c_defRegProperties, &rows, "tsm"); }),
              "tsm: node override row 5 is out of range [0:4]");
    const std::vector<ifeature::RegNodeConfiguration> renamed = {{0, "length", 0x4E}, {0, "span", 0x0A}};
    auto result = ifeature::ApplyOverrides(ifeature::Tsm::c_defRegProperties, &renamed, "tsm");
    EXPECT_STREQ(result[0].name, "span");
    EXPECT_EQ(result[0].flags, 0x0Au);
}

} // namespace
