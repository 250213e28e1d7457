#include "istd/exception.h"

#include <ostream>

namespace istd {

Exception::Exception(const std::string& text, bool flag) : m_text(text), m_flag(flag) {}

Exception::Exception(const char* text, bool flag) : m_text(text ? text : ""), m_flag(flag) {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept
{
    return m_text.c_str();
}

std::ostream& operator<<(std::ostream& os, const Exception& e)
{
    return os << e.what();
}

} // namespace istd
