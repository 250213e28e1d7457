// Writes of a register table and of its activator from two threads at once, through the nodes
// as clients make them, with subscribers on every node so that each write also notifies the
// other nodes: the writes must all end (no lock-order deadlock) and leave the memory as the last
// writes left it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "common/run_together.h"
#include "common/timing_fixture.h"
#include "iapp/activator.h"
#include "iapp/multi_port_table.h"
#include "ireg/reg_value_node.h"
#include "ireg/tests/common/ireg_test_util.h"
#include "mci/dispatcher.h"

namespace {

constexpr int c_operations = 10000;
constexpr size_t c_table = 0x500000;
constexpr size_t c_control = 0x500100;

class TableThreads : public iapptest::TimingBlocks {
protected:
    void SetUp() override
    {
        // The recorder keeps up with two writers only while it gets its share of the machine:
        // on a loaded one it may fall further behind than a client's queue may (and be broken),
        // which is the delivery's business, not the table's.
        m_limits = mci::Dispatcher::GetInstance().GetLimits();
        mci::DeliveryLimits roomy = m_limits;
        roomy.queueCount = size_t{1} << 22;
        roomy.queueBytes = size_t{4} << 30;
        mci::Dispatcher::GetInstance().SetLimits(roomy);
        TimingBlocks::SetUp();
        // Threads share these words: one access at a time, as the FPGA's bus serves them.
        Memory().Attach(c_table, 0x200, Memory().Memory(c_table));
        control = reinterpret_cast<volatile uint32_t*>(board->MapRegisters(c_control, 4));
        active = std::make_unique<iapp::ActivatorBit<uint32_t>>("ports", *control, 3, true, "active");
        table = new iapp::MultiPortTable<uint32_t>(*board, board->MapRegisters(c_table, 0x40), "ports",
                                                   {"a", "b", "c", "d"}, {0, 0, 0, 0}, active.get(), 8, 0, 4, 0x4E);
        node = AddRegistry(*table);
        for (const char* path : {"active", "data", "data/a", "data/b", "data/c", "data/d"}) {
            ASSERT_TRUE(recorder.Subscribe(Node(node, path))) << path;
        }
    }

    void TearDown() override
    {
        recorder.Client()->Shutdown();
        TimingBlocks::TearDown();
        active.reset();
        mci::Dispatcher::GetInstance().SetLimits(m_limits);
    }

    void RunTogether(const std::function<void(int)>& first, const std::function<void(int)>& second)
    {
        iapptest::RunTogether(c_operations, first, second);
    }

    uint32_t Word(size_t entry) { return Memory().ReadMemory32(c_table + 8 * entry); }

    volatile uint32_t* control = nullptr;
    std::unique_ptr<iapp::ActivatorBit<uint32_t>> active;
    iapp::MultiPortTable<uint32_t>* table = nullptr;
    mci::TreeNodePtr node;
    iregtest::Recorder recorder;
    mci::DeliveryLimits m_limits;
};

// A client switching the activator while another writes the table: the node's lock and the
// table's notification of the activator meet in opposite orders.
TEST_F(TableThreads, ActivatorNodeAgainstTableWrites)
{
    auto activeNode = Node(node, "active");
    auto data = Node(node, "data");
    auto b = Node(node, "data/b");
    RunTogether(
        [&](int i) {
            // Ends with false.
            activeNode->Set(i % 2 == 0, 0, mci::c_noRelPath);
        },
        [&](int i) {
            const uint32_t v = static_cast<uint32_t>(i % 256);
            if (i % 2 == 0) {
                data->Set(std::vector<uint32_t>{v, v, v, v}, 0, mci::c_noRelPath);
            } else {
                b->Set(v, 0, mci::c_noRelPath); // ends with an entry: switched off
            }
        });
    EXPECT_EQ(Memory().ReadMemory32(c_control) & 0x8, 0u);
    const uint32_t last = (c_operations - 1) % 256;
    EXPECT_EQ(Word(0), last - 1);
    EXPECT_EQ(Word(1), last);
    EXPECT_EQ(Word(3), last - 1);
}

// Entry writes through the entries' nodes against runs written through "data": each announces a
// change to the other kind of node while holding its own node's lock. One thread writes values
// below 128, the other 128 and above, so each word shows whose write was last.
TEST_F(TableThreads, EntryWritesAgainstDataWrites)
{
    auto data = Node(node, "data");
    std::vector<std::shared_ptr<ireg::RegNode>> entries;
    for (const char* path : {"data/a", "data/b", "data/c", "data/d"}) {
        entries.push_back(Node(node, path));
    }
    auto marker = iregtest::Make<ireg::RegValueNode<uint32_t>>("marker", 0u);
    ASSERT_TRUE(recorder.Subscribe(marker));
    auto entryValue = [](int i) { return static_cast<uint32_t>(i % 128); };
    auto runValue = [](int i, size_t k) { return static_cast<uint32_t>(128 + (i + k) % 128); };
    RunTogether([&](int i) { entries[static_cast<size_t>(i) % 4]->Set(entryValue(i), 0, mci::c_noRelPath); },
                [&](int i) {
                    data->Set(std::vector<uint32_t>{runValue(i, 0), runValue(i, 1), runValue(i, 2), runValue(i, 3)}, 0,
                              mci::c_noRelPath);
                });
    std::vector<uint32_t> words;
    for (size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        words.push_back(Word(k));
        const uint32_t lastEntry = entryValue(c_operations - 4 + static_cast<int>(k));
        const uint32_t lastRun = runValue(c_operations - 1, k);
        EXPECT_TRUE(words[k] == lastEntry || words[k] == lastRun) << words[k];
    }

    // The last notification of every node carries what the words finally hold. The marker's
    // change, made after all the writes, arrives after all their notifications.
    marker->Set(1u, 0, mci::c_noRelPath);
    ASSERT_TRUE(recorder.WaitForNode(marker, std::chrono::minutes(2)));
    ASSERT_FALSE(recorder.Client()->IsBroken());
    std::vector<uint32_t> lastHeard(4, 1000);
    std::vector<uint32_t> lastRunHeard;
    for (const mci::NotificationData& n : recorder.Received()) {
        const std::string name = n.node.GetTreeNode()->GetName();
        if (name == "data") {
            lastRunHeard = std::any_cast<std::vector<uint32_t>>(n.value);
        } else if (name.size() == 1) {
            lastHeard[static_cast<size_t>(name[0] - 'a')] = std::any_cast<uint32_t>(n.value);
        }
    }
    EXPECT_EQ(lastHeard, words);
    EXPECT_EQ(lastRunHeard, words);
}

} // namespace
