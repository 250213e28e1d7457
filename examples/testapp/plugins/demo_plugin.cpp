#include "demo_plugin.h"

#include <vector>

#include "iapp/kavrel_plugin_handler.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_node.h"
#include "ireg/reg_value_node.h"
#include "ireg/signal_node.h"
#include "ireg/validators.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "mci/factory.h"

ISTD_ENUM_TABLE(demo::TriggerMode_e, {demo::eTriggerOff, "off"}, {demo::eTriggerInternal, "internal"},
                {demo::eTriggerExternal, "external"}, {demo::eTriggerSoftware, "software"});

namespace demo {

namespace {

constexpr mci::Flags c_readOnly = mci::enums::eReadable;
constexpr mci::Flags c_setting = mci::enums::eReadable | mci::enums::eWritable;
constexpr mci::Flags c_persistent = c_setting | mci::enums::ePersistent;

// Registers that keep what is written, word by word, as a board's register file would.
class WordModel : public devio::RegisterModel {
public:
    uint32_t OnRead32(size_t offset) override { return m_words.at(offset / 4).load(); }
    void OnWrite32(size_t offset, uint32_t value) override { m_words.at(offset / 4).store(value); }

private:
    std::array<std::atomic<uint32_t>, Registers::c_words> m_words{};
};

// Makes the node and attaches it under parent.
template <class N, class... A>
void Leaf(mci::TreeNodePtr& parent, A&&... args)
{
    parent->Add(mci::factory::Create<N>(std::forward<A>(args)...));
}

} // namespace

Settings::Settings(iapp::KavrelObject& parent, const std::string& name) : KavrelFeature(parent, name) {}

void Settings::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Settings::OnRegistryAdd(mci::TreeNodePtr&)");
    Leaf<ireg::RegValueNode<bool>>(node, "enabled", true, c_persistent);
    Leaf<ireg::RegValueNode<int32_t>>(node, ireg::Expr<ireg::expr::Range<int32_t, int32_t>>(0, 100), "count", 10,
                                      c_persistent);
    Leaf<ireg::RegValueNode<uint32_t>>(node, "limit", 1000u, c_persistent);
    Leaf<ireg::RegValueNode<int64_t>>(node, "offset", int64_t(-5), c_persistent);
    Leaf<ireg::RegValueNode<uint64_t>>(node, "total", uint64_t(0), c_persistent);
    Leaf<ireg::RegValueNode<double>>(node, "gain", 1.5, c_persistent);
    Leaf<ireg::RegValueNode<float>>(node, "ratio", 0.5f, c_persistent);
    Leaf<ireg::RegValueNode<std::string>>(node, "label", std::string("demo"), c_persistent);
    Leaf<ireg::RegValueEnumNode<TriggerMode_e>>(node, "mode", eTriggerInternal, c_persistent);
    Leaf<ireg::RegReferenceNode<double>>(node, "threshold", m_threshold, c_persistent);
    Leaf<ireg::RegFncNode<bool>>(node, "led", this, &Settings::_SetLed, &Settings::_GetLed, c_setting);
}

bool Settings::_GetLed(bool& on) const
{
    on = m_led;
    return true;
}

bool Settings::_SetLed(const bool& on)
{
    m_led = on;
    return true;
}

Tables::Tables(iapp::KavrelObject& parent, const std::string& name) : KavrelFeature(parent, name) {}

void Tables::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Tables::OnRegistryAdd(mci::TreeNodePtr&)");
    Leaf<ireg::RegValueNode<bool>>(node, "flags", std::vector<bool>{true, false, true, false}, c_persistent);
    Leaf<ireg::RegValueNode<int32_t>>(node, "counts", std::vector<int32_t>{1, 2, 3, 4}, c_persistent);
    Leaf<ireg::RegValueNode<uint32_t>>(node, "limits", std::vector<uint32_t>{10, 20, 30, 4000000000u}, c_persistent);
    Leaf<ireg::RegValueNode<int64_t>>(node, "offsets", std::vector<int64_t>{-1, 0, 1, -9000000000}, c_persistent);
    Leaf<ireg::RegValueNode<uint64_t>>(node, "totals", std::vector<uint64_t>{0, 1, 2, UINT64_MAX}, c_persistent);
    Leaf<ireg::RegValueNode<double>>(node, "gains", std::vector<double>{0.5, 1, 1.5, -2.25}, c_persistent);
    Leaf<ireg::RegValueNode<float>>(node, "ratios", std::vector<float>{0.25f, 0.5f, 0.75f, 1}, c_persistent);
    Leaf<ireg::RegValueNode<std::string>>(node, "labels", std::vector<std::string>{"a", "b", "c"}, c_persistent);
    Leaf<ireg::RegValueEnumNode<TriggerMode_e>>(
        node, "modes", std::vector<TriggerMode_e>{eTriggerOff, eTriggerInternal, eTriggerExternal}, c_persistent);
}

Registers::Registers(iapp::KavrelObject& parent, const std::string& name)
    : KavrelFeature(parent, name), m_claim(m_window, sizeof(m_window), std::make_shared<WordModel>())
{
}

void Registers::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Registers::OnRegistryAdd(mci::TreeNodePtr&)");
    volatile uint32_t* words = m_window;
    Leaf<ireg::RegReferenceNode<uint32_t, volatile uint32_t>>(node, "words", c_words, words, c_setting);
    Leaf<ireg::RegReferenceBitNode<bool, volatile uint32_t>>(node, "enable", m_window[0], 0u, 1u, c_setting);
    Leaf<ireg::RegReferenceBitNode<uint32_t, volatile uint32_t>>(node, "divider", m_window[0], 4u, 8u, c_setting);
    Leaf<ireg::RegReferenceEnumBitNode<TriggerMode_e, volatile uint32_t>>(node, "modes", c_words - 1, words + 1, 0u,
                                                                          2u, c_setting);
}

Control::Control(iapp::KavrelObject& parent, const std::string& name)
    : KavrelFeature(parent, name), m_start(std::chrono::steady_clock::now())
{
}

void Control::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Control::OnRegistryAdd(mci::TreeNodePtr&)");
    Leaf<ireg::RegFncNode<uint64_t>>(node, "uptime", this, 0, &Control::_GetUptime, c_readOnly);
    Leaf<ireg::RegExecNode>(node, "apply", this, &Control::_Apply);
    auto applied = std::static_pointer_cast<ireg::RegNode>(
        mci::factory::Create<ireg::RegValueNode<uint32_t>>("applied", 0u, c_readOnly));
    node->Add(applied);
    m_applied = applied;
}

void Control::OnShutdown()
{
    istd::LogInfo("Plug-in demo shut down.");
}

bool Control::_GetUptime(uint64_t& seconds) const
{
    seconds = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start).count());
    return true;
}

bool Control::_Apply()
{
    ISTD_TRACE_FNC("bool demo::Control::_Apply()");
    const std::shared_ptr<ireg::RegNode> applied = m_applied.lock();
    uint32_t runs = 0;
    return applied && applied->GetValue(runs) && applied->SetValue(runs + 1);
}

Ramp::Ramp(iapp::KavrelObject& parent, const std::string& name) : KavrelFeature(parent, name), m_signal("ramp", "demo")
{
}

void Ramp::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Ramp::OnRegistryAdd(mci::TreeNodePtr&)");
    Leaf<ireg::SignalNode>(node, "signal", &m_signal);
}

} // namespace demo

KAVREL_PLUGIN_ENTRY(handler)
{
    handler.SetName("demo");
    handler.SetVersion("1.0");
    handler.SetInfo({{"description", "settings, tables, registers and a signal of every kind"}, {"vendor", "kavrel"}});
    iapp::Create<demo::Settings>(handler, "settings");
    iapp::Create<demo::Tables>(handler, "tables");
    iapp::Create<demo::Registers>(handler, "registers");
    iapp::Create<demo::Control>(handler, "control");
    iapp::Create<demo::Ramp>(handler, "ramp");
}
