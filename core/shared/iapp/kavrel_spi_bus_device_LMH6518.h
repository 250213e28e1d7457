#ifndef IAPP_KAVREL_SPI_BUS_DEVICE_LMH6518_H
#define IAPP_KAVREL_SPI_BUS_DEVICE_LMH6518_H

// The LMH6518 variable-gain amplifier on an SPI bus, programmed by one 16-bit control word.
// Nodes under the wrapper's node (flags 6):
//   "value"        uint32 in [0, 65535]: the whole control word
//   "full_power"   bool: bit 10 clear
//   "high_gain"    bool: bit 4
//   "bandwidth"    "full", "20Mhz", "100Mhz", "200Mhz", "350Mhz", "650Mhz", "750Mhz": bits 8..6
//   "attenuation"  "0", "-2", .. "-20" (dB): bits 3..0
// A field set changes its bits of the word and writes the whole word; "value" writes any word,
// and a field then holding a code without a name (attenuation 11 to 15, bandwidth 7) reads as
// "invalid value".
//
// The five nodes show one word, so each change notifies the others: a field set notifies
// "value", a "value" set every field. A set holds its own node's lock only; the notifications
// of the other nodes are handed to the dispatcher with the word just written, without their
// locks, so two clients setting two of the nodes at once never wait for each other's node. The
// read-modify-write of a field set and the write of "value" run under one lock of the wrapper,
// so concurrent sets never undo each other's bits, and every notification of the five nodes
// is handed over in the order of the words written: the last one each subscriber of a node
// receives shows the word the chip holds.
//
// With the cache flag (the driver's), reads answer the word last written and the chip is only
// written; at the start that word is 10 (attenuation "-20", bandwidth "full", high gain off,
// full power on). Without it every read, a field set's included, asks the chip with a frame of
// zeros, which the chip takes as a write of 0: make the wrapper with the flag.

#include <cstdint>
#include <memory>
#include <string>

#include "bmc/spi_device_LMH6518.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_spi_bus_controller.h"
#include "iapp/kavrel_spi_bus_device.h"
#include "istd/enum_map.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API LMH6518 : public KavrelSpiBusDevice {
public:
    // Attenuation codes (bits 3..0): 0 to 10 in 2 dB steps; 11 to 15 have no name.
    enum tAttenuator : int32_t {};
    // Filter bandwidth codes (bits 8..6): 0 to 6; 7 has no name.
    enum tFilterBandwidth : int32_t {};

    // Sends nothing.
    LMH6518(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id, bool useCache);
    ~LMH6518() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // Sets "value" as a client does (validation, notifications); false, traced, when refused.
    // Before the registry is defined the word goes to the chip directly; a value above 65535
    // is refused there too, never cut to 16 bits.
    bool Set(const uint32_t& value);

private:
    enum Field_e { eValue, eFullPower, eHighGain, eBandwidth, eAttenuation, eFields };
    class Word;
    class Subscribers;
    template <class Kind, class Store>
    class WordNode;

    bool _SetRaw(const uint32_t& value);
    bool _GetRaw(uint32_t& value) const;
    bool _SetAttenuation(const tAttenuator& code);
    bool _GetAttenuation(tAttenuator& code) const;
    bool _SetFilterBandWidth(const tFilterBandwidth& code);
    bool _GetFilterBandWidth(tFilterBandwidth& code) const;
    bool _SetHiGain(const bool& on);
    bool _GetHiGain(bool& on) const;
    bool _SetFullPower(const bool& on);
    bool _GetFullPower(bool& on) const;

    // A field set through the driver's setter, then the word it wrote noted and "value"
    // notified; all under the wrapper's lock.
    template <class Write>
    bool _SetField(Write write, uint16_t mask, uint16_t bits);

    bmc::LMH6518& m_driver;
    const bool m_useCache;
    std::shared_ptr<Word> m_word;
    mci::TreeNodePtr m_value;
    mci::TreeNodePtr m_fullPower;
    mci::TreeNodePtr m_highGain;
    mci::TreeNodePtr m_bandwidth;
    mci::TreeNodePtr m_attenuation;
};

} // namespace iapp

ISTD_ENUM_TABLE_DECL(iapp::LMH6518::tAttenuator)
ISTD_ENUM_TABLE_DECL(iapp::LMH6518::tFilterBandwidth)

#endif
