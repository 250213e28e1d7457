#ifndef ISTD_TESTS_ERROR_OF_H
#define ISTD_TESTS_ERROR_OF_H

#include <functional>
#include <string>

namespace istd_test {

// The text of the istd::Exception that f throws, or "no error".
std::string ErrorOf(const std::function<void()>& f);

} // namespace istd_test

#endif
