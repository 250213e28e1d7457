#ifndef ISTD_EXCEPTION_H
#define ISTD_EXCEPTION_H

#include <exception>
#include <iosfwd>
#include <string>

#include "istd/istd_export.h"

namespace istd {

// The one exception type every library throws; layers catch it and rethrow with a prefix.
// The destructor is defined out of line so that every shared object sees one typeinfo and a
// catch in one library matches a throw in another.
class ISTD_API Exception : public std::exception {
public:
    // The flag is kept for callers that pass it (always true in practice); it has no effect.
    Exception(const std::string& text, bool flag = true);
    Exception(const char* text, bool flag = true);
    ~Exception() override;

    const char* what() const noexcept override;

    const std::string& Text() const noexcept { return m_text; }
    bool Flag() const noexcept { return m_flag; }

private:
    std::string m_text;
    bool m_flag;
};

// Writes exactly what().
ISTD_API std::ostream& operator<<(std::ostream& os, const Exception& e);

} // namespace istd

#endif
