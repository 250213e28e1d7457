// The FPGA blocks over register contents from the input: an identification block decoded from
// the first 24 bytes with every node read, then one LVDS link trained over a receiver model
// whose tap table, lane offsets, transmitted word and control bits the following bytes give.
// Whatever the registers hold, the training ends, the delay lies in 0..63 after at most 63 down
// steps, a port that skips the scan sees no write, and the customer text has at most 4
// characters.
//
// Input: 24 bytes of the block, then 8 tap bytes (bit t: tap t good), 3 bytes of lane offsets
// (2 bits a lane), 5 bytes of the transmitted word (36 bits), a control byte (bit 0: skip the
// scan, bit 1: force the error bit), the first delay tap, the slot and the pattern's nibble.
// Missing bytes are 0.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "bmc/board_pool.h"
#include "fuzz_support.h"
#include "iapp/identification_block.h"
#include "iapp/kavrel_application.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_lvds_receiver.h"
#include "ireg/reg_node.h"
#include "mci/factory.h"
#include "sim/boards/chassis.h"
#include "sim/cmc/simulator.h"
#include "sim/fpga/lvds_receiver_model.h"

namespace {

using sim::boards::Access;
using sim::fpga::LvdsReceiverModel;

constexpr size_t c_infoOffset = 0x1000;
constexpr size_t c_rxOffset = 0x800000;

// The application, never run: the boards' parent; takes every child.
class Root : public iapp::KavrelApplication {
public:
    Root() : KavrelApplication("app", false, false) {}
    const std::string& AppName() const override { return m_name; }
    iapp::KavrelBoard* InstantiateBoard(const bmc::Board*) override { return nullptr; }
    bool OnQueryChild(const iapp::KavrelObject&) override { return true; }

private:
    const std::string m_name = "app";
};

struct Setup {
    Setup()
    {
        sim::cmc::Simulator::Instance().SetTimeScale(0);
        chassis = std::make_unique<sim::boards::Chassis>();
        bmc::BoardPool::Instance().Update();
        root = new Root;
        handle = root->shared_from_this();
        model = std::make_shared<LvdsReceiverModel>();
        log = chassis->Get(1).Log(c_rxOffset, LvdsReceiverModel::c_windowSize, model);
        board = new iapp::KavrelBoard(*root, bmc::BoardPool::Instance().GetBoard(
                                                 bmc::CreateLocalChassisUri(1, bmc::Uri::eInterfaceDefault)));
        rx = board->RegisterObject<iapp::KavrelLvdsReceiver>(c_rxOffset, "rx");
    }

    std::unique_ptr<sim::boards::Chassis> chassis;
    Root* root = nullptr;
    iapp::KavrelObjectPtr handle;
    std::shared_ptr<LvdsReceiverModel> model;
    std::shared_ptr<sim::boards::AccessLog> log;
    iapp::KavrelBoard* board = nullptr;
    iapp::KavrelLvdsReceiver* rx = nullptr;
};

// The input's bytes, 0 past its end.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t Next() { return m_pos < m_size ? m_data[m_pos++] : (m_pos++, 0); }
    uint64_t Next(size_t n)
    {
        uint64_t value = 0;
        for (size_t i = 0; i < n; ++i) {
            value |= static_cast<uint64_t>(Next()) << (8 * i);
        }
        return value;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

void Identification(Setup& s, Bytes& in)
{
    for (size_t i = 0; i < 6; ++i) {
        s.chassis->Get(1).WriteMemory32(c_infoOffset + 4 * i, static_cast<uint32_t>(in.Next(4)));
    }
    auto* block = s.board->RegisterObject<IdentificationBlock>(c_infoOffset, "id");
    if (block->GetCustomer().size() > 4) {
        fuzzsupport::Finding("customer text", block->GetCustomer());
    }
    mci::TreeNodePtr top = mci::factory::Create<ireg::RegNode>("top", mci::Flags(0));
    block->AddRegistry(top);
    for (const mci::TreeNodePtr& node : top->GetNode("id")->GetAllNodes()) {
        if (node->GetValueType() == mci::enums::eString) {
            std::string text;
            node->Get(text, 0, mci::c_noRelPath);
        } else {
            uint32_t value = 0;
            node->Get(value, 0, mci::c_noRelPath);
        }
    }
    mci::DestroyNode(top);
    s.board->RemoveChild(block);
}

void Training(Setup& s, Bytes& in)
{
    const uint64_t taps = in.Next(8);
    const uint32_t offsets = static_cast<uint32_t>(in.Next(3));
    const uint64_t word = in.Next(5) & 0xFFFFFFFFFULL;
    const uint8_t control = in.Next();
    const unsigned firstTap = in.Next() % 64;
    const size_t slot = in.Next() % 9;
    const uint64_t pattern = in.Next() & 0xF;

    const int port = iapp::KavrelLvdsReceiver::SlotToRxPort(slot);
    for (size_t p = 0; p < LvdsReceiverModel::c_ports; ++p) {
        LvdsReceiverModel::Taps good;
        LvdsReceiverModel::LaneOffsets lanes;
        for (size_t t = 0; t < LvdsReceiverModel::c_taps; ++t) {
            good[t] = (taps >> t & 1) != 0;
        }
        for (size_t k = 0; k < LvdsReceiverModel::c_lanes; ++k) {
            lanes[k] = offsets >> (2 * k) & 3;
        }
        s.model->SetTaps(p, good);
        s.model->SetLaneOffsets(p, lanes);
        s.model->SetTransmitted(p, word);
        s.model->SetControl(p, (control & 1) != 0 ? LvdsReceiverModel::c_skipScanBit : 0);
        s.model->ForceError(p, (control & 2) != 0);
        s.model->SetTap(p, firstTap);
    }

    s.log->Clear();
    const bool window = s.rx->GetWindow(slot);
    if (window != (port >= 0)) {
        fuzzsupport::Finding("GetWindow", "slot " + std::to_string(slot));
    }
    size_t writes = 0;
    size_t downSteps = 0;
    for (const Access& a : s.log->Entries()) {
        writes += a.kind == Access::eWrite;
        downSteps += a.kind == Access::eWrite && a.offset % 32 == LvdsReceiverModel::c_delayOffset && (a.value & 7) == 2;
    }
    if (port >= 0) {
        const unsigned tap = s.model->GetTap(static_cast<size_t>(port));
        if ((control & 1) != 0 ? writes != 0 || tap != firstTap : tap > 63 || downSteps > 63 || tap != 63 - downSteps) {
            fuzzsupport::Finding("delay", "tap " + std::to_string(tap) + ", " + std::to_string(downSteps) +
                                              " down steps, " + std::to_string(writes) + " writes");
        }
    } else if (writes != 0 || !s.log->Entries().empty()) {
        fuzzsupport::Finding("slot without a port", "accesses made");
    }

    s.log->Clear();
    if (s.rx->SetBitslip(slot, pattern) && port >= 0) {
        s.rx->Enable(slot);
    }
    s.rx->Disable(slot);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Setup setup;
    Bytes in(data, size);
    Identification(setup, in);
    Training(setup, in);
    return 0;
}
