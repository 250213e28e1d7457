#pragma once
// The simulated timing board: what the FPGA of a timing board (and of the event-receiver board,
// which carries the same blocks) does behind the windows the board component maps, and the
// board's ".event" device.
//
//     sim::boards::Chassis chassis;
//     sim::boards::TimingBoard pax(chassis.Get(3));       // claims /dev/kavrel3.event
//     ... the board component of slot 3 runs ...
//     pax.Dac()->GetOutput(0);                            // what the DAC8552 was told
//     pax.TriggerLog()->Entries();                        // every access to "triggers"
//
// Windows of the board's memory (byte offsets):
//   0x000100  clock information: the ADC frequency word (32 bits) preset to c_adcFrequency
//   0x400000  trigger generation (0xB0 bytes): plain memory, every access logged; when the
//             source of trigger channel 2 (word 0x40, bits 0-2) goes to Pulse (3) from another
//             source, the board generates event 2 with the machine time now
//   0x600000  clock manager: plain memory, lock-status word (0x600008) preset to c_lockBits
//             (MC and SC locked)
//   0xE00080  SPI core with a CDCE72010 on chip select 0 (active low)
//   0xE00100  SPI core with a DAC8552 on chip select 0 (active low)
// The ".event" device ("/dev/kavrel<slot>.event") generates the machine-clock event "mc"
// (id 16) at the rate set (c_defaultMcRate per second) while the event is enabled, each with the
// machine time and its sequence number as value; it answers the event device's requests as
// sim::EventStreamDevice does.
//
// Not modelled: the management SPI registers (the chassis file holds them), the hardware's
// own trigger sources (only the software Pulse generates an event), the clock paths themselves
// (the lock bits stay as set), the trigger counters and the LEMO and LXI outputs.
//
// An optional line sink sees every access to the trigger and clock-manager windows and each
// chip's state after each of its words, as
//   "triggers W64 +0x40 = 0x3", "clk_mgr R32 +0x8 = 0x3",
//   "DAC8552 A=0x8000 B=0x0", "CDCE72010 reg3=0x1234567"
// so that a process of its own can show a test what reached the FPGA, in order.
//
// The machine clock runs a thread of its own, with every signal blocked (a program that handles
// signals on a thread of its own must not have them taken here); PauseClock stops it (joined) and
// ResumeClock starts it again, for a process that forks.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/boards/access_log.h"
#include "sim/boards/chassis.h"
#include "sim/buscores/spi_core.h"
#include "sim/chips/cdce72010.h"
#include "sim/chips/dac8552.h"
#include "sim/devices/stream_device.h"

namespace sim::boards {

class TimingBoard {
public:
    static constexpr size_t c_clockInfo = 0x100;
    static constexpr size_t c_triggers = 0x400000;
    static constexpr size_t c_triggersSize = 0xB0;
    static constexpr size_t c_channel2Source = 0x40;
    static constexpr size_t c_clockManager = 0x600000;
    static constexpr size_t c_clockManagerSize = 0x10;
    static constexpr size_t c_lockStatus = 0x8;
    static constexpr size_t c_clockCore = 0xE00080;
    static constexpr size_t c_dacCore = 0xE00100;

    static constexpr uint32_t c_adcFrequency = 250000000;
    static constexpr uint32_t c_lockBits = 0x3;
    static constexpr uint64_t c_pulseSource = 3;
    static constexpr uint64_t c_triggerEvent = 2;
    static constexpr uint64_t c_mcEvent = 16;
    static constexpr double c_defaultMcRate = 10.0;

    using LineSink = std::function<void(const std::string&)>;

    static std::string EventPathForSlot(int slot) { return "/dev/kavrel" + std::to_string(slot) + ".event"; }

    // A thread running body with every signal blocked, as the simulator's threads run.
    static std::thread QuietThread(std::function<void()> body);

    // Presets the words, attaches the models to the board's windows (which must be free) and
    // claims the event device path; the machine clock runs. Throws istd::Exception when a path is
    // claimed already, and as MonitorDevice::AttachModel.
    explicit TimingBoard(Board& board);
    ~TimingBoard();
    TimingBoard(const TimingBoard&) = delete;
    TimingBoard& operator=(const TimingBoard&) = delete;

    Board& GetBoard() { return m_board; }
    EventStreamDevice& Events() { return *m_events; }
    const std::shared_ptr<Cdce72010Model>& ClockDistributor() const { return m_cdce; }
    const std::shared_ptr<Dac8552Model>& Dac() const { return m_dac; }
    const SpiCoreModelPtr& ClockCore() const { return m_clockCore; }
    const SpiCoreModelPtr& DacCore() const { return m_dacCore; }
    const std::shared_ptr<AccessLog>& TriggerLog() const { return m_triggerLog; }
    const std::shared_ptr<AccessLog>& ClockManagerLog() const { return m_clockManagerLog; }

    // Trigger events the Pulse source generated (also those the event mask dropped).
    uint64_t GetPulseCount() const;

    // "mc" events per second; 0 (or less) stops them. Takes effect at the next tick.
    void SetMcRate(double perSecond);
    double GetMcRate() const;
    // "mc" events written (enabled ones).
    uint64_t GetMcCount() const;

    void PauseClock();
    void ResumeClock();

    // Lines as the header says; an empty sink stops them. Called on the accessing thread.
    void SetLineSink(LineSink sink);

private:
    class Hub;
    class TriggerModel;
    class LoggedChip;

    void _Attach(Board& board);
    void _Pulse();
    void _ClockLoop();

    Board& m_board;
    std::shared_ptr<Hub> m_hub;
    std::unique_ptr<EventStreamDevice> m_events;
    std::shared_ptr<Cdce72010Model> m_cdce;
    std::shared_ptr<Dac8552Model> m_dac;
    SpiCoreModelPtr m_clockCore;
    SpiCoreModelPtr m_dacCore;
    std::shared_ptr<AccessLog> m_triggerLog;
    std::shared_ptr<AccessLog> m_clockManagerLog;

    mutable std::mutex m_clockMutex;
    std::condition_variable m_clockChanged;
    double m_mcRate = c_defaultMcRate;
    bool m_clockStop = false;
    uint64_t m_mcCount = 0;
    uint64_t m_pulses = 0;
    std::thread m_clock;
};

} // namespace sim::boards
