#ifndef ISTD_LOG_H
#define ISTD_LOG_H

// The log file: lines of "time SEVERITY text", written when the log is open.
// LogInfo, LogWarning, LogError and LogCritical trace their text at levels 3, 2, 1 and 1 and
// then write it to the log when it is enabled.

#include <atomic>
#include <string>

#include "istd/istd_export.h"
#include "istd/trace.h"

namespace istd {

class ISTD_API Log : public LogFile {
public:
    static Log& GetInstance();

    // Opens path in append mode (closing a log open before); "+" (or "/dev/stderr") is the
    // process's standard error, written where the program writes it. False when it cannot be
    // opened (errno then says why), or for an empty path.
    static bool Init(const std::string& path);
    // Closes the log; later messages go to the trace only.
    static void Stop();

    // For a program's start, before it knows where its log goes: from now on each message
    // logged while the log is not open is printed on standard error at once (after the prefix,
    // with its severity) and held, up to c_maxHeld of them, until Init opens the log, which
    // writes them first (with a line saying how many more were dropped) and ends the holding.
    // EndHolding ends it too and drops what is held.
    static constexpr size_t c_maxHeld = 100;
    static void HoldEarlyMessages(const std::string& prefix);
    static void EndHolding();

    void Info(const std::string& text);
    void Warning(const std::string& text);
    void Error(const std::string& text);
    void Critical(const std::string& text);

    // True while the log is open.
    static std::atomic<bool> m_enabled;

private:
    Log() = default;
    void _Write(const char* severity, const std::string& text);
};

ISTD_API void LogInfo(const std::string& text);
ISTD_API void LogWarning(const std::string& text);
ISTD_API void LogError(const std::string& text);
ISTD_API void LogCritical(const std::string& text);

// Writes the calling thread's trace scopes and call stack to the trace (TraceFile::DumpStack).
ISTD_API void TraceDumpStack();

} // namespace istd

#endif
