#ifndef ISTD_TRACE_H
#define ISTD_TRACE_H

// Trace scopes and the trace file.
//
//     ISTD_TRACE_FNC("bool bmc::Board::Open()");        // scope of the function
//     ISTD_TRACE(2, "Opening board " << id);             // formatted only when level 2 is on
//
// A trace that is off costs one atomic load: ISTD_TRACE tests TraceFile::IsActive before the
// stream expression is evaluated, and a scope does nothing else (see TraceFnc).
//
// Capturing trace output in a test (see also istd/trace_capture.h, which wraps these steps):
//     istd::TraceFile::Init("trace.log", tempDir);       // records tempDir/trace.log
//     istd::TraceFile::GetInstance().Start(istd::eTraceDetail);
//     ... code under test ...
//     istd::TraceFile::GetInstance().Stop();             // closes the file; tracing is off
//     then read tempDir/trace.log: one line per Trace call.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>

#include "istd/enum_map.h"
#include "istd/istd_export.h"

namespace istd {

// 32 bits wide and never negative, so it widens to 64 bits with zero extension.
enum TraceLevel_e : unsigned int {
    eTraceNone = 0,
    eTraceError = 1,
    eTraceWarning = 2,
    eTraceInfo = 3,
    eTraceDetail = 4,
    eTraceScope = 5, // entry and exit of every trace scope
};

// A line-oriented output file shared by threads: each call writes one line under a mutex and
// flushes it. The header is the local time with microseconds; the trailer names the function
// that wrote the line (when there is one).
class ISTD_API LogFile {
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    virtual ~LogFile();

    // Opens path in append mode; an empty path, "+" and "/dev/stderr" write to the process's
    // standard error and "/dev/stdout" to its standard output, through the descriptor the
    // program writes to itself (a second opening of the same file would keep an offset of its
    // own and overwrite what the program writes). Any file open before is closed. False when
    // the file cannot be opened (the object is then closed, errno says why).
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const;
    std::string GetPath() const;

    bool GetPrintLineHeader(bool& value) const;
    bool SetPrintLineHeader(const bool& value);
    bool GetPrintLineTrailer(bool& value) const;
    bool SetPrintLineTrailer(const bool& value);

protected:
    // Writes header + body + trailer as one line (a body with line ends stays one block), with
    // one write call, so that lines of several threads and processes never interleave.
    void _WriteLine(const std::string& body, const char* function);
    static std::string _TimeStamp();

private:
    mutable std::mutex m_mutex;
    int m_fd = -1;
    bool m_ownsFile = false;
    std::string m_path;
    std::atomic<bool> m_printLineHeader{true};
    std::atomic<bool> m_printLineTrailer{false};
};

class ISTD_API TraceFile : public LogFile {
public:
    static TraceFile& GetInstance();

    // Records dir/name (or name alone when dir is empty) for a later Start; the name "+" means
    // no file, and a later Start then writes to standard error. Opens nothing.
    static void Init(const std::string& name, const std::string& dir);
    // The path recorded by Init ("+" for standard error, empty before any Init).
    static std::string GetInitPath();

    // Opens the recorded file in append mode, sets the level and turns tracing on. False (and
    // tracing stays off) when the file cannot be opened (errno then says why; nothing is
    // printed: the caller tells its user) or the level is out of range.
    bool Start(TraceLevel_e level);
    // Turns tracing off and closes the file.
    void Stop();

    bool SetLevel(const TraceLevel_e& level); // false for a value beyond eTraceScope
    // The getter the registry binds by member pointer; one spelling, so the pointer needs no cast.
    bool GetLevel(TraceLevel_e& level) const;
    TraceLevel_e Level() const;

    // True when tracing is on and the active level is at least level; one atomic load.
    static bool IsActive(int level) noexcept
    {
        const int active = m_activeLevel.load(std::memory_order_relaxed);
        return active > 0 && active >= level;
    }

    // Writes one line when IsActive(level).
    void Trace(int level, const char* function, const char* file, int line, const std::string& text);

    // Writes the calling thread's trace scopes and its call stack.
    void DumpStack();

    bool GetPrintFile(bool& value) const;
    bool SetPrintFile(const bool& value);
    bool GetPrintLine(bool& value) const;
    bool SetPrintLine(const bool& value);
    // When set, every error-level line is followed by a stack dump.
    bool GetDumpStack(bool& value) const;
    bool SetDumpStack(const bool& value);

private:
    TraceFile() = default;
    void _Publish();

    static std::atomic<int> m_activeLevel; // the level while on, else 0
    std::mutex m_stateMutex;               // Init/Start/Stop/SetLevel
    std::string m_initPath;
    std::atomic<int> m_level{eTraceNone};
    std::atomic<bool> m_on{false};
    std::atomic<bool> m_printFile{false};
    std::atomic<bool> m_printLine{false};
    std::atomic<bool> m_dumpStack{false};
};

// A trace scope: while tracing is on it pushes the signature on the calling thread's scope stack
// (which stack dumps list), and at level 5 it also writes entry and exit lines. While tracing is
// off a scope costs one relaxed load: it is not pushed, so a stack dump made after tracing was
// turned on lists only the scopes entered since, and a scope entered while tracing was off
// writes no exit line.
class ISTD_API TraceFnc {
public:
    TraceFnc(const char* function, const char* file, int line)
        : m_entered(TraceFile::IsActive(eTraceError))
    {
        if (m_entered) {
            _Enter(function, file, line);
        }
    }
    ~TraceFnc()
    {
        if (m_entered) {
            _Leave();
        }
    }
    TraceFnc(const TraceFnc&) = delete;
    TraceFnc& operator=(const TraceFnc&) = delete;

    // The innermost scope of the calling thread that was entered while tracing was on, or nullptr.
    static const TraceFnc* Current() noexcept;
    const TraceFnc* Outer() const noexcept { return m_outer; }
    const char* Function() const noexcept { return m_function; }
    const char* File() const noexcept { return m_file; }
    int Line() const noexcept { return m_line; }

private:
    void _Enter(const char* function, const char* file, int line);
    void _Leave() noexcept;

    const bool m_entered;
    const char* m_function = "";
    const char* m_file = "";
    int m_line = 0;
    const TraceFnc* m_outer = nullptr;
};

} // namespace istd

ISTD_ENUM_TABLE_DECL(istd::TraceLevel_e)

namespace istd {
ISTD_ENUM_OUTPUT_OPERATOR(TraceLevel_e)
ISTD_ENUM_INPUT_OPERATOR(TraceLevel_e)
} // namespace istd

#define ISTD_TRACE_CONCAT2(a, b) a##b
#define ISTD_TRACE_CONCAT(a, b) ISTD_TRACE_CONCAT2(a, b)

#define ISTD_TRACE_FNC(sig) \
    ::istd::TraceFnc ISTD_TRACE_CONCAT(istdTraceFnc_, __LINE__)((sig), __FILE__, __LINE__)

#define ISTD_TRACE(level, expr)                                                                \
    do {                                                                                       \
        if (::istd::TraceFile::IsActive(level)) {                                              \
            std::ostringstream istdTraceText_;                                                 \
            istdTraceText_ << expr;                                                            \
            ::istd::TraceFile::GetInstance().Trace((level), __func__, __FILE__, __LINE__,      \
                                                   istdTraceText_.str());                      \
        }                                                                                      \
    } while (false)

#endif
