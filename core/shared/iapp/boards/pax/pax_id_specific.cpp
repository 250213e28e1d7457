#include "iapp/boards/pax/pax_id_specific.h"

#include "devio/reg_access.h"
#include "ireg/reg_reference_node.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace {
constexpr mci::Flags c_adcFrequencyFlags = mci::enums::eReadable | mci::enums::eConstant;
}

PaxIdSpecific::PaxIdSpecific(iapp::KavrelBoard& board, volatile iapp::FPGAMem_t* window, const std::string& name)
    : iapp::KavrelFpgaObject(board, name),
      m_adcFrequency(devio::Read32(reinterpret_cast<volatile uint32_t*>(window)))
{
}

PaxIdSpecific::~PaxIdSpecific()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " PaxIdSpecific");
}

void PaxIdSpecific::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void PaxIdSpecific::OnRegistryAdd(mci::TreeNodePtr&)");
    node->Add(mci::factory::Create<ireg::RegReferenceNode<uint32_t>>("adc_frequency", m_adcFrequency, c_adcFrequencyFlags));
}
