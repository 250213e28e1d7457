#ifndef IAPP_TESTS_COMMON_BOARD_STREAMS_H
#define IAPP_TESTS_COMMON_BOARD_STREAMS_H

// The stream devices of a simulated board: its ".event" and ".health" device files, named as
// board management names them, claimed in devio while the object lives. Simulated boards carry no
// stream devices of their own; a test gives a board its streams' devices with this:
//
//     iapp::KavrelBoard* board = MakeBoard(3);               // iapptest::SimBoards
//     iapptest::BoardStreamDevices devices(*board->Board());
//     isig::KavrelEventStream stream(board->GetDecoratedName("event"), devices.EventPath(), true,
//                                    board->GetName());
//     devices.event.WaitForOpen();
//     devices.event.WriteEvent(2, 0, 1000);
//
// Header only: the programs that include it link kavrelsimdevices.

#include <string>

#include "bmc/board.h"
#include "bmc/board_device.h"
#include "isig/event_device.h"
#include "istd/exception.h"
#include "sim/devices/stream_device.h"

namespace iapptest {

class BoardStreamDevices {
public:
    // Throws istd::Exception when a path is claimed already, or when the board has no device
    // files.
    explicit BoardStreamDevices(const bmc::Board& board)
        : event(_Name(board, bmc::eEventDevice)), health(_Name(board, bmc::eHealthDevice), sizeof(isig::HealthStruct))
    {
    }

    const std::string& EventPath() const { return event.GetPath(); }
    const std::string& HealthPath() const { return health.GetPath(); }

    sim::EventStreamDevice event;
    sim::StreamDevice health;

private:
    static std::string _Name(const bmc::Board& board, bmc::DataStreamAccessType_e type)
    {
        const std::string name = board.CreateDeviceName(type, 0);
        if (name.empty()) {
            throw istd::Exception("iapptest: board " + board.GetUri().ToString() + " has no device files");
        }
        return name;
    }
};

} // namespace iapptest

#endif
