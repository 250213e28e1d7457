#ifndef E2E_PLUGINS_PROBE_H
#define E2E_PLUGINS_PROBE_H

// The feature the test plug-ins create: one string leaf "value", and a count of the probes alive
// in the process (a plug-in whose entry fails must leave none).

#include <atomic>
#include <string>

#include "iapp/kavrel_feature.h"
#include "ireg/reg_value_node.h"
#include "mci/factory.h"

namespace testplugin {

class Probe : public iapp::KavrelFeature {
public:
    Probe(iapp::KavrelObject& parent, const std::string& name, const std::string& value)
        : KavrelFeature(parent, name), m_value(value)
    {
        ++Alive();
    }
    ~Probe() override { --Alive(); }

    void OnRegistryAdd(mci::TreeNodePtr& node) override
    {
        node->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("value", m_value, mci::enums::eReadable));
    }

    // Per library: each plug-in counts its own.
    static std::atomic<int>& Alive()
    {
        static std::atomic<int> alive{0};
        return alive;
    }

private:
    const std::string m_value;
};

} // namespace testplugin

// Probes alive in this plug-in; the tests find it with dlsym.
extern "C" __attribute__((visibility("default"), used)) inline int TestPluginProbesAlive()
{
    return testplugin::Probe::Alive().load();
}

#endif
