// The pools from many threads against the simulated chassis: one board and one connection per
// URI, and listings taken while the pool is enumerated anew.

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bmc/board_pool.h"
#include "sim/cmc/simulator.h"

namespace {

using bmc::BoardPool;
using bmc::DecomposeUri;

class PoolThreads : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim.Load(KAVREL_SOURCE_DIR "/sim/cmc/data/chassis.txt");
        m_sim.SetTimeScale(0);
        ::testing::internal::CaptureStdout();
        BoardPool::Instance().Update();
        ::testing::internal::GetCapturedStdout();
    }

    void TearDown() override
    {
        m_sim.SetTimeScale(1);
        m_sim.Clear();
    }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
};

TEST_F(PoolThreads, ThreadsAskingForTheSameUrisShareOneBoardAndOneConnection)
{
    const std::vector<std::string> texts = {"kvr:///chassis;ipmi-usb/1", "kvr:///chassis;ipmi-usb/2",
                                            "kvr:///chassis/6", "kvr:///chassis;ipmi-usb/0"};
    constexpr int c_threads = 8;
    std::vector<std::vector<bmc::Board*>> boards(c_threads);
    std::vector<std::vector<bmc::Connection*>> connections(c_threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < texts.size(); ++i) {
                // Each thread walks the URIs from another start.
                const std::string& text = texts[(i + static_cast<size_t>(t)) % texts.size()];
                boards[static_cast<size_t>(t)].push_back(BoardPool::Instance().GetBoard(DecomposeUri(text)));
                connections[static_cast<size_t>(t)].push_back(
                    bmc::ConnectionPool::Instance().GetConnection(DecomposeUri(text)));
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        const bmc::Uri uri = DecomposeUri(texts[i]);
        bmc::Board* board = BoardPool::Instance().GetBoard(uri);
        bmc::Connection* connection = bmc::ConnectionPool::Instance().GetConnection(uri);
        for (int t = 0; t < c_threads; ++t) {
            const size_t position = (i + texts.size() - static_cast<size_t>(t) % texts.size()) % texts.size();
            EXPECT_EQ(boards[static_cast<size_t>(t)][position], board) << texts[i];
            EXPECT_EQ(connections[static_cast<size_t>(t)][position], connection) << texts[i];
        }
    }
    // The empty slot 6 gave none; the others their board.
    EXPECT_EQ(BoardPool::Instance().GetBoard(DecomposeUri("kvr:///chassis/6")), nullptr);
    EXPECT_NE(BoardPool::Instance().GetBoard(DecomposeUri("kvr:///chassis;ipmi-usb/1")), nullptr);
}

// Listings and look-ups run beside re-enumerations; each listing is one whole state of the
// pool. Boards are not touched here: an Update deletes them.
TEST_F(PoolThreads, ListingsTakenDuringUpdatesAreWhole)
{
    const std::set<std::string> whole = {"kvr:///chassis/0", "kvr:///chassis/1", "kvr:///chassis/2", "kvr:///os/"};
    std::atomic<bool> done{false};
    std::atomic<int> partial{0};
    std::atomic<int> listings{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            while (!done.load()) {
                std::set<std::string> seen;
                for (const bmc::Uri& uri : BoardPool::Instance().GetAllLocalBoardUris()) {
                    seen.insert(uri.ToString());
                }
                partial += seen != whole;
                ++listings;
                BoardPool::Instance().GetBoard(DecomposeUri("kvr:///chassis/1"));
            }
        });
    }
    ::testing::internal::CaptureStdout();
    for (int n = 0; n < 5; ++n) {
        BoardPool::Instance().Update();
    }
    ::testing::internal::GetCapturedStdout();
    done = true;
    for (std::thread& t : readers) {
        t.join();
    }
    EXPECT_EQ(partial.load(), 0);
    EXPECT_GT(listings.load(), 0);
}

} // namespace
