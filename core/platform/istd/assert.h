#ifndef ISTD_ASSERT_H
#define ISTD_ASSERT_H

#include "istd/istd_export.h"

// Assertions that report and let the caller go on:
//     ISTD_LOGGED_ASSERT(total > 0);
// reports "Assertion condition: total > 0" (with where it failed) at trace level 1 and to
// the log as an error, and returns.

namespace istd {

ISTD_API void LoggedAssert(const char* text, int line, const char* file, const char* function);

} // namespace istd

#define ISTD_LOGGED_ASSERT(cond)                                                          \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            ::istd::LoggedAssert("Assertion condition: " #cond, __LINE__, __FILE__, __func__); \
        }                                                                                 \
    } while (false)

#endif
