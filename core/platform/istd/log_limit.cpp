#include "istd/log_limit.h"

#include "istd/log.h"

namespace istd {

RateLimiter::RateLimiter(size_t linesPerWindow, Clock::duration window)
    : m_linesPerWindow(linesPerWindow), m_window(window)
{
}

bool RateLimiter::Admit(const std::string& kind, int tag, Clock::time_point now, std::vector<LeftOut>& due)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [name, window] : m_kinds) {
        if (window.leftOut > 0 && now - window.start >= m_window) {
            due.push_back({name, window.tag, window.leftOut});
            window.leftOut = 0;
        }
    }
    auto [it, added] = m_kinds.try_emplace(kind);
    Window& window = it->second;
    window.tag = tag;
    if (added || now - window.start >= m_window) {
        window.start = now;
        window.written = 0;
    }
    if (window.written < m_linesPerWindow) {
        ++window.written;
        return true;
    }
    ++window.leftOut;
    return false;
}

std::vector<RateLimiter::LeftOut> RateLimiter::Flush()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<LeftOut> due;
    for (auto& [name, window] : m_kinds) {
        if (window.leftOut > 0) {
            due.push_back({name, window.tag, window.leftOut});
            window.leftOut = 0;
        }
    }
    return due;
}

namespace {

enum Severity_e { eInfo, eWarning };

RateLimiter& Limiter()
{
    // Never destroyed, so that static destructors may still log.
    static RateLimiter* const s_limiter = new RateLimiter(c_limitedLinesPerSecond, std::chrono::seconds(1));
    return *s_limiter;
}

void Write(int severity, const std::string& text)
{
    if (severity == eWarning) {
        LogWarning(text);
    } else {
        LogInfo(text);
    }
}

void WriteLeftOut(const std::vector<RateLimiter::LeftOut>& due)
{
    for (const RateLimiter::LeftOut& leftOut : due) {
        Write(leftOut.tag, leftOut.kind + ": " + std::to_string(leftOut.count) + " more like this were left out");
    }
}

void LogLimited(Severity_e severity, const std::string& kind, const std::string& text)
{
    std::vector<RateLimiter::LeftOut> due;
    const bool write = Limiter().Admit(kind, severity, RateLimiter::Clock::now(), due);
    WriteLeftOut(due);
    if (write) {
        Write(severity, text);
    }
}

} // namespace

void LogWarningLimited(const std::string& kind, const std::string& text)
{
    LogLimited(eWarning, kind, text);
}

void LogInfoLimited(const std::string& kind, const std::string& text)
{
    LogLimited(eInfo, kind, text);
}

void FlushLimitedLog()
{
    WriteLeftOut(Limiter().Flush());
}

} // namespace istd
