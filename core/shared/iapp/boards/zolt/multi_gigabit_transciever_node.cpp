#include "iapp/boards/zolt/multi_gigabit_transciever_node.h"

#include <chrono>
#include <thread>

#include "devio/reg_access.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

ISTD_ENUM_TABLE(iboard::MgtRxBufStatus_e, {iboard::eMgtRxBufNominal, "nom"},
                {iboard::eMgtRxBufBelowMinLatency, "<min_cor_latency"},
                {iboard::eMgtRxBufAboveMaxLatency, ">max_cor_latency"}, {iboard::eMgtRxBufUnderflow, "underflow"},
                {iboard::eMgtRxBufOverflow, "overflow"});
ISTD_ENUM_TABLE(iboard::MgtTxBufStatus_e, {iboard::eMgtTxBufLow, "low"}, {iboard::eMgtTxBufHigh, "high"},
                {iboard::eMgtTxBufUnderflow, "underflow"}, {iboard::eMgtTxBufOverflow, "overflow"});
ISTD_ENUM_TABLE(iboard::MgtLoopback_e, {iboard::eMgtNoLoopback, "no_loopback"}, {iboard::eMgtPcsNearEnd, "pcs_near_end"},
                {iboard::eMgtPmaNearEnd, "pma_near_end"}, {iboard::eMgtPmaFarEnd, "pma_far_end"},
                {iboard::eMgtPcsFarEnd, "pcs_far_end"});

namespace iboard {

namespace {

constexpr mci::Flags c_readOnly = 2;
constexpr mci::Flags c_readWrite = 6;

template <class AT, class RT>
using Bits = ireg::RegReferenceBitNode<AT, RT>;
template <class E, class RT>
using EnumBits = ireg::RegReferenceEnumBitNode<E, RT>;

// A branch with its leaves, each of which must have been made.
mci::TreeNodePtr Branch(const std::string& name, std::initializer_list<mci::TreeNodePtr> leaves)
{
    mci::TreeNodePtr branch = mci::factory::Create<ireg::RegNode>(name, mci::Flags(0));
    for (const mci::TreeNodePtr& leaf : leaves) {
        if (!leaf) {
            throw istd::Exception("mgt: a node below " + name + " could not be made", true);
        }
        branch->Add(leaf);
    }
    return branch;
}

} // namespace

MultiGigabitTranscieverNode::MultiGigabitTranscieverNode(const std::string& name, volatile iapp::FPGAMem_t* base)
    : ireg::RegNode(name, 0), m_base(base)
{
}

MultiGigabitTranscieverNode::~MultiGigabitTranscieverNode()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " MultiGigabitTranscieverNode");
}

bool MultiGigabitTranscieverNode::Init()
{
    ISTD_TRACE_FNC("bool iboard::MultiGigabitTranscieverNode::Init()");
    if (!ireg::RegNode::Init()) {
        return false;
    }
    auto& control = *reinterpret_cast<volatile uint32_t*>(m_base + c_control);
    auto& status = *reinterpret_cast<volatile uint32_t*>(m_base + c_status);
    auto& errors = *reinterpret_cast<volatile uint64_t*>(m_base + c_errors);
    using mci::factory::Create;
    Add(Branch("ctrl", {
                           Create<ireg::RegExecNode>("reset", this, &MultiGigabitTranscieverNode::Reset),
                           Create<Bits<uint32_t, volatile uint32_t>>("rx_power_down", control, 4u, 1u, c_readOnly),
                           Create<Bits<uint32_t, volatile uint32_t>>("tx_power_down", control, 5u, 1u, c_readOnly),
                           Create<EnumBits<MgtLoopback_e, volatile uint32_t>>("loop", control, 8u, 3u, c_readWrite),
                       }));
    Add(Branch("status", {
                             Create<Bits<uint32_t, volatile uint32_t>>("pll_lock", status, 0u, 1u, c_readOnly),
                             Create<EnumBits<MgtRxBufStatus_e, volatile uint32_t>>("rx_buf", status, 4u, 3u, c_readOnly),
                             Create<Bits<uint32_t, volatile uint32_t>>("rx_loss_of_sync", status, 8u, 2u, c_readOnly),
                             Create<EnumBits<MgtTxBufStatus_e, volatile uint32_t>>("tx_buf", status, 12u, 2u, c_readOnly),
                         }));
    Add(Branch("err", {
                          Create<Bits<uint32_t, volatile uint64_t>>("soft", errors, 0u, 16u, c_readOnly),
                          Create<Bits<uint32_t, volatile uint64_t>>("hard", errors, 16u, 16u, c_readOnly),
                          Create<Bits<uint32_t, volatile uint64_t>>("frame", errors, 32u, 16u, c_readOnly),
                      }));
    return true;
}

bool MultiGigabitTranscieverNode::Reset()
{
    ISTD_TRACE_FNC("bool iboard::MultiGigabitTranscieverNode::Reset()");
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* control = reinterpret_cast<volatile uint32_t*>(m_base + c_control);
    // The bit nodes over the control word order their read-modify-writes by this lock: without
    // it a loopback written during the pulse would be undone by the pulse's second write.
    {
        std::lock_guard<std::mutex> word(ireg::WordLock(control));
        devio::Write(control, devio::Read(control) | c_resetBit);
    }
    std::this_thread::sleep_for(std::chrono::nanoseconds(c_resetPulseNs));
    {
        std::lock_guard<std::mutex> word(ireg::WordLock(control));
        devio::Write(control, devio::Read(control) & ~c_resetBit);
    }
    ISTD_TRACE(1, "MGT reset.");
    return true;
}

} // namespace iboard
