#ifndef REGSERVER_SERVER_REGISTRY_H
#define REGSERVER_SERVER_REGISTRY_H

// The registry the example server serves: a node of every kind under a configuration root that
// keeps the persistent values in the server's configuration file.
//
//   info/name, info/version       string values, constant
//   info/uptime                   uint64 function node (getter only): seconds since start
//   settings/enabled ... label    value nodes of the scalar types, persistent; "count" takes
//                                 0 to 100 only
//   settings/mode                 enumeration (TriggerMode_e), persistent
//   settings/threshold            double reference node over a variable of the server, persistent
//   settings/led                  bool function node (getter and setter)
//   tables/...                    arrays of every value type and of the enumeration, persistent
//   registers/words               uint32 reference array over a block of four register words,
//                                 served by a simulated register model (devio)
//   registers/enable              bool bit field (bit 0 of word 0)
//   registers/divider             uint32 bit field (bits 4..11 of word 0)
//   registers/modes               enumeration bit fields (bits 0..1 of words 1..3)
//   apply                         command node: counts its runs in "applied"
//   applied                       uint32, read-only
//   signal                        signal node over a generated signal ("ramp", GeneratedSignal)
//
// Life: Load() once, serve, then Destroy() before the ORB is destroyed (the tree's clean-up
// writes the configuration file and withdraws the signal node's servant); the signal source and
// the register block go with this object, after the tree.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "devio/reg_access.h"
#include "generated_signal.h"
#include "icfg/configuration.h"
#include "ireg/reg_config_node.h"
#include "istd/enum_map.h"

namespace regserver {

enum TriggerMode_e : int32_t {
    eTriggerOff = 0,
    eTriggerInternal = 1,
    eTriggerExternal = 2,
    eTriggerSoftware = 3,
};

} // namespace regserver

ISTD_ENUM_TABLE_DECL(regserver::TriggerMode_e)

namespace regserver {

class ServerRegistry {
public:
    static constexpr size_t c_registerWords = 4;

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
    bool _GetUptime(uint64_t& seconds) const;
    bool _GetLed(bool& on) const;
    bool _SetLed(const bool& on);
    bool _Apply();

    void _AddInfo();
    void _AddSettings();
    void _AddTables();
    void _AddRegisters();
    void _AddCommand();

    const std::chrono::steady_clock::time_point m_start;
    icfg::Configuration m_configuration;
    GeneratedSignal m_signal;
    // The register words the nodes point at; the simulated block serves every access.
    volatile uint32_t m_window[c_registerWords] = {};
    devio::RangeId m_registers = 0;
    // Referents and state of the reference and function nodes, reached only through their
    // nodes (under the node's lock).
    double m_threshold = 0.75;
    bool m_led = false;
    std::shared_ptr<ireg::RegNode> m_applied;
    std::shared_ptr<ireg::RegConfigNode> m_root;
};

} // namespace regserver

#endif
