// Masters and slaves, and the activator of a register table: the switching cycle of single and
// block writes, locking and release, client writes of its node, and the bit it drives.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/timing_fixture.h"
#include "iapp/activator.h"
#include "iapp/master_slave.h"
#include "iapp/multi_port_table.h"
#include "istd/exception.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"

using sim::boards::Access;
using testsupport::ErrorOf;

namespace {

// ----------------------------------------------------------------------------------------------
// Master and slave.

struct Spy : iapp::Slave {
    void OnMasterChange(const iapp::Master& master, iapp::Importance_e importance) override
    {
        if (calls != nullptr) {
            calls->push_back(this);
        }
        seen.push_back(importance);
        from = &master;
        if (fail) {
            throw istd::Exception("slave failed");
        }
    }
    std::vector<Spy*>* calls = nullptr;
    std::vector<iapp::Importance_e> seen;
    const iapp::Master* from = nullptr;
    bool fail = false;
};

TEST(MasterSlave, SlavesAreToldOnceEachInPointerOrder)
{
    iapp::Master master;
    master.UpdateSlaves(iapp::eImportanceBlock); // nobody to tell

    std::vector<Spy*> calls;
    Spy spies[3];
    for (Spy& spy : spies) {
        spy.calls = &calls;
    }
    master.Register(nullptr);
    master.Register(&spies[2]);
    master.Register(&spies[0]);
    master.Register(&spies[2]);
    master.Register(&spies[1]);
    master.UpdateSlaves(iapp::eImportanceEntry);
    EXPECT_EQ(calls, (std::vector<Spy*>{&spies[0], &spies[1], &spies[2]}));
    EXPECT_EQ(spies[2].seen, std::vector<iapp::Importance_e>{iapp::eImportanceEntry});
    EXPECT_EQ(spies[2].from, &master);
}

TEST(MasterSlave, AFailingSlaveStopsThePassAndReleasesTheMutex)
{
    iapp::Master master;
    std::vector<Spy*> calls;
    Spy spies[2];
    spies[0].fail = true;
    for (Spy& spy : spies) {
        spy.calls = &calls;
        master.Register(&spy);
    }
    EXPECT_EQ(ErrorOf([&] { master.UpdateSlaves(iapp::eImportanceBlock); }), "slave failed");
    EXPECT_EQ(calls, std::vector<Spy*>{&spies[0]});
    spies[0].fail = false;
    master.UpdateSlaves(iapp::eImportanceBlock); // would hang on a mutex left locked
    EXPECT_EQ(calls.size(), 3u);
}

// ----------------------------------------------------------------------------------------------
// The activator, switching bit 5 of a 32-bit control word for a four-entry table.

constexpr size_t c_table = 0x500000;
constexpr size_t c_control = 0x500100;

class ActivatorTest : public iapptest::TimingBlocks {
protected:
    void SetUp() override
    {
        TimingBlocks::SetUp();
        Memory().WriteMemory32(c_control, 0x0F);
        controlLog = Memory().Log(c_control, 8);
        control = reinterpret_cast<volatile uint32_t*>(board->MapRegisters(c_control, 8));
        active = std::make_unique<iapp::ActivatorBit<uint32_t>>("ports", *control, 5, true, "active");
        table = new iapp::MultiPortTable<uint32_t>(*board, board->MapRegisters(c_table, 0x40), "ports",
                                                   {"a", "b", "c", "d"}, {0, 0, 0, 0}, active.get(), 8, 0, 4, 0x4E);
    }

    void TearDown() override
    {
        // The tables go with the board before their activator.
        TimingBlocks::TearDown();
        active.reset();
    }

    bool Bit() { return (Memory().ReadMemory32(c_control) & 0x20) != 0; }

    void WriteBlock()
    {
        const uint32_t values[] = {1, 2, 3, 4};
        ASSERT_TRUE(table->SetMultiple(values, 0, 4));
    }

    std::shared_ptr<sim::boards::AccessLog> controlLog;
    volatile uint32_t* control = nullptr;
    std::unique_ptr<iapp::ActivatorBit<uint32_t>> active;
    iapp::MultiPortTable<uint32_t>* table = nullptr;
};

TEST_F(ActivatorTest, SwitchingCycle)
{
    mci::TreeNodePtr tableNode = AddRegistry(*table);
    auto node = Node(tableNode, "active");
    ASSERT_TRUE(node);
    ASSERT_EQ(active->GetNode(), node);

    const std::map<std::string, std::function<void()>> actions = {
        {"entry", [&] { table->Set(*table->GetEntry(1).GetWord(), 9); }},
        {"block", [&] { WriteBlock(); }},
        {"lock", [&] { active->Lock(); }},
        {"release", [&] { active->Release(); }},
        {"node true", [&] { node->Set(true, 0, mci::c_noRelPath); }},
        {"node false", [&] { node->Set(false, 0, mci::c_noRelPath); }},
        {"apply true", [&] { active->Apply(true); }},
    };
    struct Step {
        const char* action;
        bool bit;                // afterwards
        const char* error;       // what it throws
        size_t writes;           // of the control word
        const char* trace;       // a line traced at level 3, "" for none
    };
    const Step steps[] = {
        // Unlocked: entries switch off, blocks on.
        {"entry", false, "no error", 1, "Activating (0) ports"},
        {"block", true, "no error", 1, "Activating (1) ports"},
        {"entry", false, "no error", 1, ""},
        {"block", true, "no error", 1, ""},
        // Locked: a block switches off and caches; activation is refused; false is taken.
        {"lock", true, "no error", 0, "Locking ports"},
        {"block", false, "no error", 1, "Activator::OnMasterChange Caching new activation 1"},
        {"node true", false, "ireg: active: Activation is prevented in locked state", 0, ""},
        {"apply true", false, "ireg: active: Activation is prevented in locked state", 0, ""},
        {"node false", false, "no error", 1, ""},
        // One release applies the cached activation, a second one nothing.
        {"release", true, "no error", 1, "Modified 1 value: 1"},
        {"release", true, "no error", 0, "Modified 0 value: 0"},
        // Locked with single entries only: the release applies nothing.
        {"lock", true, "no error", 0, ""},
        {"entry", false, "no error", 1, ""},
        {"release", false, "no error", 0, "Releasing ports"},
        {"node true", true, "no error", 1, ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.action);
        controlLog->Clear();
        istd::TraceCapture capture(istd::eTraceDetail);
        EXPECT_EQ(ErrorOf(actions.at(step.action)), step.error);
        EXPECT_EQ(Bit(), step.bit);
        EXPECT_EQ(controlLog->Count(Access::eWrite), step.writes);
        EXPECT_EQ(Memory().ReadMemory32(c_control) & ~0x20u, 0x0Fu) << "only bit 5 is switched";
        if (*step.trace != '\0') {
            EXPECT_TRUE(capture.Contains(step.trace)) << capture.Text();
        }
        bool value = !step.bit;
        node->Get(value, 0, mci::c_noRelPath);
        EXPECT_EQ(value, step.bit) << "read back from the word";
    }
}

TEST_F(ActivatorTest, BeforeTheRegistryTheBitIsSwitchedDirectly)
{
    ASSERT_FALSE(active->GetNode());
    active->Apply(true);
    EXPECT_TRUE(Bit());
    active->Lock();
    EXPECT_EQ(ErrorOf([&] { active->Apply(true); }), "Activation is prevented in locked state");
    WriteBlock();
    EXPECT_FALSE(Bit());
    active->Release();
    EXPECT_TRUE(Bit());
}

TEST_F(ActivatorTest, WithoutReadBackGetAnswersTheAcceptedValue)
{
    iapp::ActivatorBit<uint32_t> blind("blind", *control, 2, false, "blind");
    blind.Apply(true);
    EXPECT_TRUE(blind.Get());
    Memory().WriteMemory32(c_control, 0); // the hardware clears it
    EXPECT_TRUE(blind.Get());
    bool value = false;
    EXPECT_TRUE(blind._GetActive(value));
    EXPECT_TRUE(value);
    EXPECT_FALSE(active->Get()) << "read back";
}

TEST_F(ActivatorTest, TheBitMustLieInTheWord)
{
    volatile uint64_t* wide = reinterpret_cast<volatile uint64_t*>(board->MapRegisters(0x500200, 8));
    Memory().WriteMemory64(0x500200, 0x5);
    auto log = Memory().Log(0x500200, 8);

    EXPECT_EQ(ErrorOf([&] { iapp::ActivatorBit<uint32_t>("x", *control, 32, true, "x"); }),
              "UpdateBit: Invalid argument");
    EXPECT_EQ(ErrorOf([&] { iapp::ActivatorBit<uint64_t>("x", *wide, 64, true, "x"); }),
              "UpdateBit: Invalid argument");
    iapp::ActivatorBit<uint32_t> top("top", *control, 31, true, "top");
    iapp::ActivatorBit<uint64_t> bit40("bit40", *wide, 40, true, "bit40");
    EXPECT_TRUE(log->Entries().empty()) << "construction does not touch the word";

    bit40.Apply(true);
    EXPECT_EQ(Memory().ReadMemory64(0x500200), 0x10000000005u);
    EXPECT_EQ(log->Entries(), (std::vector<Access>{{Access::eRead, 0, 64, 0x5}, {Access::eWrite, 0, 64, 0x10000000005u}}));
    EXPECT_TRUE(bit40.Get());
    uint64_t mask = 0;
    EXPECT_EQ(&bit40.GetBitReference(mask), wide);
    EXPECT_EQ(mask, uint64_t(1) << 40);
    bit40.Apply(false);
    EXPECT_EQ(Memory().ReadMemory64(0x500200), 0x5u);
}

} // namespace
