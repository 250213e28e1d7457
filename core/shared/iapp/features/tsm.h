#ifndef IAPP_FEATURES_TSM_H
#define IAPP_FEATURES_TSM_H

// A timing-state machine of the FPGA: three 64-bit registers in a window of at least 24 bytes.
//
//   0x00  duration - 1 (0 .. 0x1FFFFFF, high half 0)    valid durations 1 .. 33554432
//   0x08  offset - 3   (0 .. 0x1FFFFFF, high half 0)    valid offsets   3 .. 33554434
//   0x10  control: bit 0 polarity, bit 1 enabled, bit 2 continuous
//
// Nodes (names and flags overridable by row): "duration" and "offset" (0x0A: readable and
// persistent, not written by clients), "polarity", "enabled", "continuous" (0x4E).
//
// Until the application runs (states 1-3) SetDuration and SetOffset write the registers
// directly; in the running state (4) they go through the nodes, so that the nodes' validators
// run and their subscribers hear of the change. Either way a refused value throws.
//
//     auto* tsm = board.RegisterObject<ifeature::Tsm>(0x410000, "tsm");
//     tsm->SetDuration(1000);

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

namespace ifeature {

// "Positive", "Negative".
enum TsmPolarity_e {
    eTsmPositive = 0,
    eTsmNegative = 1,
};

class IAPP_API Tsm : public iapp::KavrelFpgaObject {
public:
    using RegNodeConfiguration = ifeature::RegNodeConfiguration;
    using RegNodeProperties = std::array<RegNodeProperty, 5>;

    // "duration" 0x0A, "offset" 0x0A, "polarity" 0x4E, "enabled" 0x4E, "continuous" 0x4E.
    static const RegNodeProperties c_defRegProperties;

    static constexpr uint32_t c_minDuration = 1;
    static constexpr uint32_t c_maxDuration = 33554432;
    static constexpr uint32_t c_minOffset = 3;
    static constexpr uint32_t c_maxOffset = 33554434;

    static size_t Size() { return 24; }

    // Duration 1048576, offset 3, control 2 (enabled, positive, not continuous). Override rows
    // outside 0-4 are refused (see ApplyOverrides).
    Tsm(iapp::KavrelBoard& board, volatile iapp::FPGAMem_t* window, const std::string& name,
        const std::vector<RegNodeConfiguration>* overrides = nullptr);
    ~Tsm() override;

    // The registers. True.
    bool GetDuration(uint32_t& duration) const;
    bool GetOffset(uint32_t& offset) const;

    // By the application's state: 1-3 _SetDuration/_SetOffset; 4 the node's set without the
    // writable test (the register directly when there is no node). True, or the refusal thrown
    // with the register unchanged: the node's ireg::ValidationError, "Node is a constant.", or
    // the register's range text. Any other state: istd::Exception "Internal error: unsupported
    // TSM setting".
    bool SetDuration(const uint32_t& duration);
    bool SetOffset(const uint32_t& offset);

    // Write the register and flush; a value outside the valid range throws istd::Exception
    // "Duration value <d> is out of valid range [1:33554432]" ("Offset value <o> is out of valid
    // range [3:33554434]") and the register keeps its value. The nodes' setters.
    bool _SetDuration(const uint32_t& duration);
    bool _SetOffset(const uint32_t& offset);

    // The offset node's validator becomes [3, maximum]; _SetOffset still takes up to 33554434.
    // Before the registry exists there is no node: istd::Exception "<name>: SetMaxOffset needs
    // the offset node, which the registry has not made yet".
    void SetMaxOffset(const uint32_t& maximum);
    // Through the "continuous" node when it exists (its set's failures throw), else bit 2
    // directly.
    void SetContinuous(const bool& continuous);
    // Bit 1 of the control word; the other bits stay. The "enabled" node's subscribers are told.
    void Enable();
    void Disable();

    const RegNodeProperties& GetNodeProperties() const { return m_nodeProperties; }

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    volatile uint64_t* _Word(size_t offset) const;
    // Read-modify-write of the control word's bits in mask.
    void _UpdateControl(uint64_t mask, bool set);
    bool _SetByState(const mci::TreeNodePtr& node, const uint32_t& value, bool (Tsm::*direct)(const uint32_t&));

    iapp::KavrelBoard& m_board;
    volatile iapp::FPGAMem_t* const m_window;
    const RegNodeProperties m_nodeProperties;
    mci::TreeNodePtr m_durationNode;
    mci::TreeNodePtr m_offsetNode;
    mci::TreeNodePtr m_enabledNode;
    mci::TreeNodePtr m_continuousNode;
};

} // namespace ifeature

ISTD_ENUM_TABLE_DECL(ifeature::TsmPolarity_e)

#endif
