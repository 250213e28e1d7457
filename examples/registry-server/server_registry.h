#ifndef REGSERVER_SERVER_REGISTRY_H
#define REGSERVER_SERVER_REGISTRY_H

// The registry the example server serves: the examples' node set (common/example_nodes.h) under
// a configuration root that keeps the persistent values in the server's configuration file.
//
//   info/name, info/version       string values, constant
//   info/uptime                   the control part's "uptime": seconds since start
//   settings/...                  the settings part
//   tables/...                    the tables part
//   registers/...                 the registers part
//   apply, applied                the control part's command
//   signal                        signal node over a generated signal ("ramp", GeneratedSignal)
//
// Life: Load() once, serve, then Destroy() before the ORB is destroyed (the tree's clean-up
// writes the configuration file and withdraws the signal node's servant); the signal source and
// the register block go with this object, after the tree.

#include <memory>
#include <string>

#include "common/example_nodes.h"
#include "common/generated_signal.h"
#include "icfg/configuration.h"
#include "ireg/reg_config_node.h"

namespace regserver {

class ServerRegistry {
public:
    // Builds the tree; generated schemas import the types schema at typesSchema.
    ServerRegistry(const std::string& configFile, const std::string& typesSchema);
    // Destroy() when it was not called, then the register block is released.
    ~ServerRegistry();

    ServerRegistry(const ServerRegistry&) = delete;
    ServerRegistry& operator=(const ServerRegistry&) = delete;

    // Loads the configuration file: true when every value was read, false when the file does
    // not exist (the built-in values stay). Throws istd::Exception for a file that cannot be read
    // or is damaged; it is then never written.
    bool Load();
    // Destroys the tree, which writes the configuration file (unless a load refused it, or save
    // is false: a start that failed leaves the file as it was).
    void Destroy(bool save = true);

    const std::shared_ptr<ireg::RegConfigNode>& Root() const { return m_root; }

private:
    void _AddInfo();

    examples::ControlNodes m_control;
    icfg::Configuration m_configuration;
    examples::GeneratedSignal m_signal;
    examples::SettingNodes m_settings;
    examples::RegisterNodes m_registers;
    std::shared_ptr<ireg::RegConfigNode> m_root;
};

} // namespace regserver

#endif
