#ifndef ISTD_LOG_LIMIT_H
#define ISTD_LOG_LIMIT_H

// Log lines that remote clients cause, limited per kind, so that no client can fill the disk by
// repeating a refused call:
//
//     istd::LogWarningLimited("ireg: remote GetValue refused",
//                             "ireg: remote GetValue of " + istd::OutsideText(path) + " refused: " + ...);
//
// Of one kind at most c_limitedLinesPerSecond lines are written (to the log and the trace, as
// LogWarning and LogInfo write them) in a second, counted from the first line of the second; the
// lines beyond are counted, not written. Once that second is over, one line of the same severity
// "<kind>: N more like this were left out" follows: when the next limited line of any kind comes,
// or when the log stops (Log::Stop). The kind is a fixed text of the caller, never outside text:
// one entry per kind is kept for the life of the process.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "istd/istd_export.h"

namespace istd {

constexpr size_t c_limitedLinesPerSecond = 10;

// The counting behind the limited lines, with the time given, so that it can be tested.
class ISTD_API RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    struct LeftOut {
        std::string kind;
        int tag = 0; // as given to Admit
        size_t count = 0;
    };

    RateLimiter(size_t linesPerWindow, Clock::duration window);

    // True when a line of the kind may be written at now (tag is the caller's, returned with the
    // kind's LeftOut). The kinds whose window ended before now with lines left out are appended
    // to due, each once.
    bool Admit(const std::string& kind, int tag, Clock::time_point now, std::vector<LeftOut>& due);
    // The kinds with lines left out, their windows over or not; each is reported once.
    std::vector<LeftOut> Flush();

private:
    struct Window {
        Clock::time_point start;
        size_t written = 0;
        size_t leftOut = 0;
        int tag = 0;
    };

    const size_t m_linesPerWindow;
    const Clock::duration m_window;
    std::mutex m_mutex; // m_kinds
    std::map<std::string, Window> m_kinds;
};

ISTD_API void LogWarningLimited(const std::string& kind, const std::string& text);
ISTD_API void LogInfoLimited(const std::string& kind, const std::string& text);
// Writes the "left out" lines still owed; Log::Stop calls it.
ISTD_API void FlushLimitedLog();

} // namespace istd

#endif
