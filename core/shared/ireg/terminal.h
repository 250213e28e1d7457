#ifndef IREG_TERMINAL_H
#define IREG_TERMINAL_H

// The leaf expression, base of every validator the system attaches (ranges, sets of allowed
// values). A validator derived from it:
//   1. constructs Terminal with its operator name and keeps its own parameters;
//   2. overrides ToText(), rendering parameters with expr::ParamToString;
//   3. overrides OnEvaluate for each value type it takes (the others keep SyntaxError);
//   4. is made owned by a std::shared_ptr<Expression> and attached with RegNode::SetValidator.

#include <sstream>
#include <string>

#include "ireg/expression.h"
#include "ireg/ireg_export.h"

namespace mci {
class Node;
}

namespace ireg {

class IREG_API Terminal : public Expression {
public:
    explicit Terminal(const std::string& opName);
    ~Terminal() override;

    // "T[" + operator name + "]".
    std::string ToText() const override;
};

namespace expr {

// One parameter of a leaf as its ToText shows it: what a standard stream writes with default
// formatting.
template <class T>
std::string ParamToString(const T& param)
{
    std::ostringstream os;
    os << param;
    return os.str();
}

// A node handle: "{" + name + "=" + value text + "}".
template <>
IREG_API std::string ParamToString<mci::Node>(const mci::Node& param);

} // namespace expr

} // namespace ireg

#endif
