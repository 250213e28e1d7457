#include "istd/trace.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "istd/assert.h"
#include "istd/log.h"
#include "istd/trace_capture.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using istd::TraceFile;
using testsupport::ReadFile;
using testsupport::TempDir;

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The trace file and log are process-wide: every test starts from the same settings.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        TraceFile& t = TraceFile::GetInstance();
        t.Stop();
        t.SetLevel(istd::eTraceNone);
        t.SetPrintFile(false);
        t.SetPrintLine(false);
        t.SetDumpStack(false);
        t.SetPrintLineHeader(true);
        t.SetPrintLineTrailer(false);
        istd::Log::Stop();
    }
};

TEST_F(TraceTest, LinesAreWrittenOnlyAtOrBelowTheActiveLevel)
{
    istd::TraceCapture capture(istd::eTraceWarning);
    int evaluated = 0;
    auto count = [&] { return ++evaluated; };
    ISTD_TRACE(1, "error line " << count());
    ISTD_TRACE(2, "warning line " << count());
    ISTD_TRACE(3, "info line " << count());
    ISTD_TRACE(4, "detail line " << count());
    EXPECT_EQ(evaluated, 2) << "a line above the level must not be formatted";

    TraceFile::GetInstance().SetLevel(istd::eTraceDetail);
    ISTD_TRACE(4, "detail now");
    TraceFile::GetInstance().Trace(5, "f", "file.cpp", 1, "direct call above the level");

    const std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 3u) << capture.Text();
    EXPECT_NE(lines[0].find(" E error line 1"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" W warning line 2"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" D detail now"), std::string::npos) << lines[2];
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} \[\d+\] E error line 1)");
    EXPECT_TRUE(std::regex_match(lines[0], shape)) << lines[0];
}

TEST_F(TraceTest, OffMeansNothingIsFormattedOrWritten)
{
    TempDir dir;
    TraceFile::Init("trace.log", dir.Path());
    TraceFile& t = TraceFile::GetInstance();
    ASSERT_TRUE(t.Start(istd::eTraceDetail));
    t.Stop();
    int evaluated = 0;
    ISTD_TRACE(1, "after stop " << ++evaluated);
    EXPECT_EQ(evaluated, 0);
    EXPECT_FALSE(TraceFile::IsActive(1));

    // Level 0 is on but lets nothing through.
    ASSERT_TRUE(t.Start(istd::eTraceNone));
    ISTD_TRACE(1, "level none " << ++evaluated);
    EXPECT_FALSE(TraceFile::IsActive(0));
    t.Stop();
    EXPECT_EQ(evaluated, 0);
    EXPECT_EQ(ReadFile(dir.Path() + "/trace.log"), "");
}

TEST_F(TraceTest, InitStartAppendAndLevelAccessors)
{
    TempDir dir;
    TraceFile& t = TraceFile::GetInstance();
    TraceFile::Init("app.trace", dir.Path() + "/");
    ASSERT_TRUE(t.Start(istd::eTraceInfo));
    EXPECT_EQ(t.GetPath(), dir.Path() + "/app.trace");
    istd::TraceLevel_e level = istd::eTraceNone;
    EXPECT_TRUE(t.GetLevel(level));
    EXPECT_EQ(level, istd::eTraceInfo);
    EXPECT_FALSE(t.SetLevel(static_cast<istd::TraceLevel_e>(6)));
    EXPECT_EQ(t.Level(), istd::eTraceInfo);
    ISTD_TRACE(3, "first run");
    t.Stop();
    ASSERT_TRUE(t.Start(istd::eTraceInfo));
    ISTD_TRACE(3, "second run");
    t.Stop();
    const std::string text = ReadFile(dir.Path() + "/app.trace");
    EXPECT_NE(text.find("first run"), std::string::npos) << "Start must append";
    EXPECT_NE(text.find("second run"), std::string::npos);

    TraceFile::Init("missing/dir/x.trace", dir.Path());
    EXPECT_FALSE(t.Start(istd::eTraceInfo));
    EXPECT_FALSE(TraceFile::IsActive(1));
}

TEST_F(TraceTest, CaptureRemovesItsFileAndRestoresTheInitPath)
{
    TraceFile::Init("app.trace", "/var/log/app");
    std::string path;
    {
        istd::TraceCapture capture(istd::eTraceError);
        path = capture.Path();
        ISTD_TRACE(1, "captured");
        EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    }
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    EXPECT_FALSE(TraceFile::IsActive(1));
    EXPECT_EQ(TraceFile::GetInitPath(), "/var/log/app/app.trace");
}

TEST_F(TraceTest, PlusMeansStandardError)
{
    TraceFile::Init("+", "/nonexistent");
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(TraceFile::GetInstance().Start(istd::eTraceError));
    ISTD_TRACE(1, "to stderr");
    TraceFile::GetInstance().Stop();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("to stderr"), std::string::npos);
}

TEST_F(TraceTest, PrintSettingsShapeTheLine)
{
    TraceFile& t = TraceFile::GetInstance();
    istd::TraceCapture capture(istd::eTraceError);
    bool value = true;
    EXPECT_TRUE(t.SetPrintLineHeader(false));
    EXPECT_TRUE(t.GetPrintLineHeader(value));
    EXPECT_FALSE(value);
    t.Trace(1, "fn", "/src/dir/board.cpp", 77, "bare");
    t.SetPrintFile(true);
    t.SetPrintLine(true);
    t.SetPrintLineTrailer(true);
    t.Trace(1, "fn", "/src/dir/board.cpp", 77, "decorated");
    t.SetPrintFile(false);
    t.Trace(1, "fn", "/src/dir/board.cpp", 77, "line only");
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[\d+\] E bare)"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\[\d+\] E board\.cpp:77: decorated \{fn\})"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\[\d+\] E :77: line only \{fn\})"))) << lines[2];
}

void Inner()
{
    ISTD_TRACE_FNC("void Inner()");
    istd::TraceDumpStack(); // the trace file's DumpStack
}

TEST_F(TraceTest, ScopesWriteEntryAndExitAtScopeLevelAndShowInStackDumps)
{
    {
        istd::TraceCapture capture(istd::eTraceScope);
        {
            ISTD_TRACE_FNC("void Outer()");
            EXPECT_STREQ(istd::TraceFnc::Current()->Function(), "void Outer()");
            Inner();
        }
        EXPECT_EQ(istd::TraceFnc::Current(), nullptr);
        const std::string text = capture.Text();
        const size_t enter = text.find("-> void Outer()");
        const size_t dump = text.find("scope #0 void Inner()");
        const size_t outerInDump = text.find("scope #1 void Outer()");
        const size_t leave = text.find("<- void Outer()");
        EXPECT_LT(enter, dump) << text;
        EXPECT_LT(dump, outerInDump) << text;
        EXPECT_LT(outerInDump, leave) << text;
        EXPECT_NE(text.find("frame #0"), std::string::npos) << text;
    }
    {
        istd::TraceCapture capture(istd::eTraceDetail);
        ISTD_TRACE_FNC("void Quiet()");
        EXPECT_EQ(capture.Text(), "") << "scopes are silent below level 5";
    }
}

TEST_F(TraceTest, DumpStackFlagFollowsErrorLines)
{
    istd::TraceCapture capture(istd::eTraceWarning);
    TraceFile::GetInstance().SetDumpStack(true);
    ISTD_TRACE(2, "warning without dump");
    EXPECT_FALSE(capture.Contains("Stack of thread"));
    ISTD_TRACE(1, "error with dump");
    EXPECT_TRUE(capture.Contains("Stack of thread"));
}

TEST_F(TraceTest, LogWritesSeverityLinesAndTracesAtItsLevels)
{
    TempDir dir;
    const std::string path = dir.Path() + "/app.log";
    EXPECT_FALSE(istd::Log::Init(dir.Path() + "/no/such/dir/app.log"));
    EXPECT_FALSE(istd::Log::m_enabled);
    istd::LogInfo("before the log is open");

    ASSERT_TRUE(istd::Log::Init(path));
    EXPECT_TRUE(istd::Log::m_enabled);
    istd::TraceCapture capture(istd::eTraceWarning);
    istd::LogInfo("info text");
    istd::LogWarning("warning text");
    istd::LogError("error text");
    istd::LogCritical("critical text");
    istd::Log::Stop();
    EXPECT_FALSE(istd::Log::m_enabled);
    istd::LogError("after stop");

    const std::vector<std::string> log = SplitLines(ReadFile(path));
    ASSERT_EQ(log.size(), 4u) << ReadFile(path);
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} (INFO|WARNING|ERROR|CRITICAL) (\w+) text)");
    const char* severities[] = {"INFO", "WARNING", "ERROR", "CRITICAL"};
    for (size_t i = 0; i < log.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(log[i], m, shape)) << log[i];
        EXPECT_EQ(m[1], severities[i]);
    }

    // Levels 3, 2, 1, 1: at level 2 the info line is not traced; the trace still works
    // after the log is closed.
    const std::string trace = capture.Text();
    EXPECT_EQ(trace.find("info text"), std::string::npos);
    EXPECT_NE(trace.find(" W warning text"), std::string::npos);
    EXPECT_NE(trace.find(" E error text"), std::string::npos);
    EXPECT_NE(trace.find(" E critical text"), std::string::npos);
    EXPECT_NE(trace.find(" E after stop"), std::string::npos);
}

// Runs body in a child process; its exit code (-1 when it died by a signal).
int InChild(const std::function<int()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A program whose standard error goes to a file (as "2>file" makes it) and that logs to its
// standard error: its own lines and the log's lines arrive whole and in order, whether the log
// was named "+" or "/dev/stderr" (opened anew, it would write at an offset of its own).
TEST_F(TraceTest, LogOnStandardErrorSharesTheProgramsStream)
{
    TempDir dir;
    const std::string path = dir.Path() + "/stderr.txt";
    for (const std::string target : {"+", "/dev/stderr"}) {
        ASSERT_EQ(InChild([&] {
                      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                      if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0 || !istd::Log::Init(target)) {
                          return 1;
                      }
                      for (int i = 0; i < 50; ++i) {
                          std::fprintf(stderr, "program line %d\n", i);
                          istd::LogWarning("log line " + std::to_string(i));
                      }
                      istd::Log::Stop();
                      return 0;
                  }),
                  0);
        const std::vector<std::string> lines = SplitLines(ReadFile(path));
        ASSERT_EQ(lines.size(), 100u) << target << "\n" << ReadFile(path);
        for (size_t i = 0; i < 50; ++i) {
            EXPECT_EQ(lines[2 * i], "program line " + std::to_string(i)) << target;
            EXPECT_TRUE(std::regex_match(lines[2 * i + 1], std::regex(".* WARNING log line " + std::to_string(i))))
                << target << ": " << lines[2 * i + 1];
        }
    }
}

// Each line is one write: long lines of two processes appending to one log never interleave.
TEST_F(TraceTest, LongLinesOfSeveralProcessesStayWhole)
{
    TempDir dir;
    const std::string path = dir.Path() + "/shared.log";
    constexpr size_t c_length = 20000;
    constexpr int c_lines = 100;
    std::vector<pid_t> children;
    for (char letter : {'a', 'b'}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!istd::Log::Init(path)) {
                ::_exit(1);
            }
            for (int i = 0; i < c_lines; ++i) {
                istd::LogInfo(std::string(c_length, letter));
            }
            istd::Log::Stop();
            ::_exit(0);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<std::string> lines = SplitLines(ReadFile(path));
    ASSERT_EQ(lines.size(), 2u * c_lines);
    const std::regex whole("[-0-9 :.]+ INFO (a{20000}|b{20000})");
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line.substr(0, 80) << "... (" << line.size() << " bytes)";
    }
}

// A program's first messages, before it has opened its log: on standard error at once, and in
// the log, first, once it is open; a failed open keeps them; past the bound they are counted;
// EndHolding drops them; and once the log is open nothing more goes to standard error.
TEST_F(TraceTest, EarlyMessagesArePrintedAtOnceAndWrittenWhenTheLogOpens)
{
    TempDir dir;
    const std::string err = dir.Path() + "/stderr.txt";
    const std::string log = dir.Path() + "/early.log";
    const std::string dropped = dir.Path() + "/dropped.log";
    ASSERT_EQ(InChild([&] {
                  const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                  if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0) {
                      return 1;
                  }
                  istd::LogWarning("before holding");
                  istd::Log::HoldEarlyMessages("prog: ");
                  istd::LogWarning("first");
                  istd::LogInfo("second");
                  if (istd::Log::Init(dir.Path() + "/no/such/dir/x.log") || !istd::Log::Init(log)) {
                      return 2;
                  }
                  istd::LogError("after the open");
                  istd::Log::Stop();

                  istd::Log::HoldEarlyMessages("prog: ");
                  istd::LogWarning("dropped by EndHolding");
                  istd::Log::EndHolding();
                  istd::LogWarning("not held");
                  istd::Log::HoldEarlyMessages("");
                  for (size_t i = 0; i < istd::Log::c_maxHeld + 3; ++i) {
                      istd::LogCritical("many " + std::to_string(i));
                  }
                  return istd::Log::Init(dropped) ? 0 : 3;
              }),
              0);

    const std::vector<std::string> printed = SplitLines(ReadFile(err));
    ASSERT_GE(printed.size(), 3u) << ReadFile(err);
    EXPECT_EQ(printed[0], "prog: WARNING first");
    EXPECT_EQ(printed[1], "prog: INFO second");
    EXPECT_EQ(printed[2], "prog: WARNING dropped by EndHolding");
    EXPECT_EQ(printed.size(), 3 + istd::Log::c_maxHeld + 3) << "every early message is printed";
    EXPECT_EQ(printed.back(), "CRITICAL many " + std::to_string(istd::Log::c_maxHeld + 2));

    const std::vector<std::string> lines = SplitLines(ReadFile(log));
    ASSERT_EQ(lines.size(), 3u) << ReadFile(log);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(".* WARNING first"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(".* INFO second"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(".* ERROR after the open"))) << lines[2];

    const std::vector<std::string> bounded = SplitLines(ReadFile(dropped));
    ASSERT_EQ(bounded.size(), istd::Log::c_maxHeld + 1) << ReadFile(dropped);
    EXPECT_TRUE(std::regex_match(bounded.front(), std::regex(".* CRITICAL many 0"))) << bounded.front();
    EXPECT_TRUE(std::regex_match(bounded.back(),
                                 std::regex(".* WARNING 3 more messages before the log was opened were not kept.")))
        << bounded.back();
}

TEST_F(TraceTest, LoggedAssertReportsAndReturns)
{
    TempDir dir;
    ASSERT_TRUE(istd::Log::Init(dir.Path() + "/assert.log"));
    istd::TraceCapture capture(istd::eTraceError);
    int total = 0;
    ISTD_LOGGED_ASSERT(total > 0);
    ISTD_LOGGED_ASSERT(total == 0);
    istd::Log::Stop();
    EXPECT_EQ(capture.Lines().size(), 1u);
    EXPECT_TRUE(capture.Contains("Assertion condition: total > 0"));
    const std::string log = ReadFile(dir.Path() + "/assert.log");
    EXPECT_NE(log.find("ERROR Assertion condition: total > 0 ("), std::string::npos) << log;
    EXPECT_NE(log.find("trace_test.cpp:"), std::string::npos) << log;
}

} // namespace
