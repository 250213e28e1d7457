#include "iapp/boards/pax/mc_pll.h"

#include "devio/reg_access.h"
#include "iapp/boards/pax/pax_board.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_node.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace {

constexpr size_t c_prescalerOffset = 0x0;
constexpr size_t c_lockOffset = 0x8;
constexpr unsigned c_scLockBit = 0;
constexpr unsigned c_mcLockBit = 1;

constexpr mci::Flags c_read = mci::enums::eReadable;
constexpr mci::Flags c_prescalerFlags = mci::enums::eReadable | mci::enums::ePersistent | mci::enums::eHidden;
constexpr mci::Flags c_oscillatorFlags = mci::enums::eReadable | mci::enums::eHidden;

using LockNode = ireg::RegReferenceBitNode<bool, volatile uint32_t>;
using WordNode = ireg::RegReferenceNode<uint32_t, volatile uint32_t>;

} // namespace

McPll::McPll(iapp::KavrelObject& parent, volatile iapp::FPGAMem_t* window, const std::string& name)
    : iapp::KavrelFpgaObject(parent, name), m_window(window), m_board(&dynamic_cast<iboard::PaxBoard&>(parent))
{
    SetMcPrescaler(c_defaultPrescaler);
}

McPll::~McPll()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " McPll");
}

volatile uint32_t* McPll::_Word(size_t offset) const
{
    return reinterpret_cast<volatile uint32_t*>(m_window + offset);
}

bool McPll::GetMcLock() const
{
    return (devio::Read32(_Word(c_lockOffset)) >> c_scLockBit & 1u) != 0;
}

void McPll::SetMcPrescaler(uint32_t prescaler)
{
    if (prescaler == 0) {
        ISTD_TRACE(1, "Prescaler value " << prescaler << " is increased to minimal allowed value.");
        prescaler = 1;
    }
    devio::Write32(_Word(c_prescalerOffset), prescaler - 1);
}

void McPll::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void McPll::OnRegistryAdd(mci::TreeNodePtr&)");
    using iboard::PaxBoard;
    volatile uint32_t& lock = *_Word(c_lockOffset);

    mci::TreeNodePtr mc = mci::factory::Create<ireg::RegNode>("mc", 0);
    mc->Add(mci::factory::Create<LockNode>("locked", lock, c_mcLockBit, 1, c_read));
    mc->Add(mci::factory::Create<ireg::RegFncEnumNode<PaxBoard::mc_srcEnum>>("source", m_board, 0, &PaxBoard::GetMCSrc,
                                                                             c_read));
    mc->Add(mci::factory::Create<WordNode>("prescaler", *_Word(c_prescalerOffset), c_prescalerFlags));
    mc->Add(mci::factory::Create<ireg::RegFncEnumNode<PaxBoard::mc_oscEnum>>("oscillator", m_board, 0,
                                                                             &PaxBoard::GetMCCfg, c_oscillatorFlags));

    mci::TreeNodePtr sc = mci::factory::Create<ireg::RegNode>("sc", 0);
    sc->Add(mci::factory::Create<LockNode>("locked", lock, c_scLockBit, 1, c_read));
    sc->Add(mci::factory::Create<ireg::RegFncEnumNode<PaxBoard::sc_srcEnum>>("source", m_board, 0, &PaxBoard::GetSCSrc,
                                                                             c_read));
    node->Add(mc);
    node->Add(sc);
}
