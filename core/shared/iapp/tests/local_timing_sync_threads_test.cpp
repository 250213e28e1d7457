// Announcements that arrive on other threads while an adjustment runs: the adjustment is for the
// LMT announced when it started, and a newer announcement stays pending.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "common/sync_fixture.h"

namespace {

constexpr uint64_t c_all = std::numeric_limits<uint64_t>::max();
constexpr isig::EventIdType c_event = 16;

class SyncThreads : public iapptest::SyncBoard {};

TEST_F(SyncThreads, AnAnnouncementDuringTheAdjustmentStaysPending)
{
    sync->AnnounceSync(1000);
    // While the board's signals learn the offset for 1000, a client announces 5000.
    journal.RunAt("signals-adjusted", [&] {
        std::thread client([&] { lmtNode.Set(uint64_t{5000}); });
        client.join();
    });
    sync->Synchronize(c_event, 400);
    EXPECT_EQ(devices->event.GetTimeOffset(), 600u); // adjusted for 1000, the value it started with
    EXPECT_TRUE(sync->IsUnsynchronized());
    EXPECT_EQ(sync->GetNewLMT(), 5000u);
    EXPECT_EQ(ReadLMT(), c_all);

    // The pending announcement is the next adjustment's.
    sync->Synchronize(c_event, 4400);
    EXPECT_EQ(devices->event.GetTimeOffset(), 1200u);
    EXPECT_FALSE(sync->IsUnsynchronized());
    EXPECT_EQ(ReadLMT(), 5000u);
}

TEST_F(SyncThreads, AnnouncementsFromSeveralClientsWhileAdjustmentsRun)
{
    constexpr int c_clients = 3;
    constexpr int c_announcements = 100;
    std::atomic<int> running{c_clients};
    std::vector<std::thread> clients;
    for (int c = 0; c < c_clients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 1; i <= c_announcements; ++i) {
                lmtNode.Set(uint64_t(c * 1000000 + i));
                uint64_t lmt = 0;
                lmtNode.Get(lmt);
            }
            --running;
        });
    }
    uint64_t timestamp = 0;
    while (running.load() > 0) {
        sync->Synchronize(c_event, ++timestamp);
        sync->IsUnsynchronized();
    }
    for (std::thread& client : clients) {
        client.join();
    }
    // Whatever was adjusted meanwhile, the last announcement is adjusted by the next Synchronize.
    const uint64_t last = sync->GetNewLMT();
    sync->Synchronize(c_event, 0);
    EXPECT_FALSE(sync->IsUnsynchronized());
    EXPECT_EQ(ReadLMT(), last);
    EXPECT_TRUE(WritersRun());
    EXPECT_FALSE(buffer->paused);
    EXPECT_EQ(devices->event.GetEnabledMask(), isig::c_allEventMask);
}

} // namespace
