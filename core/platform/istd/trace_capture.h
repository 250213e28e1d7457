#ifndef ISTD_TRACE_CAPTURE_H
#define ISTD_TRACE_CAPTURE_H

// For tests: captures everything traced while the object lives.
//
//     istd::TraceCapture capture(istd::eTraceDetail);
//     ... code under test ...
//     EXPECT_NE(capture.Text().find("Cannot cast from config value: "), std::string::npos);
//
// It starts the one trace file on a fresh temporary file at the given level and, when
// destroyed, stops tracing, removes the file and restores the path recorded by the last
// TraceFile::Init. Only one capture may be alive at a time, and
// trace settings (print file/line, header) are process-wide.

#include <string>
#include <vector>

#include "istd/istd_export.h"
#include "istd/trace.h"

namespace istd {

class ISTD_API TraceCapture {
public:
    explicit TraceCapture(TraceLevel_e level);
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // All that was written so far.
    std::string Text() const;
    // The lines written so far, without line ends.
    std::vector<std::string> Lines() const;
    // True when some line contains the text.
    bool Contains(const std::string& text) const;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_previousInitPath;
};

} // namespace istd

#endif
