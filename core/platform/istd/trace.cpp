#include "istd/trace.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

ISTD_ENUM_TABLE(istd::TraceLevel_e,
                {istd::eTraceNone, "none"},
                {istd::eTraceError, "error"},
                {istd::eTraceWarning, "warning"},
                {istd::eTraceInfo, "info"},
                {istd::eTraceDetail, "detail"},
                {istd::eTraceScope, "scope"});

namespace istd {

namespace {

// Initial-exec: a scope costs a plain thread-pointer access instead of a __tls_get_addr call.
// The library is loaded with the program (or finds room in the static TLS reserve of dlopen).
__attribute__((tls_model("initial-exec"))) thread_local const TraceFnc* t_innermost = nullptr;

long ThreadId()
{
    thread_local const long id = static_cast<long>(::syscall(SYS_gettid));
    return id;
}

const char* BaseName(const char* path)
{
    if (path == nullptr) {
        return "";
    }
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

const char* LevelTag(int level)
{
    static const char* const c_tags[] = {"-", "E", "W", "I", "D", "S"};
    return (level >= 0 && level <= static_cast<int>(eTraceScope)) ? c_tags[level] : "?";
}

} // namespace

// ---- LogFile ----------------------------------------------------------------------------

LogFile::~LogFile()
{
    Close();
}

bool LogFile::Open(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd >= 0 && m_ownsFile) {
        ::close(m_fd);
    }
    m_fd = -1;
    m_ownsFile = false;
    m_path = path;
    if (path.empty() || path == "+" || path == "/dev/stderr") {
        m_fd = STDERR_FILENO;
        return true;
    }
    if (path == "/dev/stdout") {
        m_fd = STDOUT_FILENO;
        return true;
    }
    do {
        m_fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (m_fd < 0 && errno == EINTR);
    m_ownsFile = m_fd >= 0;
    return m_fd >= 0;
}

void LogFile::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd >= 0 && m_ownsFile) {
        ::close(m_fd);
    }
    m_fd = -1;
    m_ownsFile = false;
}

bool LogFile::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fd >= 0;
}

std::string LogFile::GetPath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

bool LogFile::GetPrintLineHeader(bool& value) const
{
    value = m_printLineHeader.load();
    return true;
}

bool LogFile::SetPrintLineHeader(const bool& value)
{
    m_printLineHeader.store(value);
    return true;
}

bool LogFile::GetPrintLineTrailer(bool& value) const
{
    value = m_printLineTrailer.load();
    return true;
}

bool LogFile::SetPrintLineTrailer(const bool& value)
{
    m_printLineTrailer.store(value);
    return true;
}

std::string LogFile::_TimeStamp()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[48];
    const size_t len = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + len, sizeof text - len, ".%06ld", now.tv_nsec / 1000);
    return text;
}

void LogFile::_WriteLine(const std::string& body, const char* function)
{
    std::string line;
    line.reserve(body.size() + 64);
    if (m_printLineHeader.load(std::memory_order_relaxed)) {
        line += _TimeStamp();
        line += ' ';
    }
    line += body;
    if (function != nullptr && m_printLineTrailer.load(std::memory_order_relaxed)) {
        line += " {";
        line += function;
        line += '}';
    }
    line += '\n';
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0) {
        return;
    }
    if (!m_ownsFile) {
        // What the program left in its own stream buffer goes first, so that order holds.
        std::fflush(m_fd == STDOUT_FILENO ? stdout : stderr);
    }
    // One call writes the line; only a short write (a full disk, a signal) needs another.
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
}

// ---- TraceFile --------------------------------------------------------------------------

std::atomic<int> TraceFile::m_activeLevel{0};

TraceFile& TraceFile::GetInstance()
{
    // Never destroyed, so static destructors of other libraries may still trace.
    static TraceFile* const s_instance = new TraceFile();
    return *s_instance;
}

void TraceFile::Init(const std::string& name, const std::string& dir)
{
    TraceFile& self = GetInstance();
    std::lock_guard<std::mutex> lock(self.m_stateMutex);
    if (name == "+" || name.empty()) {
        self.m_initPath = "+";
    } else if (dir.empty() || name[0] == '/') {
        self.m_initPath = name;
    } else {
        self.m_initPath = dir + (dir.back() == '/' ? "" : "/") + name;
    }
}

std::string TraceFile::GetInitPath()
{
    TraceFile& self = GetInstance();
    std::lock_guard<std::mutex> lock(self.m_stateMutex);
    return self.m_initPath;
}

void TraceFile::_Publish()
{
    m_activeLevel.store(m_on.load() ? m_level.load() : 0, std::memory_order_relaxed);
}

bool TraceFile::Start(TraceLevel_e level)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (level > eTraceScope) {
        return false;
    }
    m_on.store(false);
    _Publish();
    if (!Open(m_initPath.empty() ? "+" : m_initPath)) {
        return false; // the caller says so where its user looks, errno tells why
    }
    m_level.store(level);
    m_on.store(true);
    _Publish();
    return true;
}

void TraceFile::Stop()
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_on.store(false);
    _Publish();
    Close();
}

bool TraceFile::SetLevel(const TraceLevel_e& level)
{
    if (static_cast<unsigned>(level) > eTraceScope) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_level.store(level);
    _Publish();
    return true;
}

bool TraceFile::GetLevel(TraceLevel_e& level) const
{
    level = static_cast<TraceLevel_e>(m_level.load());
    return true;
}

TraceLevel_e TraceFile::Level() const
{
    return static_cast<TraceLevel_e>(m_level.load());
}

void TraceFile::Trace(int level, const char* function, const char* file, int line,
                      const std::string& text)
{
    if (!IsActive(level)) {
        return;
    }
    std::string body;
    body.reserve(text.size() + 48);
    body += '[';
    body += std::to_string(ThreadId());
    body += "] ";
    body += LevelTag(level);
    body += ' ';
    const bool printFile = m_printFile.load(std::memory_order_relaxed);
    const bool printLine = m_printLine.load(std::memory_order_relaxed);
    if (printFile || printLine) {
        if (printFile) {
            body += BaseName(file);
        }
        if (printLine) {
            body += ':';
            body += std::to_string(line);
        }
        body += ": ";
    }
    body += text;
    _WriteLine(body, function);
    if (level == eTraceError && m_dumpStack.load(std::memory_order_relaxed)) {
        DumpStack();
    }
}

void TraceFile::DumpStack()
{
    if (!IsActive(eTraceError)) {
        return;
    }
    std::string text = "Stack of thread " + std::to_string(ThreadId()) + ":";
    int depth = 0;
    for (const TraceFnc* scope = TraceFnc::Current(); scope != nullptr; scope = scope->Outer()) {
        text += "\n  scope #" + std::to_string(depth++) + " " + scope->Function() + " (" +
                BaseName(scope->File()) + ":" + std::to_string(scope->Line()) + ")";
    }
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    char** symbols = ::backtrace_symbols(frames, count);
    for (int i = 0; symbols != nullptr && i < count; ++i) {
        text += "\n  frame #" + std::to_string(i) + " " + symbols[i];
    }
    std::free(symbols);
    _WriteLine(text, nullptr);
}

bool TraceFile::GetPrintFile(bool& value) const
{
    value = m_printFile.load();
    return true;
}

bool TraceFile::SetPrintFile(const bool& value)
{
    m_printFile.store(value);
    return true;
}

bool TraceFile::GetPrintLine(bool& value) const
{
    value = m_printLine.load();
    return true;
}

bool TraceFile::SetPrintLine(const bool& value)
{
    m_printLine.store(value);
    return true;
}

bool TraceFile::GetDumpStack(bool& value) const
{
    value = m_dumpStack.load();
    return true;
}

bool TraceFile::SetDumpStack(const bool& value)
{
    m_dumpStack.store(value);
    return true;
}

// ---- TraceFnc ---------------------------------------------------------------------------

void TraceFnc::_Enter(const char* function, const char* file, int line)
{
    m_function = function ? function : "";
    m_file = file ? file : "";
    m_line = line;
    m_outer = t_innermost;
    if (TraceFile::IsActive(eTraceScope)) {
        TraceFile::GetInstance().Trace(eTraceScope, m_function, m_file, m_line, std::string("-> ") + m_function);
    }
    t_innermost = this;
}

void TraceFnc::_Leave() noexcept
{
    if (TraceFile::IsActive(eTraceScope)) {
        try {
            TraceFile::GetInstance().Trace(eTraceScope, m_function, m_file, m_line, std::string("<- ") + m_function);
        } catch (...) {
            // A failed exit line must not turn into std::terminate.
        }
    }
    t_innermost = m_outer;
}

const TraceFnc* TraceFnc::Current() noexcept
{
    return t_innermost;
}

} // namespace istd
