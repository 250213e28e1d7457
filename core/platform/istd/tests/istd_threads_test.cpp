#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "istd/id.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "istd/trace_capture.h"

namespace {
struct ThreadedTag {};
} // namespace

ISTD_DECLARE_ID_COUNTER(ThreadedTag)
ISTD_DEFINE_ID_COUNTER(ThreadedTag)

namespace {

constexpr int c_threads = 8;
constexpr int c_perThread = 2000;

TEST(IdThreads, EveryIdIsUniqueAndNoneIsSkipped)
{
    std::vector<std::vector<uint64_t>> seen(c_threads);
    std::vector<std::thread> threads;
    for (int i = 0; i < c_threads; ++i) {
        threads.emplace_back([&seen, i] {
            for (int n = 0; n < c_perThread; ++n) {
                seen[i].push_back(istd::Id<ThreadedTag>().Value());
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::vector<uint64_t> all;
    for (const auto& s : seen) {
        EXPECT_TRUE(std::is_sorted(s.begin(), s.end())) << "ids of one thread grow";
        all.insert(all.end(), s.begin(), s.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), size_t(c_threads * c_perThread));
    for (size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(all[i], i + 1);
    }
}

TEST(TraceThreads, ConcurrentLinesStayWholeWhileTheLevelChanges)
{
    istd::TraceCapture capture(istd::eTraceInfo);
    std::atomic<bool> stop{false};
    // Another thread keeps switching the level; lines at level 1 always pass.
    std::thread switcher([&stop] {
        while (!stop.load()) {
            istd::TraceFile::GetInstance().SetLevel(istd::eTraceError);
            istd::TraceFile::GetInstance().SetLevel(istd::eTraceDetail);
            bool flag = false;
            istd::TraceFile::GetInstance().GetPrintFile(flag);
            istd::TraceFile::GetInstance().SetPrintLine(!flag);
        }
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < c_threads; ++i) {
        threads.emplace_back([i] {
            ISTD_TRACE_FNC("worker");
            for (int n = 0; n < 200; ++n) {
                ISTD_TRACE(1, "thread " << i << " line " << n << " end");
                istd::LogError("log " + std::to_string(i));
            }
            EXPECT_STREQ(istd::TraceFnc::Current()->Function(), "worker");
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    stop = true;
    switcher.join();

    const std::vector<std::string> lines = capture.Lines();
    EXPECT_EQ(lines.size(), size_t(c_threads * 200 * 2));
    const std::regex whole(R"(.* E (:\d+: )?(thread \d+ line \d+ end|log \d+))");
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    }
}

} // namespace
