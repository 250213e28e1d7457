#ifndef IAPP_FEATURES_PAX_TRIGGER_GENERATION_H
#define IAPP_FEATURES_PAX_TRIGGER_GENERATION_H

// The trigger generation of the timing boards: four trigger channels in a 176-byte window, the
// LEMO output control, the LXI trigger-line directions and, on boards that have one, the
// backplane T0 trigger switch.
//
//   channel c (0-3), block at 0x20 * c:  +0x00 source (64-bit word, bits 0-2)   +0x08 prescaler
//                                        +0x0C code (bits 0-3)   +0x10 debouncer
//                                        +0x18 ignored triggers  +0x1C ignored external triggers
//   0xA0  bits 0-3 LXI directions, bits 16-18 backplane T0 line     0xA8  LEMO control (64-bit)
//
// Every channel setting is a registry node over its register, made at construction; the
// accessors find their node by the (possibly overridden) row name and set through
// RegNode::SetValue, so a change by the application is validated, locked and notified as a
// remote one is, and then flushed to the FPGA. Channel numbers outside 0-3 are refused with
// false.
//
//     auto* triggers = board.RegisterObject<ifeature::PaxTriggerGeneration>(
//         0x400000, "triggers", ifeature::PaxTriggerGeneration::c_trigConfigurations, nullptr, false);
//     triggers->SetTriggerPrescaler(2, 1000);

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "iapp/features/reg_node_properties.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_fpga_object.h"
#include "istd/enum_map.h"
#include "mci/types.h"

namespace ireg {
class RegNode;
}

namespace ifeature {

// The source of a trigger channel ("Off", "External", "Internal", "Pulse", "LXI", "RTC").
enum TriggerSourceType {
    eTriggerSourceOff = 0,
    eTriggerSourceExternal = 1,
    eTriggerSourceInternal = 2,
    eTriggerSourcePulse = 3,
    eTriggerSourceLXI = 4,
    eTriggerSourceRTC = 5,
};

// The line the backplane T0 trigger switch selects ("T0", "MC").
enum BackplaneLineT0_e {
    eBackplaneLineT0 = 0,
    eBackplaneLineMC = 1,
};

// One trigger: its node's name, whether it is enabled (a disabled trigger's node has the
// hidden flag 0x40) and its channel (0-3).
struct IAPP_API TrigConfiguration {
    const char* name;
    bool enabled;
    uint32_t channel;
};

class IAPP_API PaxTriggerGeneration : public iapp::KavrelFpgaObject {
public:
    using TrigConfigurations = std::array<TrigConfiguration, 4>;
    using RegNodeConfiguration = ifeature::RegNodeConfiguration;
    using RegNodeProperties = std::array<RegNodeProperty, 7>;

    // Node rows, indexed as c_defRegNodeProperties.
    enum Row_e {
        eRowName = 0,
        eRowSource = 1,
        eRowPrescaler = 2,
        eRowCode = 3,
        eRowDebouncer = 4,
        eRowIgnoredCounter = 5,
        eRowExternalIgnoredCounter = 6,
    };

    // ("mc", true, 3), ("t0", true, 0), ("t1", true, 1), ("t2", true, 2).
    static const TrigConfigurations c_trigConfigurations;
    // "name" 2, "source" 6, "prescaler" 0x4E, "code" 0x0E, "debouncer" 0x46,
    // "ignored_counter" 2, "external_ignored_counter" 2.
    static const RegNodeProperties c_defRegNodeProperties;

    static uint32_t Size() { return 176; }

    // Writes the hardware defaults (every source Off, every code 15, a prescaler of 0 becomes
    // 50000 and a debouncer of 0 becomes 100000, LXI directions 0xF with T0 line "T0") and makes
    // each trigger's nodes. Channel 3's source takes only Off, External and RTC. Refused with
    // istd::Exception: a trigger channel outside 0-3 or no trigger on channel 3 ("<name>:
    // trigger <trigger> has channel <n>, not 0-3" / "<name>: no trigger on channel 3"), and
    // override rows outside 0-6 (see ApplyOverrides).
    PaxTriggerGeneration(iapp::KavrelBoard& board, volatile iapp::FPGAMem_t* window, const std::string& name,
                         const TrigConfigurations& configurations,
                         const std::vector<RegNodeConfiguration>* overrides, bool backplane);
    ~PaxTriggerGeneration() override;

    // The channel accessors: false for a channel outside 0-3. The getters' node reads throw the
    // registry's exception, but GetTriggerSource, which answers false when the source cannot be
    // read (a code without a name, 6 or 7) and leaves source unchanged. The setters answer
    // RegNode::SetValue's result and flush the posted writes after a successful set.
    bool GetTriggerSource(size_t channel, TriggerSourceType& source);
    bool SetTriggerSource(size_t channel, const TriggerSourceType& source);
    bool GetTriggerPrescaler(size_t channel, uint32_t& prescaler);
    bool SetTriggerPrescaler(size_t channel, const uint32_t& prescaler);
    bool GetTriggerDebouncer(size_t channel, uint32_t& debouncer);
    bool SetTriggerDebouncer(size_t channel, const uint32_t& debouncer);
    bool GetTriggerCode(size_t channel, uint32_t& code);
    bool SetTriggerCode(size_t channel, const uint32_t& code);
    bool GetTriggerIgnoredCounter(size_t channel, uint32_t& counter);

    // Registers outside the channels, accessed directly. True.
    bool GetLemoControl(uint32_t& value) const;
    bool SetLemoControl(const uint32_t& value);
    bool GetLXIDirection(uint32_t& value) const;
    // Bits 0-3 of 0xA0 become the value's low four bits; the rest of the word stays.
    bool SetLXIDirection(const uint32_t& value);

    // Only with the backplane flag (else false with a level-1 trace): through the "T0" node once
    // the registry exists (its set's failures throw), before that straight into bits 16-18 of
    // 0xA0, false when the word does not read back so.
    bool SetBackplaneT0Switch(const BackplaneLineT0_e& line);

    // The nodes of the trigger of a channel (null for none), and of its row.
    mci::TreeNodePtr GetTriggerNode(size_t channel) const;
    std::shared_ptr<ireg::RegNode> GetChannelNode(size_t channel, Row_e row) const;
    const RegNodeProperties& GetNodeProperties() const { return m_nodeProperties; }

    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    // Sets channel 2 to External.
    void OnPreConfig() override;

private:
    volatile uint32_t* _Word32(size_t offset) const;
    volatile uint64_t* _Word64(size_t offset) const;
    mci::TreeNodePtr _MakeTrigger(const TrigConfiguration& configuration);
    bool _SetChannelValue(size_t channel, Row_e row, const uint32_t& value);
    bool _GetChannelValue(size_t channel, Row_e row, uint32_t& value);

    volatile iapp::FPGAMem_t* const m_window;
    std::array<mci::TreeNodePtr, 4> m_triggerNodes;
    mci::TreeNodePtr m_t0Node;
    const TrigConfigurations m_trigConfigurations;
    const RegNodeProperties m_nodeProperties;
    const bool m_backplane;
};

} // namespace ifeature

ISTD_ENUM_TABLE_DECL(ifeature::TriggerSourceType)
ISTD_ENUM_TABLE_DECL(ifeature::BackplaneLineT0_e)

#endif
