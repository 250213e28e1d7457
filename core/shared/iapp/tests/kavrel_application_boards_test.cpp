// The application's boards on the simulated chassis: the board components made from the boards
// domain (boards the pool cannot give, factories that throw or decline), the board list and its
// look-ups, the boards in the application registry, and the LVDS training of the transmitters and
// the receiver over the receiver model.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/sim_boards.h"
#include "iapp/kavrel_lvds_receiver.h"
#include "iapp/kavrel_lvds_transmitter.h"
#include "istd/trace_capture.h"
#include "mci/node.h"
#include "sim/fpga/lvds_receiver_model.h"

using sim::boards::Access;
using sim::fpga::LvdsReceiverModel;

namespace iapptest {
namespace {

constexpr size_t c_txOffset = 0x700000;
constexpr size_t c_rxOffset = 0x800000;

std::string ChassisUri(int slot)
{
    return bmc::CreateLocalChassisUri(slot, bmc::Uri::eInterfaceDefault).ToString();
}

class AppBoards : public SimBoards {
protected:
    // The application's command line: no daemon, no log, no configuration, the boards given.
    bool Options(const std::vector<std::string>& boards)
    {
        std::vector<std::string> extra{"-b"};
        extra.insert(extra.end(), boards.begin(), boards.end());
        Argv argv(AppArgs(1, extra));
        return root->ProcessProgramOptions(argv.Count(), argv.Get());
    }

    // The boards' names, in list order.
    static std::vector<std::string> Names(const std::vector<iapp::KavrelBoard*>& boards)
    {
        std::vector<std::string> names;
        for (const iapp::KavrelBoard* board : boards) {
            names.push_back(board == nullptr ? "null" : board->GetName());
        }
        return names;
    }
};

TEST_F(AppBoards, EachBoardOfTheDomainBecomesAComponentOrALoggedRefusal)
{
    Start();
    // Slot 7 is empty; the factory throws for the test boards and declines slot 2.
    ASSERT_TRUE(Options({ChassisUri(3), ChassisUri(7), ChassisUri(5), "kvr:///test/1", "kvr:///test/2", ChassisUri(2),
                         ChassisUri(4)}));
    root->SetBoardFactory([](TestApplication& app, const bmc::Board* board) -> iapp::KavrelBoard* {
        if (board->GetUri().GetId() == "1" && board->GetUri().GetSubSystem() == bmc::Uri::eTest) {
            throw std::runtime_error("no such model");
        }
        if (board->GetUri().GetSubSystem() == bmc::Uri::eTest) {
            throw 7;
        }
        if (board->GetUri().GetId() == "2") {
            return nullptr;
        }
        return new iapp::KavrelBoard(app, board);
    });
    istd::TraceCapture capture(istd::eTraceError);
    root->CreateBoards();

    std::vector<std::string> refusals;
    for (const std::string& line : capture.Lines()) {
        if (line.find("Problem accessing board") != std::string::npos) {
            refusals.push_back(line.substr(line.find("Problem accessing board")));
        }
    }
    EXPECT_EQ(refusals, (std::vector<std::string>{"Problem accessing board: chassis_7",
                                                  "Problem accessing board test_1. Exception: no such model",
                                                  "Problem accessing board test_2. Unknown exception."}))
        << capture.Text();

    std::vector<iapp::KavrelBoard*> boards{nullptr};
    root->GetBoards(boards);
    EXPECT_EQ(Names(boards), (std::vector<std::string>{"null", "pax3", "zolt5", "pax4"}));
    std::vector<iapp::KavrelBoard*> pax{nullptr};
    root->GetBoards(pax, bmc::eBoardTypePAX);
    EXPECT_EQ(Names(pax), (std::vector<std::string>{"null", "pax3", "pax4"}));
    EXPECT_EQ(root->GetBoard(bmc::eBoardTypePAX), boards[1]);
    EXPECT_EQ(root->GetBoard(bmc::eBoardTypeZOLT), boards[2]);
    EXPECT_EQ(root->GetBoard(bmc::eBoardTypeKOZ), nullptr);

    // AddBoard appends without asking; null is refused.
    EXPECT_FALSE(root->AddBoard(nullptr));
    EXPECT_TRUE(root->AddBoard(boards[1]));
    boards.clear();
    root->GetBoards(boards);
    EXPECT_EQ(Names(boards), (std::vector<std::string>{"pax3", "zolt5", "pax4", "pax3"}));
}

// The application's top nodes with no board and with two: every board attaches its subtree under
// "boards" by its name, the rest of the tree keeps its shape and flags.
TEST_F(AppBoards, BoardsInTheApplicationRegistry)
{
    for (const std::vector<std::string>& domain :
         {std::vector<std::string>{ChassisUri(7)}, std::vector<std::string>{ChassisUri(3), ChassisUri(5)}}) {
        SCOPED_TRACE(domain.size());
        Start();
        ASSERT_TRUE(Options(domain));
        root->SetBoardFactory(
            [](TestApplication& app, const bmc::Board* board) { return new iapp::KavrelBoard(app, board); });
        ASSERT_TRUE(root->Setup());
        const mci::Node registry = root->GetRegistry();
        std::vector<std::string> top;
        for (const mci::TreeNodePtr& node : registry.GetTreeNode()->GetAllNodes()) {
            top.push_back(node->GetName() + " " + std::to_string(node->GetFlags()));
        }
        // "signals" goes under the root: the application component added no node of its own.
        EXPECT_EQ(top, (std::vector<std::string>{"app-name 2", "version 2", "tracing 64", "boards 6", "system 64",
                                                 "signals 64"}));
        std::vector<std::string> tracing;
        for (const mci::TreeNodePtr& node : registry.GetNode({"tracing"}).GetTreeNode()->GetAllNodes()) {
            tracing.push_back(node->GetName());
        }
        EXPECT_EQ(tracing, (std::vector<std::string>{"level", "print", "dump_stack", "message"}));

        std::vector<std::string> boards;
        for (const mci::Node& board : registry.GetNode({"boards"}).GetNodes()) {
            boards.push_back(board.GetName());
        }
        if (domain.size() == 1) {
            EXPECT_TRUE(boards.empty());
            EXPECT_TRUE(registry.GetNode({"boards"}).IsLeaf());
        } else {
            EXPECT_EQ(boards, (std::vector<std::string>{"pax3", "zolt5"}));
            // The identification block's nodes, read from the board's registers.
            EXPECT_NO_THROW(registry.GetNode({"boards", "pax3", "info"}).GetName());
        }
        root->Shutdown();
        root->Destroy();
        TearDown();
    }
}

// The LVDS links: the receiver on slot 1, transmitters on the boards that feed it. The receiver
// model's ports receive what the transmitting board's training word 1 register holds.
class Training : public SimBoards {
protected:
    void SetUp() override
    {
        Start();
        model = std::make_shared<LvdsReceiverModel>();
        rxLog = chassis->Get(1).Log(c_rxOffset, LvdsReceiverModel::c_windowSize, model);
        for (int slot = 3; slot <= 6; ++slot) {
            sim::boards::Board& board = chassis->Get(slot);
            model->SetSource(static_cast<size_t>(slot - 3), [&board] { return board.ReadMemory64(c_txOffset + 8); });
            // Lanes that need one to three bitslips.
            model->SetLaneOffsets(static_cast<size_t>(slot - 3), {1, 2, 3, 0, 1, 2, 3, 0, 1});
        }
    }

    void AddReceiver(int slot) { MakeBoard(slot)->RegisterObject<iapp::KavrelLvdsReceiver>(c_rxOffset, "lvds_rx"); }
    void AddTransmitter(int slot)
    {
        txLogs[slot] = chassis->Get(slot).Log(c_txOffset, iapp::KavrelLvdsTransmitter::Size());
        MakeBoard(slot)->RegisterObject<iapp::KavrelLvdsTransmitter>(c_txOffset, "lvds_tx");
    }
    size_t TxWrites() const
    {
        size_t n = 0;
        for (const auto& [slot, log] : txLogs) {
            n += log->Count(Access::eWrite);
        }
        return n;
    }
    // The transmitter's three words: mode, word 1, word 2.
    std::vector<uint64_t> TxWords(int slot) const
    {
        return {chassis->Get(slot).ReadMemory64(c_txOffset), chassis->Get(slot).ReadMemory64(c_txOffset + 8),
                chassis->Get(slot).ReadMemory64(c_txOffset + 16)};
    }
    static std::vector<std::string> Errors(const istd::TraceCapture& capture)
    {
        std::vector<std::string> errors;
        for (const std::string& line : capture.Lines()) {
            if (line.find("ERROR: ") != std::string::npos) {
                errors.push_back(line.substr(line.find("ERROR: ")));
            }
        }
        return errors;
    }

    std::shared_ptr<LvdsReceiverModel> model;
    std::shared_ptr<sim::boards::AccessLog> rxLog;
    std::map<int, std::shared_ptr<sim::boards::AccessLog>> txLogs;
};

TEST_F(Training, EveryLinkTrainedAndEnabled)
{
    AddReceiver(1);
    AddTransmitter(3);
    AddTransmitter(4);
    AddTransmitter(6);
    istd::TraceCapture capture(istd::eTraceDetail);
    EXPECT_TRUE(root->TrainLVDS());
    EXPECT_TRUE(Errors(capture).empty()) << capture.Text();
    EXPECT_TRUE(capture.Contains("TrainLVDS() receivers=1 transmitters=3"));
    for (int slot : {3, 4, 6}) {
        EXPECT_TRUE(capture.Contains("LVDS GetWindow() for slot: " + std::to_string(slot) + " succeeded."));
        EXPECT_TRUE(capture.Contains("LVDS SetBitslip() for slot: " + std::to_string(slot) + " succeeded."));
        // Normal mode, and the alignment pattern as both words.
        EXPECT_EQ(TxWords(slot), (std::vector<uint64_t>{0, 0x888888888, 0x888888888})) << slot;
        EXPECT_EQ(model->GetReceived(static_cast<size_t>(slot - 3)), 0x888888888u) << slot;
    }
    // Ports 0, 1 and 3; slot 5 sends nothing and stays off.
    EXPECT_EQ(model->GetEnable(), 0b1011u);
    // Slot 3's transmitter: the scan's words, training mode, the alignment's words, normal mode.
    std::vector<std::pair<size_t, uint64_t>> writes;
    for (const Access& a : txLogs[3]->Entries()) {
        if (a.kind == Access::eWrite) {
            writes.emplace_back(a.offset, a.value);
        }
    }
    EXPECT_EQ(writes, (std::vector<std::pair<size_t, uint64_t>>{{8, 0x23456789},
                                                                {12, 1},
                                                                {16, 0xDCBA9876},
                                                                {20, 0xE},
                                                                {0, 1},
                                                                {8, 0x88888888},
                                                                {12, 8},
                                                                {16, 0x88888888},
                                                                {20, 8},
                                                                {0, 0}}));
}

// Slot 2 has no receiver port: its scan and its alignment fail and are logged, every other link
// is trained, every transmitter ends in normal mode, and the training fails.
TEST_F(Training, AFailedSlotDoesNotStopTheOthers)
{
    AddReceiver(1);
    AddTransmitter(2);
    AddTransmitter(3);
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_FALSE(root->TrainLVDS());
    EXPECT_EQ(Errors(capture), (std::vector<std::string>{"ERROR: LVDS GetWindow() for board on slot: 2 failed.",
                                                         "ERROR: LVDS SetBitslip for board on on slot: 2 failed."}));
    EXPECT_EQ(TxWords(2)[0], 0u);
    EXPECT_EQ(TxWords(3), (std::vector<uint64_t>{0, 0x888888888, 0x888888888}));
    EXPECT_EQ(model->GetEnable(), 0b1u);
}

TEST_F(Training, NothingToTrainOrMoreThanOneReceiver)
{
    {
        SCOPED_TRACE("transmitters without a receiver");
        AddTransmitter(3);
        EXPECT_TRUE(root->TrainLVDS());
        EXPECT_EQ(TxWrites(), 0u);
    }
    {
        SCOPED_TRACE("two receivers");
        AddReceiver(1);
        AddReceiver(2);
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_FALSE(root->TrainLVDS());
        EXPECT_EQ(Errors(capture),
                  (std::vector<std::string>{"ERROR: TrainLVDS() only one receiver  supported, found: 2"}));
        EXPECT_EQ(TxWrites(), 0u);
        EXPECT_EQ(rxLog->Entries().size(), 0u);
    }
}

TEST_F(Training, AReceiverWithoutTransmittersIsNotTouched)
{
    AddReceiver(1);
    EXPECT_TRUE(root->TrainLVDS());
    EXPECT_EQ(rxLog->Entries().size(), 0u);
}

// A failed training fails the start-up with its critical message.
TEST_F(Training, FailedTrainingFailsTheStartUp)
{
    Argv argv(AppArgs(1, {"-b", ChassisUri(1), ChassisUri(2)}));
    ASSERT_TRUE(root->ProcessProgramOptions(argv.Count(), argv.Get()));
    root->SetBoardFactory([this](TestApplication& app, const bmc::Board* board) {
        auto* component = new iapp::KavrelBoard(app, board);
        if (component->GetName() == "pax1") {
            component->RegisterObject<iapp::KavrelLvdsReceiver>(c_rxOffset, "lvds_rx");
        } else {
            txLogs[2] = chassis->Get(2).Log(c_txOffset, iapp::KavrelLvdsTransmitter::Size());
            component->RegisterObject<iapp::KavrelLvdsTransmitter>(c_txOffset, "lvds_tx");
        }
        return component;
    });
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_FALSE(root->Setup());
    EXPECT_TRUE(capture.Contains("LVDS training failed.")) << capture.Text();
    EXPECT_EQ(root->Count("start-running"), 0u);
    root->Shutdown();
}

} // namespace
} // namespace iapptest
