#pragma once
// The simulated event-receiver board: what the FPGA of a ZOLT board adds to the timing board's
// blocks (sim/boards/timing_board.h, which a ZOLT slot gets as well), and its ".strm0" device.
//
//     sim::boards::Chassis chassis;
//     sim::boards::TimingBoard timing(chassis.Get(2));             // claims /dev/kavrel2.event
//     sim::boards::EventReceiverBoard zolt(chassis.Get(2), timing); // claims /dev/kavrel2.strm0
//     ... the board component of slot 2 runs ...
//     zolt.SfpOscillator()->GetOutputFrequency();                 // what the SFP clock runs at
//     zolt.Codes().WriteAtoms(atoms);                             // trigger codes to the stream
//
// Windows of the board's memory (byte offsets):
//   0x300000  I2C core with the SFP reference oscillator (Si57x at 0x55) on bus 2
//   0x300048  LED register (8 bytes): plain memory, every access logged
//   0x500000  trigger-coding block (0xC20 bytes): plain memory, every access logged; the
//             generator plays its table (see below)
//   0x500E00  transceiver (16 bytes): plain memory, every access logged; the status word reads
//             what SetStatus set (PLL locked at first), the error word what SetErrors set; the
//             reset bit's pulses are timed
// The ".strm0" device ("/dev/kavrel<slot>.strm0") carries 16-byte atoms {code, time stamp}, two
// signed 64-bit words: the board's decoded trigger codes.
//
// The generator, as this simulation plays it: a 1 written to the start register (0xC00) begins
// a table at the machine time then (the timing board's event-device clock); each entry, complete
// when the upper half of its delay register (0xC14) is written, puts one atom into the ".strm0"
// device at once: its code, and the table's start time plus the delays of the entries before it.
// A load without a start is played from the machine time of its first entry. The generator's
// enable bit is not looked at. Not modelled: the decoders and the stream filter (codes reach the
// stream only through the generator or Codes()), the timing link itself, the LEDs' light.
//
// An optional line sink sees every access to the three logged windows and each change of the
// oscillator's output, as
//   "rtc W32 +0xc00 = 0x1", "mgt W32 +0x0 = 0x1", "leds W64 +0x0 = 0x800", "SI57xSFP 125000000 Hz"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/boards/access_log.h"
#include "sim/boards/chassis.h"
#include "sim/boards/timing_board.h"
#include "sim/buscores/i2c_core.h"
#include "sim/chips/si57x.h"
#include "sim/devices/stream_device.h"

namespace sim::boards {

class EventReceiverBoard {
public:
    static constexpr size_t c_i2cCore = 0x300000;
    static constexpr uint8_t c_sfpBus = 2;
    static constexpr size_t c_leds = 0x300048;
    static constexpr size_t c_ledsSize = 8;
    static constexpr size_t c_rtc = 0x500000;
    static constexpr size_t c_rtcSize = 0xC20;
    static constexpr size_t c_generatorStart = 0xC00;
    static constexpr size_t c_generatorCode = 0xC08;
    static constexpr size_t c_generatorDelay = 0xC10;
    static constexpr size_t c_mgt = 0x500E00;
    static constexpr size_t c_mgtSize = 0x10;
    static constexpr size_t c_mgtControl = 0x0;
    static constexpr size_t c_mgtStatus = 0x4;
    static constexpr size_t c_mgtErrors = 0x8;
    static constexpr uint32_t c_pllLocked = 0x1;
    static constexpr size_t c_atomSize = 16;

    using LineSink = TimingBoard::LineSink;

    static std::string StreamPathForSlot(int slot) { return "/dev/kavrel" + std::to_string(slot) + ".strm0"; }

    // Attaches the models to the board's windows (which must be free) and claims the ".strm0"
    // path; the generator's machine time is the timing board's. Throws istd::Exception when the
    // path is claimed already, and as MonitorDevice::AttachModel.
    EventReceiverBoard(Board& board, TimingBoard& timing);
    ~EventReceiverBoard();
    EventReceiverBoard(const EventReceiverBoard&) = delete;
    EventReceiverBoard& operator=(const EventReceiverBoard&) = delete;

    Board& GetBoard() { return m_board; }
    StreamDevice& Codes() { return *m_codes; }
    const I2cCoreModelPtr& I2cCore() const { return m_i2cCore; }
    const std::shared_ptr<Si57xModel>& SfpOscillator() const { return m_sfp; }
    const std::shared_ptr<AccessLog>& RtcLog() const { return m_rtcLog; }
    const std::shared_ptr<AccessLog>& TransceiverLog() const { return m_mgtLog; }
    const std::shared_ptr<AccessLog>& LedLog() const { return m_ledLog; }

    // What the transceiver's status and error words read from now on.
    void SetStatus(uint32_t status);
    void SetErrors(uint64_t errors);
    // The reset bit's pulses: how long each stayed set, in order (a pulse still running is not
    // counted).
    std::vector<std::chrono::nanoseconds> ResetPulses() const;
    // Runs hook once, on the accessing thread, at the next read of the transceiver's control
    // word: after the word was read, before the value returns (so a test can put a write of
    // another thread between a read-modify-write's read and its write).
    void SetControlReadHook(std::function<void()> hook);
    // Atoms the generator put into ".strm0" (also those nobody read).
    uint64_t GetGeneratedCount() const;

    // Lines as the header says; an empty sink stops them. Called on the accessing thread.
    void SetLineSink(LineSink sink);

private:
    class Hub;
    class GeneratorModel;
    class TransceiverModel;
    class LoggedOscillator;

    Board& m_board;
    TimingBoard& m_timing;
    std::shared_ptr<Hub> m_hub;
    std::atomic<uint64_t> m_generated{0};
    std::unique_ptr<StreamDevice> m_codes;
    I2cCoreModelPtr m_i2cCore;
    std::shared_ptr<Si57xModel> m_sfp;
    std::shared_ptr<GeneratorModel> m_generator;
    std::shared_ptr<TransceiverModel> m_transceiver;
    std::shared_ptr<AccessLog> m_rtcLog;
    std::shared_ptr<AccessLog> m_mgtLog;
    std::shared_ptr<AccessLog> m_ledLog;
};

} // namespace sim::boards
