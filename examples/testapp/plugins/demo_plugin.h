#ifndef DEMO_PLUGIN_DEMO_PLUGIN_H
#define DEMO_PLUGIN_DEMO_PLUGIN_H

// The example plug-in "demo" (demo.so): put it into an application's plug-in folder and its
// features appear under application/plugins/demo, beside the plug-in's "version", "file_name"
// and info leaves:
//
//   settings/enabled ... label    value nodes of the scalar types, persistent; "count" takes
//                                 0 to 100 only
//   settings/mode                 enumeration (TriggerMode_e), persistent
//   settings/threshold            double reference node over a member, persistent
//   settings/led                  bool function node (getter and setter)
//   tables/...                    arrays of every value type and of the enumeration, persistent
//   registers/words               uint32 reference array over a block of four register words,
//                                 which a simulated register model serves (devio)
//   registers/enable              bool bit field (bit 0 of word 0)
//   registers/divider             uint32 bit field (bits 4..11 of word 0)
//   registers/modes               enumeration bit fields (bits 0..1 of words 1..3)
//   control/uptime                uint64, seconds since the plug-in was loaded
//   control/apply                 command node: counts its runs in "applied"
//   control/applied               uint32, read-only
//   ramp/signal                   signal node over a generated signal ("ramp", owner "demo")
//
// When the application shuts down, "control" logs "Plug-in demo shut down." (info).

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "devio/reg_access.h"
#include "iapp/kavrel_feature.h"
#include "ireg/reg_node.h"
#include "istd/enum_map.h"
#include "registry-server/generated_signal.h"

namespace demo {

enum TriggerMode_e : int32_t {
    eTriggerOff = 0,
    eTriggerInternal = 1,
    eTriggerExternal = 2,
    eTriggerSoftware = 3,
};

} // namespace demo

ISTD_ENUM_TABLE_DECL(demo::TriggerMode_e)

namespace demo {

class Settings : public iapp::KavrelFeature {
public:
    Settings(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    bool _GetLed(bool& on) const;
    bool _SetLed(const bool& on);

    // Reached only through their nodes, under the node's lock.
    double m_threshold = 0.75;
    bool m_led = false;
};

class Tables : public iapp::KavrelFeature {
public:
    Tables(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;
};

class Registers : public iapp::KavrelFeature {
public:
    static constexpr size_t c_words = 4;

    // Claims the block for the simulated registers.
    Registers(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    // The register words the nodes point at; every access reaches the model.
    volatile uint32_t m_window[c_words] = {};
    devio::RangeClaim m_claim;
};

class Control : public iapp::KavrelFeature {
public:
    Control(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    void OnShutdown() override;

private:
    bool _GetUptime(uint64_t& seconds) const;
    bool _Apply();

    const std::chrono::steady_clock::time_point m_start;
    // Weak: the node belongs to the registry, which goes before the feature.
    std::weak_ptr<ireg::RegNode> m_applied;
};

class Ramp : public iapp::KavrelFeature {
public:
    Ramp(iapp::KavrelObject& parent, const std::string& name);
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    regserver::GeneratedSignal m_signal;
};

} // namespace demo

#endif
