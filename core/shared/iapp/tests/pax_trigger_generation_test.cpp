// The trigger generation on a simulated timing board: the defaults written at construction, the
// channel nodes with their overrides, flags and validators, the accessors through the nodes with
// a flush after every set, and the registers outside the channels.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/timing_fixture.h"
#include "iapp/features/pax_trigger_generation.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"

using ifeature::PaxTriggerGeneration;
using sim::boards::Access;
using testsupport::ErrorOf;

namespace {

constexpr size_t c_base = 0x400000;

class Triggers : public iapptest::TimingBlocks {
protected:
    PaxTriggerGeneration* Make(const PaxTriggerGeneration::TrigConfigurations& configurations =
                                   PaxTriggerGeneration::c_trigConfigurations,
                               const std::vector<PaxTriggerGeneration::RegNodeConfiguration>* overrides = nullptr,
                               bool backplane = false)
    {
        return board->RegisterObject<PaxTriggerGeneration>(c_base, "triggers", configurations, overrides, backplane);
    }

    uint32_t Word32(size_t offset) { return Memory().ReadMemory32(c_base + offset); }
    uint64_t Word64(size_t offset) { return Memory().ReadMemory64(c_base + offset); }
    // The flush after a set: the first word read back, upper half first.
    static std::vector<Access> Flush() { return {{Access::eRead, 4, 32, 0}, {Access::eRead, 0, 32, 0}}; }
};

// The trees the constructor makes and the hardware defaults it writes.
TEST_F(Triggers, ConstructionCases)
{
    using Overrides = std::vector<PaxTriggerGeneration::RegNodeConfiguration>;
    const Overrides renamed = {{2, "divider", 0x4E}};
    const Overrides writableCounters = {{5, "lost", 0x46}, {6, "lost_external", 0x4E}};
    struct Case {
        const char* what;
        PaxTriggerGeneration::TrigConfigurations configurations;
        const Overrides* overrides;
        std::function<void()> preset;                     // memory before construction
        std::function<void(PaxTriggerGeneration&)> check; // afterwards
    };
    const PaxTriggerGeneration::TrigConfigurations standard = PaxTriggerGeneration::c_trigConfigurations;
    const std::vector<Case> cases = {
        {"fresh window", standard, nullptr, [] {},
         [&](PaxTriggerGeneration& t) {
             for (size_t channel = 0; channel < 4; ++channel) {
                 SCOPED_TRACE(channel);
                 const size_t block = 0x20 * channel;
                 EXPECT_EQ(Word64(block), 0u);
                 EXPECT_EQ(Word32(block + 0x8), 50000u);
                 EXPECT_EQ(Word32(block + 0xC), 15u);
                 EXPECT_EQ(Word32(block + 0x10), 100000u);
                 ifeature::TriggerSourceType source = ifeature::eTriggerSourcePulse;
                 EXPECT_TRUE(t.GetTriggerSource(channel, source));
                 EXPECT_EQ(source, ifeature::eTriggerSourceOff);
                 uint32_t code = 0;
                 EXPECT_TRUE(t.GetTriggerCode(channel, code));
                 EXPECT_EQ(code, 15u);
             }
             EXPECT_EQ(Word32(0xA0), 15u);
         }},
        {"settings survive", standard,
         nullptr,
         [&] {
             Memory().WriteMemory64(c_base + 0x20, 5);
             Memory().WriteMemory32(c_base + 0x28, 7);
             Memory().WriteMemory32(c_base + 0x30, 9);
             Memory().WriteMemory32(c_base + 0x2C, 3);
         },
         [&](PaxTriggerGeneration& t) {
             uint32_t value = 0;
             EXPECT_TRUE(t.GetTriggerPrescaler(1, value));
             EXPECT_EQ(value, 7u);
             EXPECT_TRUE(t.GetTriggerDebouncer(1, value));
             EXPECT_EQ(value, 9u);
             EXPECT_EQ(Word64(0x20), 0u) << "the source is always switched off";
             EXPECT_EQ(Word32(0x2C), 15u) << "and the code set to 15";
         }},
        {"channel 3 is mc with its own sources", standard, nullptr, [] {},
         [&](PaxTriggerGeneration& t) {
             ASSERT_EQ(t.GetTriggerNode(3)->GetName(), "mc");
             auto source = t.GetChannelNode(3, PaxTriggerGeneration::eRowSource);
             std::string text;
             source->GetValidatorExpression(text);
             EXPECT_EQ(text, "{0,1,5}");
             for (const char* refused : {"Internal", "Pulse", "LXI"}) {
                 EXPECT_EQ(ErrorOf([&] { source->Set(refused, 0, mci::c_noRelPath); }),
                           std::string("ireg: source: Validation failed: {0,1,5} for ") + refused);
             }
             EXPECT_EQ(ErrorOf([&] { source->Set(int32_t(2), 0, mci::c_noRelPath); }),
                       "ireg: source: Validation failed: {0,1,5} for 2");
             EXPECT_FALSE(t.SetTriggerSource(3, ifeature::eTriggerSourceInternal));
             EXPECT_EQ(Word64(0x60), 0u);
             source->Set("RTC", 0, mci::c_noRelPath);
             source->Set(int32_t(1), 0, mci::c_noRelPath);
             EXPECT_TRUE(t.SetTriggerSource(3, ifeature::eTriggerSourceOff));
             EXPECT_TRUE(t.SetTriggerSource(0, ifeature::eTriggerSourceLXI)) << "other channels take every source";
             EXPECT_EQ(Word64(0x0), 4u);
         }},
        {"a disabled trigger is hidden", {{{"mc", true, 3}, {"t0", false, 0}, {"t1", true, 1}, {"t2", true, 2}}},
         nullptr, [] {},
         [&](PaxTriggerGeneration& t) {
             EXPECT_EQ(t.GetTriggerNode(0)->GetFlags(), 0x40u);
             EXPECT_EQ(t.GetTriggerNode(1)->GetFlags(), 0u);
             EXPECT_EQ(t.GetChannelNode(0, PaxTriggerGeneration::eRowPrescaler)->GetFlags(), 0x4Eu);
         }},
        {"an override renames a row of every trigger", standard, &renamed, [] {},
         [&](PaxTriggerGeneration& t) {
             for (size_t channel = 0; channel < 4; ++channel) {
                 EXPECT_TRUE(t.GetTriggerNode(channel)->GetNode("divider"));
                 EXPECT_FALSE(t.GetTriggerNode(channel)->GetNode("prescaler"));
             }
             EXPECT_TRUE(t.SetTriggerPrescaler(2, 77));
             uint32_t value = 0;
             EXPECT_TRUE(t.GetTriggerPrescaler(2, value));
             EXPECT_EQ(value, 77u);
             EXPECT_EQ(Word32(0x48), 77u);
         }},
        {"counters never take client writes", standard, &writableCounters, [] {},
         [&](PaxTriggerGeneration& t) {
             EXPECT_EQ(t.GetTriggerNode(1)->GetNode("lost")->GetFlags(), 0x42u);
             EXPECT_EQ(t.GetTriggerNode(1)->GetNode("lost_external")->GetFlags(), 0x4Au);
             Memory().WriteMemory32(c_base + 0x38, 12);
             uint32_t counter = 0;
             EXPECT_TRUE(t.GetTriggerIgnoredCounter(1, counter));
             EXPECT_EQ(counter, 12u);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (size_t offset = 0; offset < PaxTriggerGeneration::Size(); offset += 8) {
            Memory().WriteMemory64(c_base + offset, 0);
        }
        c.preset();
        PaxTriggerGeneration* triggers = Make(c.configurations, c.overrides);
        c.check(*triggers);
        board->RemoveChild(triggers);
    }
}

TEST_F(Triggers, TheRegistryTree)
{
    mci::TreeNodePtr node = AddRegistry(*Make());
    std::vector<std::string> names;
    for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
        names.push_back(child->GetName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"mc", "t0", "t1", "t2"}));
    names.clear();
    for (const mci::TreeNodePtr& child : node->GetNode("t2")->GetAllNodes()) {
        names.push_back(child->GetName() + " " + std::to_string(child->GetFlags()));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"name 2", "source 6", "prescaler 78", "debouncer 70",
                                               "ignored_counter 2", "external_ignored_counter 2", "code 14"}));
    std::string text;
    Node(node, "t2/name")->Get(text, 0, mci::c_noRelPath);
    EXPECT_EQ(text, "t2");
    EXPECT_FALSE(node->GetNode("backplane_trigger_switch"));
}

TEST_F(Triggers, ChannelsAndRowsOutsideTheWindowAreRefused)
{
    auto log = Memory().Log(c_base, PaxTriggerGeneration::Size());
    PaxTriggerGeneration* triggers = Make();
    log->Clear();
    uint32_t value = 0;
    ifeature::TriggerSourceType source = ifeature::eTriggerSourceRTC;
    EXPECT_FALSE(triggers->SetTriggerPrescaler(4, 1));
    EXPECT_FALSE(triggers->SetTriggerSource(size_t(-1), ifeature::eTriggerSourceOff));
    EXPECT_FALSE(triggers->GetTriggerSource(4, source));
    EXPECT_FALSE(triggers->GetTriggerCode(7, value));
    EXPECT_TRUE(log->Entries().empty());

    const std::vector<PaxTriggerGeneration::RegNodeConfiguration> row7 = {{7, "x", 2}};
    EXPECT_EQ(ErrorOf([&] { Make(PaxTriggerGeneration::c_trigConfigurations, &row7); }),
              "triggers: node override row 7 is out of range [0:6]");
    EXPECT_EQ(ErrorOf([&] { Make({{{"mc", true, 3}, {"t0", true, 4}, {"t1", true, 1}, {"t2", true, 2}}}); }),
              "triggers: trigger t0 has channel 4, not 0-3");
    EXPECT_EQ(ErrorOf([&] { Make({{{"a", true, 0}, {"t0", true, 0}, {"t1", true, 1}, {"t2", true, 2}}}); }),
              "triggers: no trigger on channel 3");
    EXPECT_TRUE(log->Entries().empty()) << "refused before the hardware is touched";
}

// Every set through a node is followed by the flush: the window's first word read back.
TEST_F(Triggers, EachSetIsFlushed)
{
    auto log = Memory().Log(c_base, PaxTriggerGeneration::Size());
    PaxTriggerGeneration* triggers = Make();
    struct Case {
        const char* what;
        std::function<bool()> set;
        Access write;
    };
    const Case cases[] = {
        {"prescaler", [&] { return triggers->SetTriggerPrescaler(1, 1000); }, {Access::eWrite, 0x28, 32, 1000}},
        {"debouncer", [&] { return triggers->SetTriggerDebouncer(2, 20); }, {Access::eWrite, 0x50, 32, 20}},
        {"code", [&] { return triggers->SetTriggerCode(0, 9); }, {Access::eWrite, 0x0C, 32, 9}},
        {"source", [&] { return triggers->SetTriggerSource(2, ifeature::eTriggerSourcePulse); },
         {Access::eWrite, 0x40, 64, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log->Clear();
        EXPECT_TRUE(c.set());
        std::vector<Access> entries = log->Entries();
        ASSERT_GE(entries.size(), 3u);
        EXPECT_EQ(entries[entries.size() - 3], c.write);
        entries.back().value = entries[entries.size() - 2].value = 0;
        EXPECT_EQ(std::vector<Access>(entries.end() - 2, entries.end()), Flush());
    }

    // A refused set writes and flushes nothing.
    log->Clear();
    EXPECT_FALSE(triggers->SetTriggerCode(0, 16));
    EXPECT_FALSE(triggers->SetTriggerSource(3, ifeature::eTriggerSourcePulse));
    EXPECT_EQ(log->Count(Access::eWrite), 0u);
    EXPECT_EQ(log->Count(Access::eRead, 4), 0u);

    // The board's software trigger: channel 2 to Pulse and back, each set flushed.
    log->Clear();
    ifeature::TriggerSourceType old = ifeature::eTriggerSourceOff;
    ASSERT_TRUE(triggers->GetTriggerSource(2, old));
    triggers->SetTriggerSource(2, ifeature::eTriggerSourceExternal);
    log->Clear();
    ASSERT_TRUE(triggers->GetTriggerSource(2, old));
    EXPECT_TRUE(triggers->SetTriggerSource(2, ifeature::eTriggerSourcePulse));
    EXPECT_TRUE(triggers->SetTriggerSource(2, old));
    EXPECT_EQ(Word64(0x40), 1u);
    EXPECT_EQ(log->Count(Access::eRead, 4), 2u);
}

// Codes 6 and 7 have no name: reads fail cleanly, and the source read answers false without
// handing out a source.
TEST_F(Triggers, AnUnnamedSourceCodeReadsAsInvalid)
{
    PaxTriggerGeneration* triggers = Make();
    auto node = triggers->GetChannelNode(1, PaxTriggerGeneration::eRowSource);
    for (uint64_t code : {6u, 7u}) {
        SCOPED_TRACE(code);
        Memory().WriteMemory64(c_base + 0x20, code);
        ifeature::TriggerSourceType source = ifeature::eTriggerSourceRTC;
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_FALSE(triggers->GetTriggerSource(1, source));
        EXPECT_EQ(source, ifeature::eTriggerSourceRTC);
        EXPECT_TRUE(capture.Contains("Cannot get value ireg node source: invalid value")) << capture.Text();
        std::string text;
        EXPECT_EQ(ErrorOf([&] { node->Get(text, 0, mci::c_noRelPath); }), "ireg node source: invalid value");
    }
}

TEST_F(Triggers, PreConfigSwitchesChannel2ToExternal)
{
    PaxTriggerGeneration* triggers = Make();
    triggers->PreConfig();
    EXPECT_EQ(Word64(0x40), 1u);
    EXPECT_EQ(Word64(0x00) | Word64(0x20) | Word64(0x60), 0u);
}

TEST_F(Triggers, LemoAndLxiRegisters)
{
    PaxTriggerGeneration* triggers = Make();
    Memory().WriteMemory32(c_base + 0xA0, 0x0005000A);
    EXPECT_TRUE(triggers->SetLXIDirection(0x1F));
    EXPECT_EQ(Word32(0xA0), 0x0005000Fu);
    uint32_t value = 0;
    EXPECT_TRUE(triggers->GetLXIDirection(value));
    EXPECT_EQ(value, 0xFu);

    Memory().WriteMemory64(c_base + 0xA8, 0xFFFFFFFF00000000u);
    EXPECT_TRUE(triggers->SetLemoControl(0x12345678));
    EXPECT_EQ(Word64(0xA8), 0x12345678u) << "the high half is written 0";
    EXPECT_TRUE(triggers->GetLemoControl(value));
    EXPECT_EQ(value, 0x12345678u);
}

TEST_F(Triggers, BackplaneSwitch)
{
    auto log = Memory().Log(c_base, PaxTriggerGeneration::Size());
    PaxTriggerGeneration* plain = Make();
    log->Clear();
    {
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_FALSE(plain->SetBackplaneT0Switch(ifeature::eBackplaneLineMC));
        EXPECT_TRUE(capture.Contains("Internal Error while trying to set backplane trigger switch which does not exist."));
    }
    EXPECT_TRUE(log->Entries().empty());
    board->RemoveChild(plain);

    // Straight into bits 16-18 before the registry, through "T0" afterwards.
    PaxTriggerGeneration* triggers = Make(PaxTriggerGeneration::c_trigConfigurations, nullptr, true);
    EXPECT_TRUE(triggers->SetBackplaneT0Switch(ifeature::eBackplaneLineMC));
    EXPECT_EQ(Word32(0xA0), 0x1000Fu);
    mci::TreeNodePtr node = AddRegistry(*triggers);
    auto t0 = Node(node, "backplane_trigger_switch/T0");
    ASSERT_TRUE(t0);
    EXPECT_EQ(node->GetNode("backplane_trigger_switch")->GetFlags(), 0x40u);
    EXPECT_EQ(t0->GetFlags(), 6u);
    std::string line;
    t0->Get(line, 0, mci::c_noRelPath);
    EXPECT_EQ(line, "MC");
    EXPECT_TRUE(triggers->SetBackplaneT0Switch(ifeature::eBackplaneLineT0));
    EXPECT_EQ(Word32(0xA0), 0xFu);
}

TEST_F(Triggers, ABackplaneSwitchThatDoesNotReadBackFails)
{
    // A board without the switch: bits 16-18 of the word read 0 whatever is written.
    struct NoSwitch : devio::RegisterModel {
        uint32_t OnRead32(size_t) override { return word; }
        void OnWrite32(size_t, uint32_t value) override { word = value & 0xFFFF; }
        uint32_t word = 0;
    };
    Memory().Attach(c_base + 0xA0, 4, std::make_shared<NoSwitch>());
    PaxTriggerGeneration* triggers = Make(PaxTriggerGeneration::c_trigConfigurations, nullptr, true);
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_FALSE(triggers->SetBackplaneT0Switch(ifeature::eBackplaneLineMC));
    EXPECT_TRUE(capture.Contains("Error while setting Backplane trigger switch, probably it does not exist."));
}

} // namespace
