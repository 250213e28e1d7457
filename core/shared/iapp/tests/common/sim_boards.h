#ifndef IAPP_TESTS_COMMON_SIM_BOARDS_H
#define IAPP_TESTS_COMMON_SIM_BOARDS_H

// Board components on the simulated chassis of timing boards: the chassis loaded with a monitor
// device per board, the board pool enumerating it, and an application as the boards' root
// (AppRoot: it takes every child, and its state is the test's to set). Header only: the programs that include it link kavrelsimboards.
//
//     class MyTest : public iapptest::SimBoards {};
//     TEST_F(MyTest, X) {
//         Start();                                        // or Start(0x104): smaller memory
//         iapp::KavrelBoard* board = MakeBoard(3);        // pax3, mapped through the device
//         chassis->Get(3).WriteMemory32(0, 1);
//     }

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "bmc/board_pool.h"
#include "bmc/uri.h"
#include "iapp/kavrel_board.h"
#include "sim/boards/chassis.h"
#include "sim/cmc/simulator.h"
#include "test_application.h"

namespace iapptest {

class SimBoards : public ::testing::Test {
protected:
    // Loads the chassis with boards of memorySize bytes and enumerates it.
    void Start(size_t memorySize = sim::boards::Chassis::c_memorySize)
    {
        sim::cmc::Simulator::Instance().SetTimeScale(0);
        chassis = std::make_unique<sim::boards::Chassis>(sim::boards::SampleChassisPath(), memorySize);
        ::testing::internal::CaptureStdout();
        bmc::BoardPool::Instance().Update();
        ::testing::internal::GetCapturedStdout();
        root = std::make_unique<AppRoot>("app");
    }

    void TearDown() override
    {
        // Boards unmap before their devices and pool boards go.
        root.reset();
        chassis.reset();
        sim::cmc::Simulator::Instance().SetTimeScale(1);
    }

    static bmc::Board* PoolBoard(const bmc::Uri& uri) { return bmc::BoardPool::Instance().GetBoard(uri); }
    static bmc::Board* ChassisBoard(int slot)
    {
        return PoolBoard(bmc::CreateLocalChassisUri(slot, bmc::Uri::eInterfaceDefault));
    }

    // The board component of the chassis slot's board, owned by the root.
    iapp::KavrelBoard* MakeBoard(int slot) { return new iapp::KavrelBoard(*root, ChassisBoard(slot)); }

    std::unique_ptr<sim::boards::Chassis> chassis;
    std::unique_ptr<AppRoot> root;
};

} // namespace iapptest

#endif
