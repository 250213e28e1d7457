#ifndef TESTS_SUPPORT_TEMP_DIR_H
#define TESTS_SUPPORT_TEMP_DIR_H

// A fresh folder under the temporary directory, removed with everything in it at the end, and
// a scope that makes a folder the current directory for a while.

#include <string>

namespace testsupport {

class TempDir {
public:
    // $TMPDIR (else /tmp) /<prefix>-XXXXXX; throws std::runtime_error when it cannot be made.
    explicit TempDir(const std::string& prefix = "kavrel-test");
    // Gives the owner its rights back first, so that a test that took them away leaves nothing.
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Changes into the folder and back to the former current directory at the end.
class CurrentDir {
public:
    explicit CurrentDir(const std::string& path);
    ~CurrentDir();
    CurrentDir(const CurrentDir&) = delete;
    CurrentDir& operator=(const CurrentDir&) = delete;

private:
    std::string m_previous;
};

} // namespace testsupport

#endif
