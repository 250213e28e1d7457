#include "iapp/boards/zolt/relevant_trigger_coding_node.h"

#include <algorithm>

#include "devio/reg_access.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

ISTD_ENUM_TABLE(iboard::RtcDecodeSwitch_e, {iboard::eRtcDecodeOff, "off"}, {iboard::eRtcDecodeOn, "on"},
                {iboard::eRtcDecodeDebug, "debug"});
ISTD_ENUM_TABLE(iboard::MgtOutputSwitch_e, {iboard::eMgtOutputOff, "off"}, {iboard::eMgtOutputSfpIn, "sfp_in"},
                {iboard::eMgtOutputDebug, "debug"});

namespace iboard {

namespace {

constexpr size_t c_decoderCount = 4;
constexpr size_t c_words = 16;
constexpr unsigned c_fieldBits = 16;
constexpr unsigned c_codeBits = 4;
constexpr unsigned c_switchBits = 4;

constexpr mci::Flags c_switchFlags = 6;
constexpr mci::Flags c_wordFlags = 0x0E;
constexpr mci::Flags c_generatorFlags = 0x40;
constexpr mci::Flags c_entryFlags = 6;

using FieldNode = ireg::RegReferenceBitNode<uint32_t, volatile uint64_t>;
using DecodeSwitchNode = ireg::RegReferenceEnumBitNode<RtcDecodeSwitch_e, volatile uint64_t>;
using OutputSwitchNode = ireg::RegReferenceEnumBitNode<MgtOutputSwitch_e, volatile uint64_t>;
using EntryNode = ireg::RegFncNode<uint32_t>;

// The node made, or the failure of its Init as an exception: a subtree without one of its
// nodes would pass unnoticed.
mci::TreeNodePtr Made(const mci::TreeNodePtr& node, const std::string& name)
{
    if (!node) {
        throw istd::Exception("rtc: the node " + name + " could not be made", true);
    }
    return node;
}

} // namespace

RelevantTriggerCodingNode::RelevantTriggerCodingNode(const std::string& name, volatile iapp::FPGAMem_t* base)
    : ireg::RegNode(name, 0), m_base(base)
{
}

RelevantTriggerCodingNode::~RelevantTriggerCodingNode()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " RelevantTriggerCodingNode");
}

bool RelevantTriggerCodingNode::Init()
{
    ISTD_TRACE_FNC("bool iboard::RelevantTriggerCodingNode::Init()");
    if (!ireg::RegNode::Init()) {
        return false;
    }
    auto* switches = reinterpret_cast<volatile uint64_t*>(m_base + c_switches);
    Add(Made(mci::factory::Create<DecodeSwitchNode>("decoder_switch", *switches, 0u, c_switchBits, c_switchFlags),
             "decoder_switch"));
    Add(Made(mci::factory::Create<OutputSwitchNode>("mgt_out", *switches, c_switchBits, c_switchBits, c_switchFlags),
             "mgt_out"));

    for (size_t i = 0; i < c_decoderCount; ++i) {
        const std::string name = i < 3 ? "t" + std::to_string(i) : "mc";
        AddDecoder(name, *reinterpret_cast<volatile RtcDecoder*>(m_base + c_decoders * (i + 1)), 6);
    }

    mci::TreeNodePtr filter = Made(mci::factory::Create<ireg::RegNode>("stream_filter", mci::Flags(0)), "stream_filter");
    filter->Add(Made(mci::factory::Create<FieldNode>("in_mask", c_words,
                                                     reinterpret_cast<volatile uint64_t*>(m_base + c_filterMask), 0u,
                                                     c_fieldBits, c_wordFlags),
                     "in_mask"));
    filter->Add(Made(mci::factory::Create<FieldNode>("in_function", c_words,
                                                     reinterpret_cast<volatile uint64_t*>(m_base + c_filterFunction),
                                                     0u, c_fieldBits, c_wordFlags),
                     "in_function"));
    Add(filter);

    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::fill(std::begin(m_codes), std::end(m_codes), 0u);
        std::fill(std::begin(m_delays), std::end(m_delays), 0u);
    }
    mci::TreeNodePtr generator = Made(mci::factory::Create<ireg::RegNode>("generator", c_generatorFlags), "generator");
    auto* enable = reinterpret_cast<volatile uint64_t*>(m_base + c_genEnable);
    generator->Add(Made(mci::factory::Create<FieldNode>("enabled", *enable, 0u, 1u, c_switchFlags), "enabled"));
    // The table's fields are the node's: "apply" reads them under the node's lock, so a write of
    // an entry during a load lands wholly before or after it.
    for (auto [name, field] : {std::pair<const char*, uint32_t*>{"code", m_codes}, {"delay", m_delays}}) {
        generator->Add(Made(
            mci::factory::Create<EntryNode>(
                name, size_t{c_genLen},
                EntryNode::ArraySetter([this, field = field](const uint32_t* values, size_t pos, size_t count) {
                    return _SetEntries(field, values, pos, count);
                }),
                EntryNode::ArrayGetter([this, field = field](uint32_t* values, size_t pos, size_t count) {
                    return _GetEntries(field, values, pos, count);
                }),
                c_entryFlags),
            name));
    }
    generator->Add(Made(mci::factory::Create<ireg::RegExecNode>("apply", this, &RelevantTriggerCodingNode::ApplyGenerator),
                        "apply"));
    Add(generator);
    return true;
}

void RelevantTriggerCodingNode::AddDecoder(const std::string& name, volatile RtcDecoder& decoder, uint64_t flags)
{
    ISTD_TRACE_FNC("void iboard::RelevantTriggerCodingNode::AddDecoder(const std::string&, volatile RtcDecoder&, uint64_t)");
    mci::TreeNodePtr node = Made(mci::factory::Create<ireg::RegNode>(name, mci::Flags(flags)), name);
    node->Add(Made(mci::factory::Create<FieldNode>("in_mask", c_words, decoder.in_mask, 0u, c_fieldBits, c_wordFlags),
                   "in_mask"));
    node->Add(Made(mci::factory::Create<FieldNode>("in_function", c_words, decoder.in_function, 0u, c_fieldBits,
                                                   c_wordFlags),
                   "in_function"));
    node->Add(Made(mci::factory::Create<FieldNode>("code", c_words, decoder.code, 0u, c_codeBits, c_wordFlags), "code"));
    Add(node);
}

bool RelevantTriggerCodingNode::ApplyGenerator()
{
    ISTD_TRACE_FNC("bool iboard::RelevantTriggerCodingNode::ApplyGenerator()");
    std::lock_guard<std::mutex> lock(m_lock);
    _WriteGenerator(c_genStart, 1);
    for (size_t k = 0; k < c_genLen; ++k) {
        _WriteGenerator(c_genCode, m_codes[k]);
        _WriteGenerator(c_genDelay, m_delays[k]);
        if (m_delays[k] == c_lastDelay || m_delays[k] == c_lastDelayMarker) {
            break;
        }
    }
    return true;
}

bool RelevantTriggerCodingNode::_SetEntries(uint32_t* field, const uint32_t* values, size_t pos, size_t count)
{
    // The node checked position and count against its size.
    std::lock_guard<std::mutex> lock(m_lock);
    std::copy(values, values + count, field + pos);
    return true;
}

size_t RelevantTriggerCodingNode::_GetEntries(const uint32_t* field, uint32_t* values, size_t pos, size_t count) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::copy(field + pos, field + pos + count, values);
    return count;
}

void RelevantTriggerCodingNode::_WriteGenerator(size_t offset, uint32_t value)
{
    auto* word = reinterpret_cast<volatile uint32_t*>(m_base + offset);
    devio::Write(word, value);
    devio::Write(word + 1, uint32_t{0});
}

} // namespace iboard
