#include "demo_plugin.h"

#include "iapp/kavrel_plugin_handler.h"
#include "ireg/signal_node.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "mci/factory.h"

namespace demo {

Settings::Settings(iapp::KavrelObject& parent, const std::string& name) : KavrelFeature(parent, name) {}

void Settings::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Settings::OnRegistryAdd(mci::TreeNodePtr&)");
    m_nodes.AddTo(node);
}

Tables::Tables(iapp::KavrelObject& parent, const std::string& name) : KavrelFeature(parent, name) {}

void Tables::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Tables::OnRegistryAdd(mci::TreeNodePtr&)");
    examples::AddTableNodes(node);
}

Registers::Registers(iapp::KavrelObject& parent, const std::string& name) : KavrelFeature(parent, name) {}

void Registers::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Registers::OnRegistryAdd(mci::TreeNodePtr&)");
    m_nodes.AddTo(node);
}

Control::Control(iapp::KavrelObject& parent, const std::string& name) : KavrelFeature(parent, name) {}

void Control::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Control::OnRegistryAdd(mci::TreeNodePtr&)");
    m_nodes.AddUptime(node);
    m_nodes.AddCommand(node);
}

void Control::OnShutdown()
{
    istd::LogInfo("Plug-in demo shut down.");
}

Ramp::Ramp(iapp::KavrelObject& parent, const std::string& name) : KavrelFeature(parent, name), m_signal("ramp", "demo")
{
}

void Ramp::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void demo::Ramp::OnRegistryAdd(mci::TreeNodePtr&)");
    node->Add(mci::factory::Create<ireg::SignalNode>("signal", &m_signal));
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
