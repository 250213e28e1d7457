#include "tests/support/error_of.h"

#include "istd/exception.h"

namespace testsupport {

std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const istd::Exception& e) {
        return e.what();
    }
    return "no error";
}

} // namespace testsupport
