#pragma once
// The simulated chassis of a program run as a process of its own (an application under test, the
// demo). The FPGA memory and device files must live inside that process, because devio's claims
// are the process's own; the program itself holds no simulator code. Preload the simulators and
// name the chassis file:
//
//   LD_PRELOAD="<lib>/libkavrelsimcmc.so <lib>/libkavrelsimboards.so"
//   KAVREL_SIM_CHASSIS=<chassis file>
//   KAVREL_SIM_FEED_DIR=<folder> (optional)  KAVREL_SIM_BOARD_LOG=<file> (optional)
//
// KAVREL_SIM_CHASSIS is the simulated chassis controller's variable (sim/cmc/simulator.h): the
// controller loads the file when it is first used. When this library loads (before main, also
// when a program links it) with the variable set, it has the controller load the file, gives
// every board of it that has device files its 16 MiB monitor device (sim/boards/chassis.h),
// every timing board (PAX) and event-receiver board (ZOLT) the timing-board models with its
// ".event" device (sim/boards/timing_board.h), and every event-receiver board its own models
// with its ".strm0" device (sim/boards/event_receiver_board.h). Under AddressSanitizer add
// verify_asan_link_order=0 to ASAN_OPTIONS, as for the controller alone.
//
//   KAVREL_SIM_FEED_DIR   one named FIFO per stream device there, named as the device file
//                         ("<folder>/kavrel3.event", "<folder>/kavrel2.strm0": 16-byte atoms
//                         {code, time stamp}); whole atoms written into it are fed to the
//                         device (bytes of an incomplete atom wait for the rest), so that a test
//                         or the demo injects exact atoms from outside. An existing FIFO of that
//                         name is used; the FIFOs stay when the process ends.
//   KAVREL_SIM_BOARD_LOG  file to which the boards' lines are appended, one write a line:
//                         "slot <n> <line>" (the lines of TimingBoard::SetLineSink and
//                         EventReceiverBoard::SetLineSink).
//
// The machine clocks and feeders are threads: they stop before the process forks and start again
// in both processes afterwards, so a program that daemonises keeps its simulated boards.
// Failures (a chassis file that does not load, a folder without room for a FIFO) are written to
// standard error and leave the process without that part of the simulation.

#include <memory>
#include <string>
#include <vector>

#include "sim/boards/chassis.h"
#include "sim/boards/event_receiver_board.h"
#include "sim/boards/timing_board.h"

namespace sim::boards {

class Environment {
public:
    // The set-up of this process; null without KAVREL_SIM_CHASSIS or when its chassis failed.
    static Environment* Get();

    Chassis& GetChassis() { return *m_chassis; }
    // The timing-board models of the slot; null when it has none.
    TimingBoard* FindTimingBoard(int slot) const;
    // The event-receiver board's own models of the slot; null when it has none.
    EventReceiverBoard* FindEventReceiverBoard(int slot) const;
    // The FIFOs made, in the order of the slots.
    const std::vector<std::string>& FeedPaths() const { return m_feedPaths; }

    // What the fork handlers do: stop every thread, then start them again.
    void Pause();
    void Resume();

    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;
    ~Environment();

private:
    class Feeder;

    Environment() = default;
    // Builds the whole set-up; throws on a chassis that does not load.
    void _Build(const char* feedDir, const char* boardLog);

    std::unique_ptr<Chassis> m_chassis;
    std::vector<std::unique_ptr<TimingBoard>> m_timingBoards;
    std::vector<std::unique_ptr<EventReceiverBoard>> m_eventReceivers;
    std::vector<std::unique_ptr<Feeder>> m_feeders;
    std::vector<std::string> m_feedPaths;
    int m_logFd = -1;

    friend struct EnvironmentHolder;
};

} // namespace sim::boards
