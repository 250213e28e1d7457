#include "iapp/identification_block.h"

#include "devio/reg_access.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_node.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace {

enum Word_e { eIdentity = 0, eCustomer = 1, eRevision = 2, eFeatures = 3, eHealthStatus = 4, eHealthMask = 5 };

// Constant and readable; the identity words are hidden as well.
constexpr mci::Flags c_shownFlags = 0x22;
constexpr mci::Flags c_hiddenFlags = 0x62;

} // namespace

IdentificationBlock::IdentificationBlock(iapp::KavrelBoard& board, volatile iapp::FPGAMem_t* window,
                                         const std::string& name)
    : KavrelFpgaObject(board, name), m_window(reinterpret_cast<volatile uint32_t*>(window))
{
    ISTD_TRACE_FNC("IdentificationBlock::IdentificationBlock(iapp::KavrelBoard&, volatile FPGAMem_t*, "
                   "const std::string&)");
    m_customerId = devio::Read32(m_window + eCustomer);
    // The characters in memory order: the lowest byte of the little-endian word first.
    for (unsigned i = 0; i < 4; ++i) {
        const char c = static_cast<char>(m_customerId >> (8 * i));
        if (c == '\0') {
            break;
        }
        m_customer += c;
    }
    m_boardNumber = devio::Read32(m_window + eIdentity) >> 24 & 0xFF;
    m_subsystemId = devio::Read32(m_window + eIdentity) >> 16 & 0xFF;
    m_applicationId = devio::Read32(m_window + eIdentity) >> 8 & 0xFF;
    m_boardId = devio::Read32(m_window + eIdentity) & 0xFF;
    m_revision = devio::Read32(m_window + eRevision);
    m_features = devio::Read32(m_window + eFeatures);
}

IdentificationBlock::~IdentificationBlock()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " IdentificationBlock");
}

bool IdentificationBlock::SetHealthMask(uint32_t mask)
{
    devio::Write32(m_window + eHealthMask, mask);
    return true;
}

bool IdentificationBlock::GetHealthMask(uint32_t& mask) const
{
    mask = devio::Read32(m_window + eHealthMask);
    return true;
}

void IdentificationBlock::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void IdentificationBlock::OnRegistryAdd(mci::TreeNodePtr&)");
    using Word = ireg::RegReferenceNode<uint32_t>;
    node->Add(mci::factory::Create<Word>("revision", m_revision, c_shownFlags));
    node->Add(mci::factory::Create<ireg::RegReferenceNode<std::string>>("customer", m_customer, c_shownFlags));
    node->Add(mci::factory::Create<Word>("customer_id", m_customerId, c_hiddenFlags));
    node->Add(mci::factory::Create<Word>("board_number", m_boardNumber, c_hiddenFlags));
    node->Add(mci::factory::Create<Word>("subsystem_id", m_subsystemId, c_hiddenFlags));
    node->Add(mci::factory::Create<Word>("application_id", m_applicationId, c_hiddenFlags));
    node->Add(mci::factory::Create<Word>("board_id", m_boardId, c_hiddenFlags));
    node->Add(mci::factory::Create<Word>("features", m_features, c_hiddenFlags));
    node->Add(mci::factory::Create<ireg::RegFncNode<uint32_t>>("health_mask", this, nullptr,
                                                               &IdentificationBlock::GetHealthMask, c_hiddenFlags));
    node->Add(mci::factory::Create<ireg::RegReferenceNode<uint32_t, volatile uint32_t>>(
        "health_status", m_window[eHealthStatus], c_shownFlags));
}
