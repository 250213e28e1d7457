#ifndef ISTD_VER_INFO_H
#define ISTD_VER_INFO_H

// The framework's version: major 2, minor 8 and the build number given to CMake
// (-DKAVREL_BUILD_NUMBER=<n>). VersionString() is "2.8-<build>".

#include <atomic>
#include <string>

#include "istd/istd_export.h"

namespace istd {

class ISTD_API VerInfo {
public:
    static VerInfo& GetInstance();

    std::string VersionString() const;
    int Major() const noexcept { return m_major.load(); }
    int Minor() const noexcept { return m_minor.load(); }
    int Build() const noexcept { return m_build.load(); }

    // Writes "Version: " + VersionString() and a line end to standard output.
    void Dump() const;

    // For tests of code that shows the version; not for production code.
    void Override(int major, int minor, int build);

private:
    VerInfo();

    std::atomic<int> m_major;
    std::atomic<int> m_minor;
    std::atomic<int> m_build;
};

} // namespace istd

#endif
