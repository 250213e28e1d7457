#include "temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace bmctest {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kavrel-bmc-XXXXXX";
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    if (::mkdtemp(text.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + pattern);
    }
    m_path = text.data();
}

TempDir::~TempDir()
{
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

CurrentDir::CurrentDir(const std::string& path) : m_previous(std::filesystem::current_path().string())
{
    std::filesystem::current_path(path);
}

CurrentDir::~CurrentDir()
{
    std::error_code error;
    std::filesystem::current_path(m_previous, error);
}

} // namespace bmctest
