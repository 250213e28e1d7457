#include "iapp/boards/zolt/zolt_leds_node.h"

#include "ireg/reg_reference_bit_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iboard {

const std::array<const char*, 12> ZoltLedsNode::c_ledNames = {
    "sys_orange", "sys_green", "pm_orange",    "pm_green",    "trig_orange", "trig_green",
    "ilk_red",    "ilk_green", "front_yellow", "front_white", "mc_orange",   "sfp_green",
};

ZoltLedsNode::ZoltLedsNode(const std::string& name, volatile iapp::FPGAMem_t* base)
    : ireg::RegNode(name, 0x40), m_base(base)
{
}

ZoltLedsNode::~ZoltLedsNode()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " ZoltLedsNode");
}

bool ZoltLedsNode::Init()
{
    ISTD_TRACE_FNC("bool iboard::ZoltLedsNode::Init()");
    if (!ireg::RegNode::Init()) {
        return false;
    }
    auto& leds = *reinterpret_cast<volatile uint64_t*>(m_base);
    for (unsigned bit = 0; bit < c_ledNames.size(); ++bit) {
        mci::TreeNodePtr led = mci::factory::Create<ireg::RegReferenceBitNode<uint64_t, volatile uint64_t>>(
            c_ledNames[bit], leds, bit, 1u, mci::Flags(6));
        if (!led) {
            throw istd::Exception(std::string("leds: the node ") + c_ledNames[bit] + " could not be made", true);
        }
        Add(led);
    }
    return true;
}

} // namespace iboard
