// The LVDS transmitter and receiver on simulated boards: the slot of a board's URI id, the
// transmitter's register writes, the receiver's delay scan, lane alignment and enable, against
// the receiver model with every access logged.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/sim_boards.h"
#include "iapp/kavrel_lvds_receiver.h"
#include "iapp/kavrel_lvds_transmitter.h"
#include "istd/trace_capture.h"
#include "sim/fpga/lvds_receiver_model.h"
#include "tests/support/error_of.h"

using sim::boards::Access;
using sim::fpga::LvdsReceiverModel;
using testsupport::ErrorOf;

namespace {

constexpr size_t c_txOffset = 0x700000;
constexpr size_t c_rxOffset = 0x800000;
constexpr size_t c_delay = LvdsReceiverModel::c_delayOffset;

class Lvds : public iapptest::SimBoards {
protected:
    void SetUp() override
    {
        Start();
        model = std::make_shared<LvdsReceiverModel>();
        log = chassis->Get(1).Log(c_rxOffset, LvdsReceiverModel::c_windowSize, model);
        iapp::KavrelBoard* board = MakeBoard(1);
        rx = board->RegisterObject<iapp::KavrelLvdsReceiver>(c_rxOffset, "lvds_rx");
    }

    // The accesses of one kind to one register of a port.
    size_t Count(Access::Kind_e kind, size_t port, size_t offset) const
    {
        return log->Count(kind, port * LvdsReceiverModel::c_portStride + offset);
    }
    // Down steps: delay writes carrying command 2.
    size_t DownSteps(size_t port) const
    {
        size_t n = 0;
        for (const Access& a : log->Entries()) {
            n += a.kind == Access::eWrite && a.offset == port * 32 + c_delay && (a.value & 7) == 2;
        }
        return n;
    }
    // Writes carrying bitslip requests, from the log's entry from on (a scan's delay commands carry
    // the tap's upper bits in the request field too).
    size_t BitslipRequests(size_t port, size_t from = 0) const
    {
        const std::vector<Access> entries = log->Entries();
        size_t n = 0;
        for (size_t i = from; i < entries.size(); ++i) {
            const Access& a = entries[i];
            n += a.kind == Access::eWrite && a.offset == port * 32 + c_delay && (a.value & 0xFF8) != 0;
        }
        return n;
    }

    std::shared_ptr<LvdsReceiverModel> model;
    std::shared_ptr<sim::boards::AccessLog> log;
    iapp::KavrelLvdsReceiver* rx = nullptr;
};

TEST_F(Lvds, TheWindowTypeDecidesTheDelay)
{
    struct Case {
        int type;
        unsigned tap;
        size_t downSteps;
    };
    // 64 characters, '+' good, '-' bad.
    auto taps = [](std::initializer_list<std::pair<unsigned, unsigned>> bad) {
        std::string t(64, '+');
        for (auto [first, last] : bad) {
            for (unsigned i = first; i <= last; ++i) {
                t[i] = '-';
            }
        }
        return t;
    };
    const std::vector<std::pair<std::string, Case>> cases = {
        {taps({}), {5, 32, 31}},
        {taps({{0, 9}}), {1, 63, 0}},
        {taps({{41, 63}}), {2, 0, 63}},
        {taps({{0, 4}, {31, 63}}), {4, 17, 46}},
        {taps({{10, 19}}), {3, 63, 0}},
        {taps({{30, 39}}), {3, 0, 63}},
        {taps({{0, 0}}), {0, 0, 63}},
        {taps({{0, 63}}), {0, 0, 63}},
        {taps({{0, 31}, {33, 63}}), {4, 32, 31}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string& t = cases[i].first;
        const Case& c = cases[i].second;
        SCOPED_TRACE(t);
        const size_t port = i % 4;
        LvdsReceiverModel::Taps good;
        for (size_t k = 0; k < 64; ++k) {
            good[k] = t[k] == '+';
        }
        model->SetTaps(port, good);
        model->SetTap(port, 17);
        log->Clear();
        istd::TraceCapture capture(istd::eTraceDetail);
        EXPECT_TRUE(rx->GetWindow(port + 3));
        EXPECT_TRUE(capture.Contains("LVDS window type: " + std::to_string(c.type) +
                                     ". LVDS delay position: " + std::to_string(c.tap)))
            << capture.Text();
        EXPECT_EQ(capture.Contains("ERROR: LVDS window type was not determined: windowType == 0"), c.type == 0);
        EXPECT_FALSE(capture.Contains("does not match loop"));
        EXPECT_EQ(model->GetTap(port), c.tap);
        EXPECT_EQ(DownSteps(port), c.downSteps);
        EXPECT_EQ(model->GetControl(port) & 1u, 0u);
    }
}

TEST_F(Lvds, PortsWithoutAScanOrWithoutASlotAreLeftAlone)
{
    model->SetControl(1, LvdsReceiverModel::c_skipScanBit | 1u);
    model->SetTap(1, 9);
    EXPECT_TRUE(rx->GetWindow(4));
    EXPECT_EQ(log->Count(Access::eWrite), 0u);
    EXPECT_EQ(log->Entries(), (std::vector<Access>{{Access::eRead, 32, 32, LvdsReceiverModel::c_skipScanBit | 1u}}));
    EXPECT_EQ(model->GetTap(1), 9u);

    log->Clear();
    istd::TraceCapture capture(istd::eTraceError);
    for (size_t slot : {size_t{0}, size_t{2}, size_t{7}, size_t{1000}}) {
        EXPECT_EQ(iapp::KavrelLvdsReceiver::SlotToRxPort(slot), -1);
        EXPECT_FALSE(rx->GetWindow(slot));
        EXPECT_FALSE(rx->SetBitslip(slot, 0x888888888));
        EXPECT_FALSE(rx->Enable(slot));
        EXPECT_FALSE(rx->Disable(slot));
    }
    EXPECT_TRUE(log->Entries().empty());
    EXPECT_TRUE(capture.Contains("ERROR LvdsReceiver SlotToRxPort failed!"));
    for (size_t slot = 3; slot <= 6; ++slot) {
        EXPECT_EQ(iapp::KavrelLvdsReceiver::SlotToRxPort(slot), static_cast<int>(slot) - 3);
    }
}

TEST_F(Lvds, BitslipAlignsEachLane)
{
    // Lane k needs (4 - offset) % 4 requests; the slowest, three.
    model->SetLaneOffsets(2, {1, 2, 3, 0, 1, 2, 3, 0, 1});
    EXPECT_TRUE(rx->SetBitslip(5, 0x888888888));
    EXPECT_EQ(BitslipRequests(2), 3u);
    EXPECT_EQ(model->GetLaneOffsets(2), (LvdsReceiverModel::LaneOffsets{}));
    EXPECT_EQ(model->GetControl(2) & 1u, 1u);
    // The first request names exactly the lanes that differ.
    for (const Access& a : log->Entries()) {
        if (a.kind == Access::eWrite && a.offset == 2 * 32 + c_delay) {
            EXPECT_EQ(a.value >> 3 & 0x1FF, 0x177u);
            break;
        }
    }

    // Aligned already: no request at all; only the pattern's low nibble counts.
    log->Clear();
    EXPECT_TRUE(rx->SetBitslip(5, 0xFFFFFFF8));
    EXPECT_EQ(BitslipRequests(2), 0u);
}

TEST_F(Lvds, BitslipGivesUpOnTheErrorBitAndAfterTheRetryLimit)
{
    istd::TraceCapture capture(istd::eTraceError);
    model->ForceError(0, true);
    EXPECT_FALSE(rx->SetBitslip(3, 0x888888888));
    EXPECT_TRUE(capture.Contains("LvdsReceiver::SetBitslip(): training failed during bitslip."));
    EXPECT_EQ(BitslipRequests(0), 0u);

    // Lane 4 sends a nibble no turn makes 8.
    model->SetTransmitted(3, 0x888838888);
    log->Clear();
    EXPECT_FALSE(rx->SetBitslip(6, 0x888888888));
    EXPECT_TRUE(capture.Contains("LvdsReceiver::SetBitslip(): training failed during retries expired."));
    EXPECT_EQ(BitslipRequests(3), 1000u);
    EXPECT_EQ(Count(Access::eRead, 3, LvdsReceiverModel::c_word1Offset), 1001u);
}

TEST_F(Lvds, EnableAndDisableChangeOnlyTheirPortsBit)
{
    EXPECT_TRUE(rx->Enable(3));
    EXPECT_TRUE(rx->Enable(6));
    EXPECT_EQ(model->GetEnable(), 0x9u);
    EXPECT_TRUE(rx->Disable(3));
    EXPECT_EQ(model->GetEnable(), 0x8u);
    const std::vector<Access> entries = log->Entries();
    const std::vector<Access> last(entries.end() - 2, entries.end());
    EXPECT_EQ(last, (std::vector<Access>{{Access::eRead, 0x4000, 64, 0x9}, {Access::eWrite, 0x4000, 64, 0x8}}));
}

// A whole training of one link reads the status exactly as often as the scan and the
// alignment need, and no register more.
TEST_F(Lvds, AWholeTrainingMakesExactlyTheReadsItNeeds)
{
    const size_t port = 1;
    EXPECT_TRUE(rx->GetWindow(4));
    EXPECT_EQ(model->GetTap(port), 32u);
    const size_t scan = log->Entries().size();
    model->SetLaneOffsets(port, {1, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(rx->SetBitslip(4, 0x888888888));
    EXPECT_TRUE(rx->Enable(4));

    const size_t requests = 3;
    const size_t downSteps = 31;
    EXPECT_EQ(BitslipRequests(port, scan), requests);
    // Status: the skip test, the scan's start bit, 201 a tap, the alignment's start bit, 11 a step.
    const size_t statusReads = 1 + 1 + 64 * 201 + 1 + 11 * (requests + 1);
    EXPECT_EQ(Count(Access::eRead, port, 0x00), statusReads);
    // Delay: the reset, a check and a step up a tap (none after the last), a check and a step down,
    // a read-modify-write a request.
    const size_t delayReads = 1 + 64 + 63 + 2 * downSteps + requests;
    EXPECT_EQ(Count(Access::eRead, port, c_delay), delayReads);
    EXPECT_EQ(Count(Access::eRead, port, LvdsReceiverModel::c_word1Offset), requests + 1);
    EXPECT_EQ(log->Count(Access::eRead), statusReads + delayReads + requests + 1 + 1);
    EXPECT_EQ(Count(Access::eWrite, port, c_delay), 1 + 63 + downSteps + requests);
    EXPECT_EQ(Count(Access::eWrite, port, 0x00), 2u);
    EXPECT_EQ(log->Count(Access::eWrite), 1 + 63 + downSteps + requests + 2 + 1);
}

// ----------------------------------------------------------------------------------------------
// The transmitter.

class Transmitter : public iapptest::SimBoards {};

TEST_F(Transmitter, TrainWordsAndModeReachTheirRegisters)
{
    Start();
    auto log = chassis->Get(4).Log(c_txOffset, iapp::KavrelLvdsTransmitter::Size());
    iapp::KavrelBoard* board = MakeBoard(4);
    auto* tx = board->RegisterObject<iapp::KavrelLvdsTransmitter>(c_txOffset, "lvds_tx");
    EXPECT_EQ(tx->GetSlot(), 4);

    EXPECT_TRUE(tx->SetTrainWords(0x123456789, 0xEDCBA9876));
    const std::vector<Access> words = {{Access::eWrite, 0x08, 32, 0x23456789},
                                       {Access::eWrite, 0x0C, 32, 0x00000001},
                                       {Access::eWrite, 0x10, 32, 0xDCBA9876},
                                       {Access::eWrite, 0x14, 32, 0x0000000E}};
    EXPECT_EQ(log->Entries(), words);

    const struct {
        uint32_t before;
        uint32_t mode;
        uint32_t after;
    } modes[] = {{0xFFFFFFFE, 1, 0xFFFFFFFF}, {0x00000001, 0, 0x00000000}, {0x80000000, 3, 0x80000001},
                 {0x00000003, 2, 0x00000002}};
    for (const auto& m : modes) {
        chassis->Get(4).WriteMemory32(c_txOffset, m.before);
        log->Clear();
        EXPECT_TRUE(tx->SetMode(static_cast<iapp::KavrelLvdsTransmitter::LvdsTxModeType>(m.mode)));
        EXPECT_EQ(log->Entries(), (std::vector<Access>{{Access::eRead, 0, 32, m.before}, {Access::eWrite, 0, 32, m.after}}));
    }
    EXPECT_FALSE(tx->OnQueryChild(*tx));
}

TEST_F(Transmitter, TheSlotIsTheUrisIdAsAWholeNumber)
{
    Start();
    char window[24] = {};
    const std::pair<std::string, int> good[] = {{"5", 5}, {"0x1A", 26}, {"007", 7}, {"0x7FFFFFFF", 2147483647}};
    const std::string bad[] = {"", "0x", "0xZZ", "0x1FFFFFFFF", "0x80000000", "-5", " 5", "5abc", "0x5zz", "0X5",
                               "12345678901234567890", "2147483648"};
    auto board = [&](const std::string& id) {
        return new iapp::KavrelBoard(*root, PoolBoard(bmc::Uri(bmc::Uri::eTest, id, bmc::Uri::eInterfaceDefault)));
    };
    for (const auto& [id, slot] : good) {
        auto* tx = new iapp::KavrelLvdsTransmitter(*board(id), window, "tx");
        EXPECT_EQ(tx->GetSlot(), slot) << id;
    }
    for (const std::string& id : bad) {
        iapp::KavrelBoard* b = board(id);
        EXPECT_EQ(ErrorOf([&] { new iapp::KavrelLvdsTransmitter(*b, window, "tx"); }),
                  "Bad cast from " + id + " to int");
        EXPECT_TRUE(b->GetChildren().empty()) << id;
    }
}

} // namespace
