// Outside text in the log: escaped and cut, and limited per kind.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "istd/log.h"
#include "istd/log_limit.h"
#include "istd/outside_text.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(OutsideTextTest, EscapesWhatIsNoPrintableTextAndCutsLongTexts)
{
    struct Case {
        std::string in;
        size_t max;
        std::string out;
    };
    const std::string x300(300, 'x');
    const std::vector<Case> cases = {
        {"", 256, ""},
        {"plain/path name", 256, "plain/path name"},
        // A line of its own and a terminal escape stay on the line, visible.
        {"a\n2024-01-01 00:00:00.000000 CRITICAL forged", 256, "a\\x0a2024-01-01 00:00:00.000000 CRITICAL forged"},
        {"\r\t\x1b[31mred\x7f", 256, "\\x0d\\x09\\x1b[31mred\\x7f"},
        {std::string("nul\0byte", 8), 256, "nul\\x00byte"},
        // The backslash is escaped too, so that a \x in the log is always an escape.
        {"a\\x0ab", 256, "a\\x5cx0ab"},
        // Valid UTF-8 passes; C1 controls (U+009B opens escape sequences) do not.
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", 256, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"\xc2\x9b" "1m \xc2\xa0", 256, "\\xc2\\x9b1m \xc2\xa0"},
        // Bytes that are no UTF-8: stray, overlong, surrogate, beyond U+10FFFF, cut short.
        {"\xff\xfe", 256, "\\xff\\xfe"},
        {"\x80" "a", 256, "\\x80a"},
        {"\xc0\xaf", 256, "\\xc0\\xaf"},
        {"\xe0\x80\xaf", 256, "\\xe0\\x80\\xaf"},
        {"\xed\xa0\x80", 256, "\\xed\\xa0\\x80"},
        {"\xf4\x90\x80\x80", 256, "\\xf4\\x90\\x80\\x80"},
        {"\xe2\x82", 256, "\\xe2\\x82"},
        {"\xe2\x82" "a", 256, "\\xe2\\x82a"},
        // Cut at the bound, never inside a character, with the full length.
        {x300, 256, std::string(256, 'x') + "... (300 bytes)"},
        {std::string(256, 'x'), 256, std::string(256, 'x')},
        {"ab\xc3\xa9", 3, "ab... (4 bytes)"},
        {"a\nb", 2, "a\\x0a... (3 bytes)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(istd::OutsideText(c.in, c.max), c.out) << "input: " << istd::OutsideText(c.in, 1000);
    }
    EXPECT_EQ(istd::OutsideText(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(istd::OutsideText("a\nb"), "a\\x0ab");
}

TEST(RateLimiterTest, WritesTheFirstLinesOfEachKindASecondAndCountsTheRest)
{
    using Clock = istd::RateLimiter::Clock;
    const Clock::time_point t0{};
    const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
    istd::RateLimiter limiter(2, std::chrono::seconds(1));

    // kind, time in ms, written?, then the "left out" reports due at that moment.
    struct Step {
        const char* kind;
        int ms;
        bool written;
        std::vector<std::pair<std::string, size_t>> due;
    };
    const std::vector<Step> steps = {
        {"a", 0, true, {}},
        {"a", 10, true, {}},
        {"a", 20, false, {}},
        {"b", 30, true, {}}, // another kind has a window of its own
        {"a", 999, false, {}},
        {"b", 1000, true, {{"a", 2}}}, // a's second is over: reported once, by any kind's line
        {"b", 1010, false, {}},
        {"a", 1020, true, {}}, // a new second of a
        {"b", 1030, true, {{"b", 1}}},
        {"b", 1040, true, {}},
        {"b", 1050, false, {}},
        {"a", 1500, true, {}},
        {"a", 1600, false, {}},
        {"c", 2100, true, {{"a", 1}, {"b", 1}}},
    };
    for (const Step& step : steps) {
        std::vector<istd::RateLimiter::LeftOut> due;
        EXPECT_EQ(limiter.Admit(step.kind, 7, at(step.ms), due), step.written) << step.kind << " at " << step.ms;
        std::vector<std::pair<std::string, size_t>> reported;
        for (const auto& leftOut : due) {
            EXPECT_EQ(leftOut.tag, 7);
            reported.emplace_back(leftOut.kind, leftOut.count);
        }
        EXPECT_EQ(reported, step.due) << step.kind << " at " << step.ms;
    }
    // The flush reports a window not yet over, once.
    std::vector<istd::RateLimiter::LeftOut> due;
    EXPECT_TRUE(limiter.Admit("c", 1, at(2200), due));
    EXPECT_FALSE(limiter.Admit("c", 1, at(2210), due));
    EXPECT_FALSE(limiter.Admit("c", 1, at(2220), due));
    EXPECT_TRUE(due.empty());
    const auto flushed = limiter.Flush();
    ASSERT_EQ(flushed.size(), 1u);
    EXPECT_EQ(flushed[0].kind, "c");
    EXPECT_EQ(flushed[0].tag, 1);
    EXPECT_EQ(flushed[0].count, 2u);
    EXPECT_TRUE(limiter.Flush().empty());
}

// The process-wide limiter on the real log: a burst leaves ten lines and, once the log stops, the
// count of the others.
TEST(RateLimiterTest, ABurstLeavesTenLinesAndTheCountInTheLog)
{
    testsupport::TempDir dir("outside-text");
    const std::string path = dir.Path() + "/app.log";
    ASSERT_TRUE(istd::Log::Init(path));
    for (int i = 0; i < 1000; ++i) {
        istd::LogWarningLimited("test: burst", "test: burst line " + std::to_string(i));
    }
    istd::Log::Stop();
    const std::string log = testsupport::ReadFile(path);
    size_t lines = 0;
    for (size_t at = log.find("test: burst line "); at != std::string::npos; at = log.find("test: burst line ", at + 1)) {
        ++lines;
    }
    // A slow machine may pass into a second second during the burst: then more than ten.
    EXPECT_GE(lines, istd::c_limitedLinesPerSecond) << log;
    EXPECT_LT(lines, 1000u) << log;
    EXPECT_NE(log.find("WARNING test: burst: "), std::string::npos) << log;
    EXPECT_NE(log.find(" more like this were left out"), std::string::npos) << log;
}

} // namespace
