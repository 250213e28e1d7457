#ifndef IAPP_BOARDS_ZOLT_ZOLT_BOARD_H
#define IAPP_BOARDS_ZOLT_ZOLT_BOARD_H

// The board component of the event-receiver board: a timing board (PaxBoard, with the backplane
// trigger switch) that also receives the timing link through an SFP module and decodes the
// trigger codes it carries. The application's board factory makes it from the board pool's
// bmc::Board of a ZOLT board:
//
//     if (board->GetType() == bmc::eBoardTypeZOLT) {
//         return new iboard::ZoltBoard(*this, board, iboard::PaxBoard::c_evtDesc,
//                                      ifeature::PaxTriggerGeneration::c_trigConfigurations, nullptr);
//     }
//
// Besides the timing board's children and nodes (PaxBoard):
//   0x300000  "i2c_controller"  I2C core (48 bytes, 2 devices, flags 0x40) with the SFP reference
//                               oscillator "SI57xSFP" (Si57x, device 0, bus 2)
//   0x300048  "leds"            ZoltLedsNode (8 bytes)
//   0x500000  "rtc"             RelevantTriggerCodingNode (4 x 3104 bytes)
//   0x500E00  "mgt"             MultiGigabitTranscieverNode (16 bytes)
//   "sfp_freq"      uint32 (flags 0x0A: readable, persistent), [10000000, 125000000], default
//                   100625000: the SFP reference frequency in Hz; the configuration sets it and
//                   OnPostConfig programs the oscillator for it
//   "signals/zolt"  the trigger-code stream: atoms of ZoltStruct ("zolt_code", "timestamp",
//                   16 bytes) from the board's ".strm0" device, read in groups of 32 while a
//                   client reads it
// A registry window that cannot be mapped leaves its node out; the I2C window is the
// constructor's, and its failure ends it ("Failure while mapping to FPGA memory registers").
//
// An absent SFP oscillator does not end start-up: SetSFPFreq traces "SFP VCXO NOT present!" and
// answers false, and the transceiver is then not reset.
//
// Life of the trigger-code stream, as of the event stream: OnShutdown shuts it down (every
// client, a remote one of "signals/zolt" included, ends with -5); the board deletes it when it
// is destroyed, after the registry (whose signal node borrows it) is gone.

#include <cstdint>
#include <memory>
#include <string>

#include "iapp/boards/pax/pax_board.h"
#include "iapp/boards/zolt/multi_gigabit_transciever_node.h"
#include "iapp/boards/zolt/relevant_trigger_coding_node.h"
#include "iapp/boards/zolt/zolt_leds_node.h"
#include "iapp/boards/zolt/zolt_struct.h"
#include "iapp/iapp_export.h"
#include "isig/kavrel_stream.h"
#include "mci/types.h"

namespace iapp {
class KavrelI2cBusController;
class SI57x;
} // namespace iapp

namespace iboard {

class IAPP_API ZoltBoard : public PaxBoard {
public:
    using Stream = isig::KavrelStream<ZoltTraits>;

    static constexpr size_t c_i2cOffset = 0x300000;
    static constexpr size_t c_ledsOffset = 0x300048;
    static constexpr size_t c_rtcOffset = 0x500000;
    static constexpr size_t c_mgtOffset = 0x500E00;
    static constexpr uint32_t c_i2cDevices = 2;
    static constexpr uint8_t c_sfpAddress = 0x55;
    static constexpr uint8_t c_sfpBus = 2;
    static constexpr unsigned c_streamGroup = 32;
    static constexpr uint32_t c_defaultSfpFreq = 100625000;
    static constexpr uint32_t c_minSfpFreq = 10000000;
    static constexpr uint32_t c_maxSfpFreq = 125000000;

    // The timing board with the backplane flag set, then the I2C controller with the oscillator
    // and the trigger-code stream. Failures pass on as PaxBoard's do.
    ZoltBoard(iapp::KavrelApplication& application, const bmc::Board* board, const EventDescriptions& events,
              const ifeature::PaxTriggerGeneration::TrigConfigurations& triggers, const NodeOverrides* overrides);
    ~ZoltBoard() override;

    // Programs the SFP oscillator for freq Hz and then resets the transceiver (when its node
    // exists). False, traced, when the oscillator does not answer or cannot be programmed; it
    // never throws for the bus.
    bool SetSFPFreq(const uint32_t& freq);
    // The trigger generation's backplane T0 switch.
    bool SetBackplaneT0Switch(const ifeature::BackplaneLineT0_e& line);

    iapp::KavrelI2cBusController* GetI2cController() const { return m_i2cController; }
    iapp::SI57x* GetSfpOscillator() const { return m_sfpOscillator; }
    Stream* GetStream() const { return m_stream.get(); }
    // The "mgt" node while the registry holds it; null before, or when its window was refused.
    std::shared_ptr<MultiGigabitTranscieverNode> GetTransceiverNode() const { return m_transceiver.lock(); }
    uint32_t GetSfpFreq() const { return m_sfpFreq; }

    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    // Programs the SFP oscillator for "sfp_freq" as the configuration left it.
    void OnPostConfig() override;
    // Shuts the trigger-code stream down, then the timing board's.
    void OnShutdown() override;

private:
    iapp::KavrelI2cBusController* m_i2cController = nullptr;
    iapp::SI57x* m_sfpOscillator = nullptr;
    uint32_t m_sfpFreq = c_defaultSfpFreq;
    std::weak_ptr<MultiGigabitTranscieverNode> m_transceiver;
    std::unique_ptr<Stream> m_stream;
};

} // namespace iboard

#endif
