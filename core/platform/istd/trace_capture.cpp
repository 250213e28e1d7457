#include "istd/trace_capture.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "istd/exception.h"

namespace istd {

TraceCapture::TraceCapture(TraceLevel_e level)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/istd-trace-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        throw Exception("TraceCapture: cannot create " + pattern, true);
    }
    ::close(fd);
    m_path = pattern;
    m_previousInitPath = TraceFile::GetInitPath();
    TraceFile::Init(m_path, "");
    if (!TraceFile::GetInstance().Start(level)) {
        ::unlink(m_path.c_str());
        TraceFile::Init(m_previousInitPath, "");
        throw Exception("TraceCapture: cannot open " + m_path, true);
    }
}

TraceCapture::~TraceCapture()
{
    TraceFile::GetInstance().Stop();
    ::unlink(m_path.c_str());
    TraceFile::Init(m_previousInitPath, "");
}

std::string TraceCapture::Text() const
{
    std::ifstream in(m_path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> TraceCapture::Lines() const
{
    std::istringstream in(Text());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool TraceCapture::Contains(const std::string& text) const
{
    return Text().find(text) != std::string::npos;
}

} // namespace istd
