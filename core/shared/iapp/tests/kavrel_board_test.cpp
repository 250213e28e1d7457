// Board components on the simulated chassis: windows of the mapped FPGA space, FPGA objects and
// their board, and the identification block "info" with its nodes.

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "bmc/test_connection.h"
#include "common/sim_boards.h"
#include "iapp/identification_block.h"
#include "iapp/kavrel_fpga_object.h"
#include "ireg/reg_node.h"
#include "istd/trace_capture.h"
#include "mci/factory.h"
#include "tests/support/error_of.h"

using sim::boards::Access;
using testsupport::ErrorOf;

namespace {

class Board : public iapptest::SimBoards {};

// An FPGA object of a given window size over 64-bit words.
template <size_t N>
class Block : public iapp::KavrelFpgaObject {
public:
    static size_t Size() { return N; }
    Block(iapp::KavrelBoard& board, volatile iapp::FPGAMem_t* window, const std::string& name)
        : KavrelFpgaObject(board, name), window(window)
    {
    }
    volatile iapp::FPGAMem_t* const window;
};

// A feature in between, and one that is no feature at all.
class Feature : public iapp::KavrelFeature {
public:
    using KavrelFeature::KavrelFeature;
};
class Plain : public iapp::KavrelObject {
public:
    using KavrelObject::KavrelObject;
};
class Orphan : public iapp::KavrelFpgaObject {
public:
    Orphan(iapp::KavrelObject& parent, const std::string& name) : KavrelFpgaObject(parent, name) {}
};

// A board whose own mapping never opens anything.
class UnopenedBoard : public iapp::KavrelBoard {
public:
    using KavrelBoard::KavrelBoard;
    void MapDevice(bmc::DeviceMapping_t&) const override {}
};

TEST_F(Board, MapRegistersGrantsOnlyWindowsInsideTheMapping)
{
    Start(0x104);
    iapp::KavrelBoard* board = nullptr;
    {
        istd::TraceCapture capture(istd::eTraceWarning);
        board = MakeBoard(3);
        // The constructor's "info" is the first call: before any mapping.
        EXPECT_TRUE(capture.Contains("Map registers: -1 pax3 0 24")) << capture.Text();
    }
    EXPECT_EQ(board->GetName(), "pax3");
    EXPECT_EQ(board->GetType(), bmc::eBoardTypePAX);
    EXPECT_EQ(board->Uri().ToString(), "kvr:///chassis/3");
    ASSERT_NE(board->GetIdentificationBlock(), nullptr);

    const ssize_t max = std::numeric_limits<ssize_t>::max();
    struct Case {
        ssize_t offset;
        ssize_t size;
        const char* refusal; // nullptr: granted
    };
    const Case cases[] = {
        {0, 24, nullptr},
        {0, 0x104, nullptr},
        {0x100, 4, nullptr},
        {0x104, 0, nullptr},
        {0x100, 8, "The specified memory offset address 100 exceeds the maximum size 104."},
        {0, 0x105, "The specified memory offset address 0 exceeds the maximum size 104."},
        {-8, 8, "The specified memory offset address -8 exceeds the maximum size 104."},
        {8, -4, "The specified memory offset address 8 exceeds the maximum size 104."},
        {max, 1, "The specified memory offset address 7fffffffffffffff exceeds the maximum size 104."},
        {4, max, "The specified memory offset address 4 exceeds the maximum size 104."},
        {max, max, "The specified memory offset address 7fffffffffffffff exceeds the maximum size 104."},
        {std::numeric_limits<ssize_t>::min(), 16,
         "The specified memory offset address -8000000000000000 exceeds the maximum size 104."},
    };
    volatile iapp::FPGAMem_t* base = board->MapRegisters(0, 1);
    ASSERT_NE(base, nullptr);
    for (const Case& c : cases) {
        istd::TraceCapture errors(istd::eTraceError);
        volatile iapp::FPGAMem_t* window = board->MapRegisters(c.offset, c.size);
        if (c.refusal == nullptr) {
            EXPECT_EQ(window, base + c.offset) << c.offset << " " << c.size;
        } else {
            EXPECT_EQ(window, nullptr) << c.offset << " " << c.size;
            EXPECT_TRUE(errors.Contains(c.refusal)) << errors.Text();
        }
    }
    // All windows share one mapping of the device.
    EXPECT_EQ(chassis->Get(3).Device().GetMappedAreaCount(), 1u);
    EXPECT_EQ(chassis->Get(3).Device().GetOpenDescriptorCount(), 1u);
}

TEST_F(Board, TheDeviceIsMappedOnceAndAgainAfterAnUnmap)
{
    Start();
    const sim::MonitorDevice& device = chassis->Get(4).Device();
    iapp::KavrelBoard* board = MakeBoard(4);
    for (size_t offset = 0; offset < 0x1000000; offset += 0x100000) {
        ASSERT_NE(board->MapRegisters(static_cast<ssize_t>(offset), 0x100000), nullptr);
    }
    board->RegisterObject<Block<0x10>>(0xE00118, "top");
    EXPECT_EQ(device.GetMappedAreaCount(), 1u);
    EXPECT_EQ(device.GetOpenDescriptorCount(), 1u);

    board->UnmapDevice();
    EXPECT_EQ(device.GetMappedAreaCount(), 0u);
    EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
    EXPECT_NE(board->MapRegisters(0, 8), nullptr);
    EXPECT_EQ(device.GetMappedAreaCount(), 1u);

    root->RemoveChild(board);
    EXPECT_EQ(device.GetMappedAreaCount(), 0u);
    EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
}

// The constructor's "info" maps through KavrelBoard's own MapDevice (a derived class is not
// constructed yet); the override rules every mapping after it.
TEST_F(Board, AMappingThatNeverOpensGivesNoWindows)
{
    Start();
    auto* board = new UnopenedBoard(*root, ChassisBoard(5));
    EXPECT_NE(board->GetIdentificationBlock(), nullptr);
    board->UnmapDevice();
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_EQ(board->MapRegisters(0, 8), nullptr);
    EXPECT_EQ(board->MapRegisters(0, 8), nullptr);
    EXPECT_EQ(ErrorOf([&] { board->RegisterObject<Block<8>>(0x100, "clock_info"); }),
              "Failure while mapping to FPGA memory registers");
    size_t notOpened = 0;
    for (const std::string& line : capture.Lines()) {
        notOpened += line.find("Device is not opened.") != std::string::npos;
    }
    EXPECT_EQ(notOpened, 3u);
    EXPECT_EQ(chassis->Get(5).Device().GetOpenDescriptorCount(), 0u);
}

// A board without device files (the test board) still becomes a component, without "info";
// one the pool cannot give is refused.
TEST_F(Board, BoardsWithoutADeviceOrOutsideThePool)
{
    Start();
    istd::TraceCapture capture(istd::eTraceWarning);
    auto* test = new iapp::KavrelBoard(*root, PoolBoard(bmc::DecomposeUri("kvr:///test/1")));
    EXPECT_EQ(test->GetIdentificationBlock(), nullptr);
    EXPECT_TRUE(test->GetChildren().empty());
    EXPECT_TRUE(capture.Contains("Board mokve1 (kvr:///test/1): Can't instatiate ID block: Can't open device: . ("))
        << capture.Text();
    EXPECT_TRUE(capture.Contains(". Ignoring."));
    EXPECT_EQ(ErrorOf([&] { test->MapRegisters(0, 8); }).rfind("Can't open device: ", 0), 0u);

    // Slot 7 is empty: the pool has no board for it.
    const bmc::Uri empty = bmc::CreateLocalChassisUri(7, bmc::Uri::eInterfaceDefault);
    bmc::TestConnection connection(empty);
    bmc::Board outside(empty, &connection);
    EXPECT_EQ(ErrorOf([&] { new iapp::KavrelBoard(*root, &outside); }), "Problem accessing board: ");
    EXPECT_EQ(ErrorOf([&] { new iapp::KavrelBoard(*root, nullptr); }), "Problem accessing board: ");
    // Of the boards, only the test board stayed (the application's own two features come first).
    ASSERT_EQ(root->GetChildren().size(), 3u);
    EXPECT_EQ(root->GetChildren().back().get(), test);
}

TEST_F(Board, RegisterObjectRefusals)
{
    Start();
    iapp::KavrelBoard* board = MakeBoard(3);
    EXPECT_EQ(ErrorOf([&] { board->RegisterObject<Block<0>>(0x100, "none"); }), "Invalid FPGA memory interface");
    EXPECT_EQ(ErrorOf([&] { board->RegisterObject<Block<16>>(0xFFFFF8, "over"); }),
              "Failure while mapping to FPGA memory registers");
    EXPECT_EQ(ErrorOf([&] { board->RegisterObject<Block<16>>(std::numeric_limits<size_t>::max() - 7, "wrap"); }),
              "Failure while mapping to FPGA memory registers");
    // Boards take features only.
    EXPECT_EQ(ErrorOf([&] { iapp::Create<Plain>(*board, "plain"); }), "plain can not be instantiated as child of pax3");
    auto* block = board->RegisterObject<Block<0xB0>>(0x400000, "triggers");
    EXPECT_EQ(block->window, board->MapRegisters(0x400000, 0xB0));
    EXPECT_EQ(board->GetChildren().size(), 2u); // info and triggers
}

TEST_F(Board, GetParentBoardWalksUpToTheBoard)
{
    Start();
    iapp::KavrelBoard* board = MakeBoard(3);
    auto* child = board->RegisterObject<Block<8>>(0x100, "clock_info");
    EXPECT_EQ(child->GetParentBoard(), board);
    EXPECT_EQ(board->GetIdentificationBlock()->GetParentBoard(), board);

    auto* feature = iapp::Create<Feature>(*board, "features");
    auto* grandchild = iapp::Create<Orphan>(*feature, "deep");
    EXPECT_EQ(grandchild->GetParentBoard(), board);

    // Under the root alone, and after its parent went away.
    auto* loose = iapp::Create<Feature>(*root, "loose");
    auto* under = iapp::Create<Orphan>(*loose, "under");
    EXPECT_EQ(ErrorOf([&] { under->GetParentBoard(); }), "iapp: under doesn't belong to a board (yet).");
    iapp::KavrelObjectPtr kept = loose->DetachChild(under);
    root->RemoveChild(loose);
    EXPECT_EQ(ErrorOf([&] { under->GetParentBoard(); }), "iapp: under doesn't belong to a board (yet).");
}

TEST_F(Board, FlushRegistersReadsTheWordBackUpperHalfFirst)
{
    Start();
    auto log = chassis->Get(3).Log(0x600000, 0x10);
    iapp::KavrelBoard* board = MakeBoard(3);
    chassis->Get(3).WriteMemory64(0x600008, 0x1122334455667788ULL);
    iapp::KavrelBoard::FlushRegisters(board->MapRegisters(0x600008, 8));
    iapp::KavrelBoard::FlushRegisters(nullptr);
    const std::vector<Access> expected = {{Access::eRead, 0xC, 32, 0x11223344}, {Access::eRead, 0x8, 32, 0x55667788}};
    EXPECT_EQ(log->Entries(), expected);
}

// ----------------------------------------------------------------------------------------------
// The identification block.

class Info : public iapptest::SimBoards {
protected:
    // The block over words written at offset of slot 3's memory.
    IdentificationBlock* BlockOver(size_t offset, const std::vector<uint32_t>& words, const std::string& name)
    {
        for (size_t i = 0; i < words.size(); ++i) {
            chassis->Get(3).WriteMemory32(offset + 4 * i, words[i]);
        }
        return board->RegisterObject<IdentificationBlock>(offset, name);
    }

    mci::TreeNodePtr Registry()
    {
        mci::TreeNodePtr top = mci::factory::Create<ireg::RegNode>("boards", mci::Flags(0));
        board->AddRegistry(top);
        return top->GetNode("pax3")->GetNode("info");
    }

    void SetUp() override
    {
        Start();
        const uint32_t words[] = {0x01020304, 0x4241, 7, 0x55, 0, 0};
        for (size_t i = 0; i < 6; ++i) {
            chassis->Get(3).WriteMemory32(4 * i, words[i]);
        }
        board = MakeBoard(3);
    }

    iapp::KavrelBoard* board = nullptr;
};

TEST_F(Info, TheIdentityIsDecodedOnce)
{
    IdentificationBlock* info = board->GetIdentificationBlock();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->GetName(), "info");
    EXPECT_EQ(info->GetBoardNumber(), 1u);
    EXPECT_EQ(info->GetSubsystemId(), 2u);
    EXPECT_EQ(info->GetApplicationId(), 3u);
    EXPECT_EQ(info->GetBoardId(), 4u);
    EXPECT_EQ(info->GetCustomerId(), 0x4241u);
    EXPECT_EQ(info->GetCustomer(), "AB");
    EXPECT_EQ(info->GetRevision(), 7u);
    EXPECT_EQ(info->GetFeatures(), 0x55u);

    const std::pair<uint32_t, const char*> customers[] = {
        {0x44434241, "ABCD"}, {0x00004241, "AB"}, {0, ""}, {0x41424300, ""}, {0x00430041, "A"},
    };
    size_t n = 0;
    for (const auto& [word, text] : customers) {
        IdentificationBlock* block = BlockOver(0x1000 + 0x100 * n, {0, word}, "id" + std::to_string(n));
        EXPECT_EQ(block->GetCustomer(), text) << std::hex << word;
        EXPECT_LE(block->GetCustomer().size(), 4u);
        ++n;
    }
}

TEST_F(Info, NodesAreConstantButHealthIsLive)
{
    IdentificationBlock* info = board->GetIdentificationBlock();
    mci::TreeNodePtr node = Registry();
    ASSERT_TRUE(node);
    const std::vector<std::pair<std::string, mci::Flags>> nodes = {
        {"revision", 0x22},       {"customer", 0x22}, {"customer_id", 0x62}, {"board_number", 0x62},
        {"subsystem_id", 0x62},   {"application_id", 0x62}, {"board_id", 0x62}, {"features", 0x62},
        {"health_mask", 0x62},    {"health_status", 0x22},
    };
    std::vector<std::string> names;
    for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
        names.push_back(child->GetName());
    }
    ASSERT_EQ(names.size(), nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        SCOPED_TRACE(nodes[i].first);
        EXPECT_EQ(names[i], nodes[i].first);
        mci::TreeNodePtr child = node->GetNode(nodes[i].first);
        EXPECT_EQ(child->GetFlags(), nodes[i].second);
        EXPECT_EQ(child->GetValueType(), nodes[i].first == "customer" ? mci::enums::eString : mci::enums::eUInt32);
        if (nodes[i].first == "customer") {
            EXPECT_EQ(ErrorOf([&] { child->Set(std::string("XY"), 0, mci::c_noRelPath); }), "Node is not writable.");
        } else {
            EXPECT_EQ(ErrorOf([&] { child->Set(uint32_t{9}, 0, mci::c_noRelPath); }), "Node is not writable.");
            EXPECT_FALSE(std::static_pointer_cast<ireg::RegNode>(child)->SetValue(uint32_t{9}));
        }
    }
    auto read = [&](const char* name) {
        uint32_t value = 0;
        node->GetNode(name)->Get(value, 0, mci::c_noRelPath);
        return value;
    };
    std::string customer;
    node->GetNode("customer")->Get(customer, 0, mci::c_noRelPath);
    EXPECT_EQ(customer, "AB");
    EXPECT_EQ(read("board_id"), 4u);

    EXPECT_TRUE(info->SetHealthMask(15));
    EXPECT_EQ(read("health_mask"), 15u);
    EXPECT_EQ(chassis->Get(3).ReadMemory32(20), 15u);
    chassis->Get(3).WriteMemory32(20, 3);
    uint32_t mask = 0;
    EXPECT_TRUE(info->GetHealthMask(mask));
    EXPECT_EQ(mask, 3u);

    // The FPGA changes its words: only the health status follows.
    chassis->Get(3).WriteMemory32(16, 0xA5);
    EXPECT_EQ(read("health_status"), 0xA5u);
    chassis->Get(3).WriteMemory32(16, 0x5A);
    chassis->Get(3).WriteMemory32(8, 99);
    EXPECT_EQ(read("health_status"), 0x5Au);
    EXPECT_EQ(read("revision"), 7u);
}

} // namespace
