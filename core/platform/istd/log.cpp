#include "istd/log.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "istd/assert.h"
#include "istd/log_limit.h"

namespace istd {

std::atomic<bool> Log::m_enabled{false};

namespace {

using Writer = void (Log::*)(const std::string&);

// The messages of a program's start, logged before its log is open.
struct Early {
    std::mutex mutex;
    std::atomic<bool> holding{false}; // written under the mutex
    std::string prefix;
    std::vector<std::pair<Writer, std::string>> held;
    size_t dropped = 0;

    static Early& Instance()
    {
        static Early* const s_early = new Early(); // never destroyed, like the log
        return *s_early;
    }

    void End()
    {
        holding.store(false);
        held.clear();
        held.shrink_to_fit();
        dropped = 0;
    }
};

} // namespace

Log& Log::GetInstance()
{
    // Never destroyed, so static destructors of other libraries may still log.
    static Log* const s_instance = new Log();
    return *s_instance;
}

bool Log::Init(const std::string& path)
{
    Log& self = GetInstance();
    Early& early = Early::Instance();
    std::lock_guard<std::mutex> lock(early.mutex);
    m_enabled.store(false);
    if (path.empty() || !self.Open(path)) {
        const int error = errno;
        self.Close();
        errno = error;
        return false;
    }
    // Under the lock: a message logged meanwhile is either held (and written here) or written
    // after these.
    for (const auto& message : early.held) {
        (self.*message.first)(message.second);
    }
    if (early.dropped > 0) {
        self.Warning(std::to_string(early.dropped) + " more messages before the log was opened were not kept.");
    }
    early.End();
    m_enabled.store(true);
    return true;
}

void Log::HoldEarlyMessages(const std::string& prefix)
{
    Early& early = Early::Instance();
    std::lock_guard<std::mutex> lock(early.mutex);
    early.End();
    early.holding.store(true);
    early.prefix = prefix;
}

void Log::EndHolding()
{
    Early& early = Early::Instance();
    std::lock_guard<std::mutex> lock(early.mutex);
    early.End();
}

void Log::Stop()
{
    FlushLimitedLog(); // the counts of lines left out belong in this log
    m_enabled.store(false);
    GetInstance().Close();
}

void Log::_Write(const char* severity, const std::string& text)
{
    _WriteLine(std::string(severity) + " " + text, nullptr);
}

void Log::Info(const std::string& text)
{
    _Write("INFO", text);
}

void Log::Warning(const std::string& text)
{
    _Write("WARNING", text);
}

void Log::Error(const std::string& text)
{
    _Write("ERROR", text);
}

void Log::Critical(const std::string& text)
{
    _Write("CRITICAL", text);
}

namespace {

// Held or printed when the program's log is not open yet; false when the log is open.
bool HoldEarly(const char* severity, const std::string& text, Writer write)
{
    Early& early = Early::Instance();
    if (!early.holding.load()) {
        return !Log::m_enabled.load();
    }
    std::lock_guard<std::mutex> lock(early.mutex);
    if (Log::m_enabled.load()) {
        return false;
    }
    if (!early.holding.load()) {
        return true;
    }
    const std::string line = early.prefix + severity + " " + text + "\n";
    std::fflush(stdout);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    if (early.held.size() < Log::c_maxHeld) {
        early.held.emplace_back(write, text);
    } else {
        ++early.dropped;
    }
    return true;
}

void TraceAndLog(int level, const char* function, const std::string& text, Writer write, const char* severity)
{
    if (TraceFile::IsActive(level)) {
        TraceFile::GetInstance().Trace(level, function, __FILE__, __LINE__, text);
    }
    if (Log::m_enabled.load(std::memory_order_relaxed) || !HoldEarly(severity, text, write)) {
        (Log::GetInstance().*write)(text);
    }
}

} // namespace

void LogInfo(const std::string& text)
{
    TraceAndLog(eTraceInfo, "istd::LogInfo", text, &Log::Info, "INFO");
}

void LogWarning(const std::string& text)
{
    TraceAndLog(eTraceWarning, "istd::LogWarning", text, &Log::Warning, "WARNING");
}

void LogError(const std::string& text)
{
    TraceAndLog(eTraceError, "istd::LogError", text, &Log::Error, "ERROR");
}

void LogCritical(const std::string& text)
{
    TraceAndLog(eTraceError, "istd::LogCritical", text, &Log::Critical, "CRITICAL");
}

void TraceDumpStack()
{
    TraceFile::GetInstance().DumpStack();
}

void LoggedAssert(const char* text, int line, const char* file, const char* function)
{
    const std::string where = std::string(text ? text : "") + " (" + (function ? function : "?") +
                              ", " + (file ? file : "?") + ":" + std::to_string(line) + ")";
    LogError(where);
}

} // namespace istd
