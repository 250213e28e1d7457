#ifndef TESTS_SUPPORT_ERROR_OF_H
#define TESTS_SUPPORT_ERROR_OF_H

#include <functional>
#include <string>

namespace testsupport {

// The text of the istd::Exception that f throws, or "no error". Any other exception passes.
std::string ErrorOf(const std::function<void()>& f);

} // namespace testsupport

#endif
