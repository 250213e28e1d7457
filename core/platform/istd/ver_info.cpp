#include "istd/ver_info.h"

#include <iostream>

#ifndef KAVREL_BUILD_NUMBER
#define KAVREL_BUILD_NUMBER 0
#endif

namespace istd {

namespace {
constexpr int c_major = 2;
constexpr int c_minor = 8;
constexpr int c_build = KAVREL_BUILD_NUMBER;
} // namespace

VerInfo::VerInfo() : m_major(c_major), m_minor(c_minor), m_build(c_build) {}

VerInfo& VerInfo::GetInstance()
{
    static VerInfo s_instance;
    return s_instance;
}

std::string VerInfo::VersionString() const
{
    return std::to_string(Major()) + "." + std::to_string(Minor()) + "-" + std::to_string(Build());
}

void VerInfo::Dump() const
{
    std::cout << "Version: " << VersionString() << std::endl;
}

void VerInfo::Override(int major, int minor, int build)
{
    m_major.store(major);
    m_minor.store(minor);
    m_build.store(build);
}

} // namespace istd
