#ifndef EXAMPLES_COMMON_EXAMPLE_NODES_H
#define EXAMPLES_COMMON_EXAMPLE_NODES_H

// The node set the example programs serve: registry-server under its registry's root, the
// example plug-in demo.so under its features. Each part adds its nodes, in this order, to the
// folder it is given; where that folder stands is the program's choice.
//
//   settings   enabled ... label   value nodes of the scalar types, persistent; "count" takes
//                                  0 to 100 only
//              mode                enumeration (TriggerMode_e), persistent
//              threshold           double reference node over a member, persistent
//              led                 bool function node (getter and setter)
//   tables     ...                 arrays of every value type and of the enumeration, persistent
//   registers  words               uint32 reference array over a block of four register words,
//                                  which a simulated register model serves (devio)
//              enable              bool bit field (bit 0 of word 0)
//              divider             uint32 bit field (bits 4..11 of word 0)
//              modes               enumeration bit fields (bits 0..1 of words 1..3)
//   control    uptime              uint64 function node (getter only): seconds since the part
//                                  was made
//              apply               command node: counts its runs in "applied"
//              applied             uint32, read-only
//
// The parts with state keep what their nodes reach (referents, register block, start time):
// such a part must outlive the nodes it added.

#include <chrono>
#include <cstdint>
#include <memory>

#include "devio/reg_access.h"
#include "ireg/reg_node.h"
#include "istd/enum_map.h"
#include "mci/types.h"

namespace examples {

enum TriggerMode_e : int32_t {
    eTriggerOff = 0,
    eTriggerInternal = 1,
    eTriggerExternal = 2,
    eTriggerSoftware = 3,
};

} // namespace examples

ISTD_ENUM_TABLE_DECL(examples::TriggerMode_e)

namespace examples {

class SettingNodes {
public:
    SettingNodes() = default;
    SettingNodes(const SettingNodes&) = delete;
    SettingNodes& operator=(const SettingNodes&) = delete;

    void AddTo(const mci::TreeNodePtr& folder);

private:
    bool _GetLed(bool& on) const;
    bool _SetLed(const bool& on);

    // Reached only through their nodes, under the node's lock.
    double m_threshold = 0.75;
    bool m_led = false;
};

void AddTableNodes(const mci::TreeNodePtr& folder);

class RegisterNodes {
public:
    static constexpr size_t c_words = 4;

    // Claims the block for the simulated registers.
    RegisterNodes();
    RegisterNodes(const RegisterNodes&) = delete;
    RegisterNodes& operator=(const RegisterNodes&) = delete;

    void AddTo(const mci::TreeNodePtr& folder);

private:
    // The register words the nodes point at; every access reaches the model.
    volatile uint32_t m_window[c_words] = {};
    devio::RangeClaim m_claim;
};

// "uptime" and the command apply/applied, which the programs place apart.
class ControlNodes {
public:
    ControlNodes();
    ControlNodes(const ControlNodes&) = delete;
    ControlNodes& operator=(const ControlNodes&) = delete;

    void AddUptime(const mci::TreeNodePtr& folder);
    void AddCommand(const mci::TreeNodePtr& folder);

private:
    bool _GetUptime(uint64_t& seconds) const;
    bool _Apply();

    const std::chrono::steady_clock::time_point m_start;
    // Weak: the node belongs to the registry, which may go first.
    std::weak_ptr<ireg::RegNode> m_applied;
};

} // namespace examples

#endif
