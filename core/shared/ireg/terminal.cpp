#include "ireg/terminal.h"

#include "istd/trace.h"
#include "mci/node.h"

namespace ireg {

Terminal::Terminal(const std::string& opName) : Expression(opName, Arity(0))
{
    ISTD_TRACE_FNC("ireg::Terminal::Terminal(const std::string&)");
}

Terminal::~Terminal()
{
    ISTD_TRACE_FNC("ireg::Terminal::~Terminal()");
}

std::string Terminal::ToText() const
{
    ISTD_TRACE_FNC("std::string ireg::Terminal::ToText() const");
    return "T[" + OpName() + "]";
}

namespace expr {

template <>
std::string ParamToString<mci::Node>(const mci::Node& param)
{
    ISTD_TRACE_FNC("std::string ireg::expr::ParamToString<mci::Node>(const mci::Node&)");
    return "{" + param.GetName() + "=" + param.ToString(mci::Node::c_defMaxValueLen) + "}";
}

} // namespace expr

} // namespace ireg
