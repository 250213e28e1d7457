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
// Header only: the programs that include it link kavrelsimdevices (BoardStreamDevices) or
// kavrelsimboards (EventBoard).

#include <memory>
#include <string>

#include "bmc/board.h"
#include "bmc/board_device.h"
#include "iapp/kavrel_board.h"
#include "isig/event_device.h"
#include "isig/event_stream.h"
#include "isig/health_stream.h"
#include "istd/exception.h"
#include "sim/devices/stream_device.h"
#include "sim_boards.h"

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

// A board of the simulated chassis with its stream devices and the board's event and health
// streams over them, made as a timing board makes them (decorated names, on demand, owned by the
// board's name). TearDown shuts the tree down before the streams go, as the application does.
//
//     class MyTest : public iapptest::EventBoard {};
//     TEST_F(MyTest, X) {
//         StartBoard();                          // pax3
//         auto* timing = iapp::Create<ifeature::LocalTiming>(*board, "local_timing", eventStream.get());
//     }
class EventBoard : public SimBoards {
protected:
    void StartBoard(int slot = 3)
    {
        Start();
        board = MakeBoard(slot);
        devices = std::make_unique<BoardStreamDevices>(*board->Board());
        eventStream = std::make_unique<isig::KavrelEventStream>(board->GetDecoratedName("event"), devices->EventPath(),
                                                                true, board->GetName());
        healthStream = std::make_unique<isig::KavrelHealthStream>(board->GetDecoratedName("health"),
                                                                  devices->HealthPath(), true, board->GetName());
    }

    void TearDown() override
    {
        if (root) {
            root->Shutdown();
        }
        root.reset();
        healthStream.reset();
        eventStream.reset();
        devices.reset();
        SimBoards::TearDown();
    }

    iapp::KavrelBoard* board = nullptr;
    std::unique_ptr<BoardStreamDevices> devices;
    std::unique_ptr<isig::KavrelEventStream> eventStream;
    std::unique_ptr<isig::KavrelHealthStream> healthStream;
};

} // namespace iapptest

#endif
