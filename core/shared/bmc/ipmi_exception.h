#ifndef BMC_IPMI_EXCEPTION_H
#define BMC_IPMI_EXCEPTION_H

#include <string>

#include "bmc/bmc_export.h"
#include "istd/exception.h"

namespace bmc {

// An IPMI request answered with a completion code other than 0. The message is the failing
// operation's text followed by the code's name in parentheses; the code stays available.
class BMC_API IpmiException : public istd::Exception {
public:
    IpmiException(int code, const char* text, bool flag);
    ~IpmiException() override;

    int GetCode() const;

    // text + " (" + name of code + ")"; a code without a name gives "UNKNOWN".
    static std::string CreateMessage(const char* text, int code);

private:
    int m_code;
};

} // namespace bmc

#endif
