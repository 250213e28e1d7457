#ifndef IAPP_BOARDS_ZOLT_ZOLT_LEDS_NODE_H
#define IAPP_BOARDS_ZOLT_ZOLT_LEDS_NODE_H

// The registry node "leds" (flags 0x40) of the event-receiver board: its twelve LEDs, bit i of
// the 64-bit LED register driving LED i. One node per LED, in bit order, each a 1-bit uint64 node
// (flags 6) that takes 0 and 1: "sys_orange", "sys_green", "pm_orange", "pm_green",
// "trig_orange", "trig_green", "ilk_red", "ilk_green", "front_yellow", "front_white",
// "mc_orange", "sfp_green".

#include <array>
#include <cstddef>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "ireg/reg_node.h"

namespace iboard {

class IAPP_API ZoltLedsNode : public ireg::RegNode {
public:
    static const std::array<const char*, 12> c_ledNames;

    static size_t Size() { return 8; }

    // Flags 0x40; the window must hold Size() bytes and outlive the node.
    ZoltLedsNode(const std::string& name, volatile iapp::FPGAMem_t* base);
    ~ZoltLedsNode() override;

    bool Init() override;

private:
    volatile iapp::FPGAMem_t* const m_base;
};

} // namespace iboard

#endif
