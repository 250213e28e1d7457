#ifndef DEMO_PLUGIN_DEMO_PLUGIN_H
#define DEMO_PLUGIN_DEMO_PLUGIN_H

// The example plug-in "demo" (demo.so): put it into an application's plug-in folder and its
// features appear under application/plugins/demo, beside the plug-in's "version", "file_name"
// and info leaves. They serve the examples' node set (common/example_nodes.h), as registry-server
// does:
//
//   settings/...                  the settings part
//   tables/...                    the tables part
//   registers/...                 the registers part
//   control/uptime                seconds since the plug-in was loaded
//   control/apply, applied        the control part's command
//   ramp/signal                   signal node over a generated signal ("ramp", owner "demo")
//
// When the application shuts down, "control" logs "Plug-in demo shut down." (info).

#include <string>

#include "common/example_nodes.h"
#include "common/generated_signal.h"
#include "iapp/kavrel_feature.h"

namespace demo {

class Settings : public iapp::KavrelFeature {
public:
    Settings(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    examples::SettingNodes m_nodes;
};

class Tables : public iapp::KavrelFeature {
public:
    Tables(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;
};

class Registers : public iapp::KavrelFeature {
public:
    Registers(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    examples::RegisterNodes m_nodes;
};

class Control : public iapp::KavrelFeature {
public:
    Control(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    void OnShutdown() override;

private:
    examples::ControlNodes m_nodes;
};

class Ramp : public iapp::KavrelFeature {
public:
    Ramp(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    examples::GeneratedSignal m_signal;
};

} // namespace demo

#endif
