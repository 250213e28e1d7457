// Remote writes of a register table, its activator and the trigger channels, made through the
// remote-node servant in this process as a client's requests reach it: every refusal comes back
// with its text, and nothing refused reaches the registers.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/timing_fixture.h"
#include "iapp/activator.h"
#include "iapp/features/pax_trigger_generation.h"
#include "iapp/multi_port_table.h"
#include "inet/orb_manager.h"
#include "ireg/i_remote_node_impl.h"

namespace {

constexpr size_t c_table = 0x420000;
constexpr size_t c_control = 0x420100;
constexpr size_t c_triggers = 0x400000;

class RemoteWrites : public iapptest::TimingBlocks {
protected:
    void SetUp() override
    {
        static char name[] = "test";
        static char* argv[] = {name, nullptr};
        int argc = 1;
        inet::OrbManager::Init(argc, argv, 0, 1u << 22); // port 0: the system chooses while it binds
        TimingBlocks::SetUp();

        active = std::make_unique<iapp::ActivatorBit<uint32_t>>(
            "ports", *reinterpret_cast<volatile uint32_t*>(board->MapRegisters(c_control, 4)), 0, true, "active");
        table = new iapp::MultiPortTable<uint32_t>(*board, board->MapRegisters(c_table, 0x20), "table",
                                                   {"a", "b", "c", "d"}, {1, 2, 3, 4}, active.get(), 8, 0, 0, 0x4E);
        AddRegistry(*table);
        triggers = board->RegisterObject<ifeature::PaxTriggerGeneration>(
            c_triggers, "triggers", ifeature::PaxTriggerGeneration::c_trigConfigurations, nullptr, false);
        AddRegistry(*triggers);
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node(registry, mci::c_noRelPath));
        servant = std::make_unique<ireg::i_RemoteNode_impl>();
    }

    void TearDown() override
    {
        servant.reset();
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
        TimingBlocks::TearDown();
        active.reset();
        inet::OM().ORBDestroy();
    }

    // The servant's answer to a write: "ok" or the exception's kind and text.
    std::string Write(const std::string& path, const CORBA::Any& value, CORBA::ULong position = 0)
    {
        i_NET::NodePath names;
        std::istringstream in(path);
        for (std::string name; std::getline(in, name, '/');) {
            names.length(names.length() + 1);
            names[names.length() - 1] = name.c_str();
        }
        try {
            servant->SetValue(names, value, position);
            return "ok";
        } catch (const i_NET::ValueException& e) {
            return std::string("ValueException: ") + e.message.in();
        } catch (const i_NET::InvalidType& e) {
            return std::string("InvalidType: ") + e.message.in();
        } catch (const i_NET::NotFound& e) {
            return std::string("NotFound: ") + e.message.in();
        }
    }

    template <class SEQ, class T>
    static CORBA::Any Values(const std::vector<T>& values)
    {
        SEQ sequence;
        sequence.length(static_cast<CORBA::ULong>(values.size()));
        for (CORBA::ULong i = 0; i < values.size(); ++i) {
            sequence[i] = values[i];
        }
        CORBA::Any any;
        any <<= sequence;
        return any;
    }
    static CORBA::Any UInt32s(const std::vector<CORBA::ULong>& v) { return Values<i_NET::UInt32Buffer>(v); }
    static CORBA::Any Texts(const std::vector<const char*>& v) { return Values<i_NET::StringBuffer>(v); }

    std::unique_ptr<iapp::ActivatorBit<uint32_t>> active;
    iapp::MultiPortTable<uint32_t>* table = nullptr;
    ifeature::PaxTriggerGeneration* triggers = nullptr;
    std::unique_ptr<ireg::i_RemoteNode_impl> servant;
};

TEST_F(RemoteWrites, RefusalsKeepTheRegisters)
{
    active->Lock();
    auto log = Memory().Log(c_table, 0x20);
    auto triggerLog = Memory().Log(c_triggers, ifeature::PaxTriggerGeneration::Size());
    i_NET::BooleanBuffer on;
    on.length(1);
    on[0] = true;
    CORBA::Any activate;
    activate <<= on;

    struct Case {
        std::string path;
        CORBA::Any value;
        CORBA::ULong position;
        std::string answer;
    };
    const Case cases[] = {
        {"table/data", UInt32s({9, 9}), 3, "ValueException: ireg: data: Size too large"},
        {"table/data", UInt32s({9}), 4, "ValueException: ireg: data: Position out of range"},
        {"table/data", UInt32s({9, 9, 9, 9, 9}), 0, "ValueException: ireg: data: Size too large"},
        {"table/data", UInt32s({9, 256}), 0, "ValueException: ireg: data: Validation failed: [0, 255] for 256"},
        {"table/data/b", UInt32s({256}), 0, "ValueException: ireg: b: Validation failed: [0, 255] for 256"},
        {"table/data/b", UInt32s({7}), 1, "ValueException: ireg: b: Position out of range"},
        {"table/active", activate, 0, "ValueException: ireg: active: Activation is prevented in locked state"},
        {"triggers/t2/code", UInt32s({16}), 0, "ValueException: ireg: code: Too large value.16 for node code"},
        {"triggers/t2/prescaler", Values<i_NET::UInt64Buffer>(std::vector<CORBA::ULongLong>{4294967296ULL}), 0,
         "ValueException: ireg: prescaler: prescaler: unsupported argument type while setting a node value"},
        {"triggers/t2/prescaler", Values<i_NET::Int32Buffer>(std::vector<CORBA::Long>{-1}), 0,
         "ValueException: ireg: prescaler: prescaler: unsupported argument type while setting a node value"},
        {"triggers/t2/prescaler", Texts({"99999999999999999999"}), 0,
         "ValueException: ireg: prescaler: prescaler: unsupported argument type while setting a node value"},
        {"triggers/t2/source", Texts({"external"}), 0, "ValueException: Invalid integer value"},
        {"triggers/t2/source", Texts({"EXTERNAL"}), 0, "ValueException: Invalid integer value"},
        {"triggers/t2/source", Texts({"99999999999999999999"}), 0, "ValueException: Invalid integer value"},
        {"triggers/t2/source", Texts({"6"}), 0, "ValueException: Invalid enum value"},
        {"triggers/mc/source", Texts({"Internal"}), 0, "ValueException: ireg: source: Validation failed: {0,1,5} for 2"},
        {"triggers/mc/source", Values<i_NET::Int32Buffer>(std::vector<CORBA::Long>{3}), 0,
         "ValueException: ireg: source: Validation failed: {0,1,5} for 3"},
        {"triggers/t2/ignored_counter", UInt32s({1}), 0, "ValueException: Node is not writable."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " at " + std::to_string(c.position));
        EXPECT_EQ(Write(c.path, c.value, c.position), c.answer);
    }
    EXPECT_EQ(log->Count(sim::boards::Access::eWrite), 0u);
    EXPECT_EQ(triggerLog->Count(sim::boards::Access::eWrite), 0u);
    EXPECT_EQ(Memory().ReadMemory32(c_control), 0u);

    // What is accepted: a numeric source text with its sign, a run that fits, false while locked.
    CORBA::Any off;
    on[0] = false;
    off <<= on;
    EXPECT_EQ(Write("table/active", off), "ok");
    EXPECT_EQ(Write("table/data", UInt32s({7, 8}), 2), "ok");
    EXPECT_EQ(Write("triggers/t2/source", Texts({"+1"})), "ok");
    EXPECT_EQ(Write("triggers/mc/source", Texts({"RTC"})), "ok");
    EXPECT_EQ(Write("triggers/t2/prescaler", UInt32s({4294967295u})), "ok");
    EXPECT_EQ(Memory().ReadMemory32(c_table + 8), 7u);
    EXPECT_EQ(Memory().ReadMemory64(c_triggers + 0x40), 1u);
    EXPECT_EQ(Memory().ReadMemory64(c_triggers + 0x60), 5u);
    EXPECT_EQ(Memory().ReadMemory32(c_triggers + 0x48), 4294967295u);
    EXPECT_EQ(Memory().ReadMemory32(c_control), 0u) << "the block write was cached while locked";
    active->Release();
    EXPECT_EQ(Memory().ReadMemory32(c_control), 1u);
}

} // namespace
