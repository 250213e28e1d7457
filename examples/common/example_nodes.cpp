#include "example_nodes.h"

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "ireg/reg_enum_node.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_node.h"
#include "ireg/reg_value_node.h"
#include "ireg/validators.h"
#include "istd/trace.h"
#include "mci/factory.h"

ISTD_ENUM_TABLE(examples::TriggerMode_e, {examples::eTriggerOff, "off"}, {examples::eTriggerInternal, "internal"},
                {examples::eTriggerExternal, "external"}, {examples::eTriggerSoftware, "software"});

namespace examples {

namespace {

constexpr mci::Flags c_readOnly = mci::enums::eReadable;
constexpr mci::Flags c_setting = mci::enums::eReadable | mci::enums::eWritable;
constexpr mci::Flags c_persistent = c_setting | mci::enums::ePersistent;

// Registers that keep what is written, word by word, as a board's register file would: accesses
// of different nodes over one word are whole-word.
class WordModel : public devio::RegisterModel {
public:
    uint32_t OnRead32(size_t offset) override { return m_words.at(offset / 4).load(); }
    void OnWrite32(size_t offset, uint32_t value) override { m_words.at(offset / 4).store(value); }

private:
    std::array<std::atomic<uint32_t>, RegisterNodes::c_words> m_words{};
};

// Makes the node and attaches it under the folder.
template <class N, class... A>
void Leaf(const mci::TreeNodePtr& folder, A&&... args)
{
    folder->Add(mci::factory::Create<N>(std::forward<A>(args)...));
}

} // namespace

void SettingNodes::AddTo(const mci::TreeNodePtr& folder)
{
    ISTD_TRACE_FNC("void examples::SettingNodes::AddTo(const mci::TreeNodePtr&)");
    Leaf<ireg::RegValueNode<bool>>(folder, "enabled", true, c_persistent);
    Leaf<ireg::RegValueNode<int32_t>>(folder, ireg::Expr<ireg::expr::Range<int32_t, int32_t>>(0, 100), "count", 10,
                                      c_persistent);
    Leaf<ireg::RegValueNode<uint32_t>>(folder, "limit", 1000u, c_persistent);
    Leaf<ireg::RegValueNode<int64_t>>(folder, "offset", int64_t(-5), c_persistent);
    Leaf<ireg::RegValueNode<uint64_t>>(folder, "total", uint64_t(0), c_persistent);
    Leaf<ireg::RegValueNode<double>>(folder, "gain", 1.5, c_persistent);
    Leaf<ireg::RegValueNode<float>>(folder, "ratio", 0.5f, c_persistent);
    Leaf<ireg::RegValueNode<std::string>>(folder, "label", std::string("demo"), c_persistent);
    Leaf<ireg::RegValueEnumNode<TriggerMode_e>>(folder, "mode", eTriggerInternal, c_persistent);
    Leaf<ireg::RegReferenceNode<double>>(folder, "threshold", m_threshold, c_persistent);
    Leaf<ireg::RegFncNode<bool>>(folder, "led", this, &SettingNodes::_SetLed, &SettingNodes::_GetLed, c_setting);
}

bool SettingNodes::_GetLed(bool& on) const
{
    on = m_led;
    return true;
}

bool SettingNodes::_SetLed(const bool& on)
{
    m_led = on;
    return true;
}

void AddTableNodes(const mci::TreeNodePtr& folder)
{
    ISTD_TRACE_FNC("void examples::AddTableNodes(const mci::TreeNodePtr&)");
    Leaf<ireg::RegValueNode<bool>>(folder, "flags", std::vector<bool>{true, false, true, false}, c_persistent);
    Leaf<ireg::RegValueNode<int32_t>>(folder, "counts", std::vector<int32_t>{1, 2, 3, 4}, c_persistent);
    Leaf<ireg::RegValueNode<uint32_t>>(folder, "limits", std::vector<uint32_t>{10, 20, 30, 4000000000u}, c_persistent);
    Leaf<ireg::RegValueNode<int64_t>>(folder, "offsets", std::vector<int64_t>{-1, 0, 1, -9000000000}, c_persistent);
    Leaf<ireg::RegValueNode<uint64_t>>(folder, "totals", std::vector<uint64_t>{0, 1, 2, UINT64_MAX}, c_persistent);
    Leaf<ireg::RegValueNode<double>>(folder, "gains", std::vector<double>{0.5, 1, 1.5, -2.25}, c_persistent);
    Leaf<ireg::RegValueNode<float>>(folder, "ratios", std::vector<float>{0.25f, 0.5f, 0.75f, 1}, c_persistent);
    Leaf<ireg::RegValueNode<std::string>>(folder, "labels", std::vector<std::string>{"a", "b", "c"}, c_persistent);
    Leaf<ireg::RegValueEnumNode<TriggerMode_e>>(
        folder, "modes", std::vector<TriggerMode_e>{eTriggerOff, eTriggerInternal, eTriggerExternal}, c_persistent);
}

RegisterNodes::RegisterNodes() : m_claim(m_window, sizeof(m_window), std::make_shared<WordModel>()) {}

void RegisterNodes::AddTo(const mci::TreeNodePtr& folder)
{
    ISTD_TRACE_FNC("void examples::RegisterNodes::AddTo(const mci::TreeNodePtr&)");
    volatile uint32_t* words = m_window;
    Leaf<ireg::RegReferenceNode<uint32_t, volatile uint32_t>>(folder, "words", c_words, words, c_setting);
    Leaf<ireg::RegReferenceBitNode<bool, volatile uint32_t>>(folder, "enable", m_window[0], 0u, 1u, c_setting);
    Leaf<ireg::RegReferenceBitNode<uint32_t, volatile uint32_t>>(folder, "divider", m_window[0], 4u, 8u, c_setting);
    Leaf<ireg::RegReferenceEnumBitNode<TriggerMode_e, volatile uint32_t>>(folder, "modes", c_words - 1, words + 1,
                                                                          0u, 2u, c_setting);
}

ControlNodes::ControlNodes() : m_start(std::chrono::steady_clock::now()) {}

void ControlNodes::AddUptime(const mci::TreeNodePtr& folder)
{
    Leaf<ireg::RegFncNode<uint64_t>>(folder, "uptime", this, 0, &ControlNodes::_GetUptime, c_readOnly);
}

void ControlNodes::AddCommand(const mci::TreeNodePtr& folder)
{
    ISTD_TRACE_FNC("void examples::ControlNodes::AddCommand(const mci::TreeNodePtr&)");
    Leaf<ireg::RegExecNode>(folder, "apply", this, &ControlNodes::_Apply);
    auto applied = std::static_pointer_cast<ireg::RegNode>(
        mci::factory::Create<ireg::RegValueNode<uint32_t>>("applied", 0u, c_readOnly));
    folder->Add(applied);
    m_applied = applied;
}

bool ControlNodes::_GetUptime(uint64_t& seconds) const
{
    seconds = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start).count());
    return true;
}

bool ControlNodes::_Apply()
{
    ISTD_TRACE_FNC("bool examples::ControlNodes::_Apply()");
    const std::shared_ptr<ireg::RegNode> applied = m_applied.lock();
    uint32_t runs = 0;
    return applied && applied->GetValue(runs) && applied->SetValue(runs + 1);
}

} // namespace examples
