// Multi-port register tables on simulated board memory: the layout of the words, the range of
// single writes and what is stored, block writes, the registry tree with its validators, what
// each write reports to the table's slaves and which nodes' subscribers hear of it.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/timing_fixture.h"
#include "iapp/activator.h"
#include "iapp/master_slave.h"
#include "iapp/multi_port_table.h"
#include "ireg/tests/common/ireg_test_util.h"
#include <any>
#include "tests/support/error_of.h"

using sim::boards::Access;
using testsupport::ErrorOf;

namespace {

constexpr size_t c_base = 0x420000;
constexpr size_t c_window = 0x100;

class Table : public iapptest::TimingBlocks {
protected:
    template <class T>
    iapp::MultiPortTable<T>* Make(const std::vector<std::string>& names, const std::vector<T>& values,
                                  uint32_t width, uint32_t offset = 0, uint32_t gap = 0,
                                  iapp::Activator* activator = nullptr, mci::Flags flags = 0x4E)
    {
        return new iapp::MultiPortTable<T>(*board, board->MapRegisters(c_base, c_window), "table", names, values,
                                           activator, width, offset, gap, flags);
    }

    // Every write of a table's construction, in order.
    template <class T>
    std::vector<Access> Layout(sim::boards::AccessLog& log, uint32_t gap)
    {
        log.Clear();
        board->RemoveChild(Make<T>({"a", "b", "c"}, {1, 2, 3}, 8, 0, gap));
        return log.Entries();
    }
};

// A slave that records what its master reported.
struct Reports : iapp::Slave {
    void OnMasterChange(const iapp::Master&, iapp::Importance_e importance) override { seen.push_back(importance); }
    std::vector<iapp::Importance_e> Take() { return std::exchange(seen, {}); }
    std::vector<iapp::Importance_e> seen;
};

TEST_F(Table, EntriesLieAtTheStrideOfWordAndGap)
{
    auto log = Memory().Log(c_base, c_window);
    auto w32 = [](size_t offset, uint64_t value) { return Access{Access::eWrite, offset, 32, value}; };
    auto w64 = [](size_t offset, uint64_t value) { return Access{Access::eWrite, offset, 64, value}; };
    EXPECT_EQ(Layout<uint32_t>(*log, 4), (std::vector<Access>{w32(0, 1), w32(8, 2), w32(16, 3)}));
    EXPECT_EQ(Layout<int32_t>(*log, 0), (std::vector<Access>{w32(0, 1), w32(4, 2), w32(8, 3)}));
    EXPECT_EQ(Layout<uint64_t>(*log, 0), (std::vector<Access>{w64(0, 1), w64(8, 2), w64(16, 3)}));
    EXPECT_EQ(Layout<int64_t>(*log, 8), (std::vector<Access>{w64(0, 1), w64(16, 2), w64(32, 3)}));

    // Size counts the words, not the gaps.
    EXPECT_EQ(Make<uint64_t>(std::vector<std::string>(10, "e"), std::vector<uint64_t>(10), 8)->Size(), 80u);
    EXPECT_EQ(Make<uint32_t>({"a", "b", "c"}, {0, 0, 0}, 8, 0, 4)->Size(), 12u);
}

TEST_F(Table, ConstructionRefusesWhatTheWordsCannotHold)
{
    auto log = Memory().Log(c_base, c_window);
    const size_t children = board->GetChildren().size();
    const std::string width = "Internal error: Invalid width argument.";
    EXPECT_EQ(ErrorOf([&] { Make<uint32_t>({"a"}, {0}, 25, 8); }), width);
    EXPECT_EQ(ErrorOf([&] { Make<uint32_t>({"a"}, {0}, 33); }), width);
    EXPECT_EQ(ErrorOf([&] { Make<uint32_t>({"a"}, {0}, 0); }), width);
    EXPECT_EQ(ErrorOf([&] { Make<int64_t>({"a"}, {0}, 64, 1); }), width);
    EXPECT_EQ(ErrorOf([&] { Make<uint32_t>({"a", "b", "c"}, {0, 0}, 8); }),
              "Internal error: list of names and init values must be synchronized.");
    EXPECT_EQ(ErrorOf([&] { Make<uint32_t>({"a", "b"}, {0, 0}, 8, 0, 2); }), "Internal error: Invalid gap argument.");
    EXPECT_EQ(ErrorOf([&] { Make<uint64_t>({"a", "b"}, {0, 0}, 8, 0, 4); }), "Internal error: Invalid gap argument.");
    EXPECT_EQ(ErrorOf([&] {
                  iapp::MultiPortTable<uint32_t>(*board, nullptr, "t", {"a"}, {0}, nullptr, 8, 0, 0, 0);
              }),
              "Internal error: Invalid base address.");
    EXPECT_TRUE(log->Entries().empty());
    EXPECT_EQ(board->GetChildren().size(), children) << "no half-built table stays";

    // The whole word is a width, from either end.
    EXPECT_EQ(ErrorOf([&] { Make<uint32_t>({"a"}, {0}, 24, 8); }), "no error");
    EXPECT_EQ(ErrorOf([&] { Make<uint64_t>({"a"}, {0}, 64); }), "no error");
}

TEST_F(Table, SingleWritesMustFitTheWidth)
{
    Reports reports;
    auto* table = Make<uint32_t>({"a", "b"}, {7, 0}, 8, 0, 4);
    table->Register(&reports);
    volatile uint32_t& a = *table->GetEntry(0).GetWord();
    EXPECT_TRUE(table->Set(a, 255));
    EXPECT_EQ(Memory().ReadMemory32(c_base), 255u);
    EXPECT_EQ(ErrorOf([&] { table->Set(a, 256); }), "The specified value 256is out of range");
    EXPECT_EQ(Memory().ReadMemory32(c_base), 255u);
    EXPECT_EQ(reports.Take(), std::vector<iapp::Importance_e>{iapp::eImportanceEntry}) << "a refusal reports nothing";

    // Block writes store the values as they are; reads keep the width.
    const uint32_t run[] = {0x1FF, 0x100};
    EXPECT_TRUE(table->SetMultiple(run, 0, 2));
    EXPECT_EQ(Memory().ReadMemory32(c_base), 0x1FFu);
    uint32_t values[2] = {};
    EXPECT_EQ(table->GetMultiple(values, 0, 2), 2u);
    EXPECT_EQ(values[0], 0xFFu);
    EXPECT_EQ(values[1], 0u);
    uint32_t value = 0;
    table->Get(a, value);
    EXPECT_EQ(value, 0xFFu);
}

TEST_F(Table, SignedEntriesAreTwosComplementInTheWidth)
{
    auto* table = Make<int32_t>({"a", "b"}, {0, 0x1234}, 8);
    volatile int32_t& a = *table->GetEntry(0).GetWord();
    struct Case {
        int32_t value;
        const char* error;
        uint32_t word;   // stored
        int32_t get;     // Get
        int32_t multiple; // GetMultiple
    };
    const Case cases[] = {
        {-128, "no error", 0x80, -128, 128},
        {127, "no error", 0x7F, 127, 127},
        {-1, "no error", 0xFF, -1, 255},
        {128, "The specified value 128is out of range", 0xFF, -1, 255},
        {-129, "The specified value -129is out of range", 0xFF, -1, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ErrorOf([&] { table->Set(a, c.value); }), c.error);
        EXPECT_EQ(Memory().ReadMemory32(c_base), c.word);
        int32_t value = 0;
        table->Get(a, value);
        EXPECT_EQ(value, c.get);
        int32_t multiple = 0;
        EXPECT_EQ(table->GetMultiple(&multiple, 0, 1), 1u);
        EXPECT_EQ(multiple, c.multiple);
    }
    // Bits above the width with the sign bit clear: Get answers the whole word.
    int32_t value = 0;
    table->Get(*table->GetEntry(1).GetWord(), value);
    EXPECT_EQ(value, 0x1234);

    // A 40-bit entry of a 64-bit table.
    auto* wide = new iapp::MultiPortTable<int64_t>(*board, board->MapRegisters(c_base + 0x80, 8), "wide", {"w"}, {0},
                                                   nullptr, 40, 0, 0, 0x4E);
    volatile int64_t& w = *wide->GetEntry(0).GetWord();
    EXPECT_TRUE(wide->Set(w, -1));
    EXPECT_EQ(Memory().ReadMemory64(c_base + 0x80), 0xFFFFFFFFFFu);
    int64_t wideValue = 0;
    wide->Get(w, wideValue);
    EXPECT_EQ(wideValue, -1);
    EXPECT_EQ(ErrorOf([&] { wide->Set(w, int64_t(1) << 39); }), "The specified value 549755813888is out of range");
}

TEST_F(Table, RunsMustFitTheTable)
{
    Reports reports;
    auto* table = Make<uint32_t>({"a", "b", "c", "d"}, {1, 2, 3, 4}, 8);
    table->Register(&reports);
    auto log = Memory().Log(c_base, c_window);
    const uint32_t run[] = {9, 9, 9};
    EXPECT_FALSE(table->_SetMultiple(run, 2, 3));
    EXPECT_FALSE(table->SetMultiple(run, 5, 0));
    EXPECT_FALSE(table->_SetMultiple(run, SIZE_MAX, 2));
    uint32_t values[3] = {};
    EXPECT_EQ(table->GetMultiple(values, 2, 3), 0u);
    EXPECT_EQ(table->GetMultiple(values, SIZE_MAX, 2), 0u);
    EXPECT_TRUE(log->Entries().empty());
    EXPECT_TRUE(reports.Take().empty());

    // An empty run at the start writes nothing but still reports a block.
    EXPECT_TRUE(table->_SetMultiple(run, 0, 0));
    EXPECT_TRUE(log->Entries().empty());
    EXPECT_EQ(reports.Take(), std::vector<iapp::Importance_e>{iapp::eImportanceBlock});
    EXPECT_TRUE(table->_SetMultiple(run, 1, 3));
    EXPECT_EQ(table->GetMultiple(values, 1, 3), 3u);
    EXPECT_EQ(std::vector<uint32_t>(values, values + 3), (std::vector<uint32_t>{9, 9, 9}));
}

TEST_F(Table, RegistryTree)
{
    iapp::ActivatorBit<uint32_t> active("ports", *reinterpret_cast<volatile uint32_t*>(board->MapRegisters(0x500000, 4)),
                                        0, true, "active");
    auto* table = Make<uint32_t>({"a", "b"}, {0, 0}, 8, 0, 0, &active, 0x4E);
    mci::TreeNodePtr node = AddRegistry(*table);
    std::vector<std::string> names;
    for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
        names.push_back(child->GetName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"active", "data"}));

    struct Row {
        const char* path;
        mci::Flags flags;
        mci::enums::NodeValType_e type;
        size_t size;
        const char* validator;
    };
    const Row rows[] = {
        {"active", 0x6, mci::enums::eBool, 1, ""},
        {"data", 0x24E, mci::enums::eUInt32, 2, "[0, 255]"},
        {"data/a", 0x46, mci::enums::eUInt32, 1, "[0, 255]"},
        {"data/b", 0x46, mci::enums::eUInt32, 1, "[0, 255]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        auto n = Node(node, row.path);
        ASSERT_TRUE(n);
        EXPECT_EQ(n->GetFlags(), row.flags);
        EXPECT_EQ(n->GetValueType(), row.type);
        EXPECT_EQ(n->GetSize(), row.size);
        std::string text;
        n->GetValidatorExpression(text);
        EXPECT_EQ(text, row.validator);
    }
}

TEST_F(Table, WritesThroughTheNodesAreValidatedThenRangeChecked)
{
    Reports reports;
    auto* table = Make<int32_t>({"a", "b"}, {5, 6}, 8);
    table->Register(&reports);
    mci::TreeNodePtr node = AddRegistry(*table);
    auto data = Node(node, "data");
    auto a = Node(node, "data/a");
    EXPECT_EQ(ErrorOf([&] { a->Set(int32_t(-1), 0, mci::c_noRelPath); }), "ireg: a: Validation failed: [0, 255] for -1");
    EXPECT_EQ(ErrorOf([&] { a->Set(int32_t(128), 0, mci::c_noRelPath); }), "ireg: a: The specified value 128is out of range");
    EXPECT_EQ(ErrorOf([&] { data->Set(std::vector<int32_t>{1, 256}, 0, mci::c_noRelPath); }),
              "ireg: data: Validation failed: [0, 255] for 256");
    EXPECT_EQ(Memory().ReadMemory32(c_base), 5u);
    EXPECT_EQ(Memory().ReadMemory32(c_base + 4), 6u);
    EXPECT_TRUE(reports.Take().empty());

    // Through the node 128..255 are refused by the table; a "data" run takes them.
    a->Set(int32_t(127), 0, mci::c_noRelPath);
    EXPECT_EQ(reports.Take(), std::vector<iapp::Importance_e>{iapp::eImportanceEntry});
    data->Set(std::vector<int32_t>{200, 201}, 0, mci::c_noRelPath);
    EXPECT_EQ(reports.Take(), std::vector<iapp::Importance_e>{iapp::eImportanceBlock});
    data->Set(std::vector<int32_t>{3}, 1, mci::c_noRelPath);
    EXPECT_EQ(reports.Take(), std::vector<iapp::Importance_e>{iapp::eImportanceBlock});
    int32_t value = 0;
    a->Get(value, 0, mci::c_noRelPath);
    EXPECT_EQ(value, -56) << "the entry reads 200 sign-extended";
    std::vector<int32_t> values;
    data->Get(values, 0, 0, mci::c_noRelPath);
    EXPECT_EQ(values, (std::vector<int32_t>{200, 3}));
}

// Which nodes' subscribers hear of each write, with what, and that the table's slave is told
// once per write.
TEST_F(Table, EachWriteNotifiesTheWrittenAndTheOtherNodes)
{
    Reports reports;
    auto* table = Make<uint32_t>({"a", "b", "c"}, {1, 2, 3}, 8, 0, 4);
    table->Register(&reports);
    mci::TreeNodePtr node = AddRegistry(*table);
    auto data = Node(node, "data");
    auto b = Node(node, "data/b");
    auto c = Node(node, "data/c");
    iregtest::Recorder dataRecorder, bRecorder, cRecorder;
    ASSERT_TRUE(dataRecorder.Subscribe(data));
    ASSERT_TRUE(bRecorder.Subscribe(b));
    ASSERT_TRUE(cRecorder.Subscribe(c));

    auto vector = [](const mci::NotificationData& n) { return std::any_cast<std::vector<uint32_t>>(n.value); };
    auto scalar = [](const mci::NotificationData& n) { return std::any_cast<uint32_t>(n.value); };

    // An entry through its node: the entry's value and the whole table.
    b->Set(uint32_t(7), 0, mci::c_noRelPath);
    EXPECT_EQ(reports.Take(), std::vector<iapp::Importance_e>{iapp::eImportanceEntry});
    ASSERT_TRUE(bRecorder.WaitFor(1));
    ASSERT_TRUE(dataRecorder.WaitFor(1));
    EXPECT_EQ(scalar(bRecorder.Received()[0]), 7u);
    EXPECT_EQ(vector(dataRecorder.Received()[0]), (std::vector<uint32_t>{1, 7, 3}));

    // A run through "data": each written entry, and the run itself.
    data->Set(std::vector<uint32_t>{8, 9}, 1, mci::c_noRelPath);
    EXPECT_EQ(reports.Take(), std::vector<iapp::Importance_e>{iapp::eImportanceBlock});
    ASSERT_TRUE(bRecorder.WaitFor(2));
    ASSERT_TRUE(cRecorder.WaitFor(1));
    ASSERT_TRUE(dataRecorder.WaitFor(2));
    EXPECT_EQ(scalar(bRecorder.Received()[1]), 8u);
    EXPECT_EQ(scalar(cRecorder.Received()[0]), 9u);
    EXPECT_EQ(vector(dataRecorder.Received()[1]), (std::vector<uint32_t>{8, 9}));
    EXPECT_EQ(dataRecorder.Received()[1].position, 1u);

    // The program's writes: one entry, then a run.
    table->Set(*table->GetEntry(2).GetWord(), 4);
    ASSERT_TRUE(dataRecorder.WaitFor(3));
    EXPECT_EQ(vector(dataRecorder.Received()[2]), (std::vector<uint32_t>{1, 8, 4}));
    const uint32_t run[] = {5};
    EXPECT_TRUE(table->SetMultiple(run, 2, 1));
    ASSERT_TRUE(cRecorder.WaitFor(2));
    ASSERT_TRUE(dataRecorder.WaitFor(4));
    EXPECT_EQ(scalar(cRecorder.Received()[1]), 5u);
    EXPECT_EQ(vector(dataRecorder.Received()[3]), (std::vector<uint32_t>{1, 8, 5}));
    EXPECT_EQ(reports.Take(), (std::vector<iapp::Importance_e>{iapp::eImportanceEntry, iapp::eImportanceBlock}));

    // Nothing more came, and an unsubscribed node is not announced to.
    ASSERT_TRUE(data->Unsubscribe(dataRecorder.Client()->GetId()));
    table->Set(*table->GetEntry(0).GetWord(), 6);
    EXPECT_TRUE(bRecorder.WaitFor(2));
    EXPECT_EQ(bRecorder.Received().size(), 2u);
    EXPECT_EQ(cRecorder.Received().size(), 2u);
    EXPECT_EQ(dataRecorder.Received().size(), 4u);
}

} // namespace
