// Windows of one board used from several threads at once, as the health monitor, remote requests
// and the timing blocks do: flushes, the health mask and the live health status.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/sim_boards.h"
#include "iapp/identification_block.h"
#include "ireg/reg_node.h"
#include "mci/factory.h"

namespace {

class BoardThreads : public iapptest::SimBoards {};

TEST_F(BoardThreads, FlushesAndHealthWordsFromManyThreads)
{
    Start();
    // The health words behind the bus model: the memory alone has no word-wise ordering to
    // offer threads.
    chassis->Get(6).Attach(0, IdentificationBlock::Size(), chassis->Get(6).Memory(0));
    iapp::KavrelBoard* board = MakeBoard(6);
    IdentificationBlock* info = board->GetIdentificationBlock();
    ASSERT_NE(info, nullptr);
    mci::TreeNodePtr top = mci::factory::Create<ireg::RegNode>("boards", mci::Flags(0));
    board->AddRegistry(top);
    mci::TreeNodePtr status = top->GetNode("pax6")->GetNode("info")->GetNode("health_status");
    mci::TreeNodePtr mask = top->GetNode("pax6")->GetNode("info")->GetNode("health_mask");
    chassis->Get(6).WriteMemory32(16, 0x77);

    constexpr int c_rounds = 2000;
    std::atomic<bool> wrong{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            volatile iapp::FPGAMem_t* word = board->MapRegisters(0x400000 + 8 * t, 8);
            for (int i = 0; i < c_rounds; ++i) {
                iapp::KavrelBoard::FlushRegisters(word);
            }
        });
    }
    threads.emplace_back([&] {
        for (uint32_t i = 0; i < c_rounds; ++i) {
            info->SetHealthMask(i & 1 ? 0xF : 0x3);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < c_rounds; ++i) {
            uint32_t value = 0;
            status->Get(value, 0, mci::c_noRelPath);
            mask->Get(value, 0, mci::c_noRelPath);
            wrong = wrong || (value != 0 && value != 0x3 && value != 0xF);
        }
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(wrong);
    uint32_t last = 0;
    mask->Get(last, 0, mci::c_noRelPath);
    EXPECT_EQ(last, 0xFu);
}

} // namespace
