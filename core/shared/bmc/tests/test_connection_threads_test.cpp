// The simulated clock that all test connections share, set and read from many threads through
// several connections: every time read back is one that some thread set, never half of one.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "istd/time.h"
#include "bmc/test_connection.h"

namespace {

TEST(TestConnectionThreads, TheSharedClockIsNeverSeenHalfWritten)
{
    const bmc::Uri uri(bmc::Uri::eTest, "1", bmc::Uri::eInterfaceDefault);
    bmc::TestConnection first(uri);
    bmc::TestConnection second(uri);
    // Every time set has nanoseconds = seconds * 1000, so a torn time shows.
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        bmc::TestConnection& connection = t % 2 == 0 ? first : second;
        threads.emplace_back([t, &connection, &torn] {
            for (int i = 1; i <= 2000; ++i) {
                if (t < 2) {
                    const int64_t seconds = t * 100000 + i;
                    const istd::Time time(seconds, static_cast<long>(seconds * 1000));
                    connection.Execute(bmc::eCmdSetTime, {istd::AnyReference(time)}, bmc::Connection::m_noResult);
                } else {
                    istd::Time time;
                    connection.Execute(bmc::eCmdGetTime, bmc::Connection::m_noArgs, istd::AnyReference(time));
                    const bool start = time == istd::CreateTime(bmc::TestConnection::c_clockStart);
                    torn += !start && time.NSec() != time.Sec() * 1000;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
