#include "istd/log.h"

#include "istd/assert.h"
#include "istd/log_limit.h"

namespace istd {

std::atomic<bool> Log::m_enabled{false};

Log& Log::GetInstance()
{
    // Never destroyed, so static destructors of other libraries may still log.
    static Log* const s_instance = new Log();
    return *s_instance;
}

bool Log::Init(const std::string& path)
{
    Log& self = GetInstance();
    m_enabled.store(false);
    if (path.empty() || !self.Open(path)) {
        self.Close();
        return false;
    }
    m_enabled.store(true);
    return true;
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

void TraceAndLog(int level, const char* function, const std::string& text,
                 void (Log::*write)(const std::string&))
{
    if (TraceFile::IsActive(level)) {
        TraceFile::GetInstance().Trace(level, function, __FILE__, __LINE__, text);
    }
    if (Log::m_enabled.load(std::memory_order_relaxed)) {
        (Log::GetInstance().*write)(text);
    }
}

} // namespace

void LogInfo(const std::string& text)
{
    TraceAndLog(eTraceInfo, "istd::LogInfo", text, &Log::Info);
}

void LogWarning(const std::string& text)
{
    TraceAndLog(eTraceWarning, "istd::LogWarning", text, &Log::Warning);
}

void LogError(const std::string& text)
{
    TraceAndLog(eTraceError, "istd::LogError", text, &Log::Error);
}

void LogCritical(const std::string& text)
{
    TraceAndLog(eTraceError, "istd::LogCritical", text, &Log::Critical);
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
