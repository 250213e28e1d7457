#include "ireg/reg_exec_node.h"

#include "istd/trace.h"

ISTD_ENUM_TABLE(mci::enums::NodeCommand_e, {mci::enums::eExecute, "Execute"});

namespace ireg {

RegExecNode::RegExecNode(const std::string& name, std::function<bool()> action, mci::Flags flags)
    : RegValueNode<Command>(name, mci::enums::eExecute, flags | execFlags_c),
      RegValueEnumNode<Command>(name, mci::enums::eExecute, flags | execFlags_c),
      m_action(std::move(action))
{
}

RegExecNode::~RegExecNode() = default;

void RegExecNode::OnSet(const int64_t* values, size_t, size_t)
{
    _OnSet(values[0]);
}

void RegExecNode::OnSet(const int32_t* values, size_t, size_t)
{
    _OnSet(values[0]);
}

void RegExecNode::OnSet(const std::string* values, size_t, size_t)
{
    ISTD_TRACE_FNC("void ireg::RegExecNode::OnSet(const std::string*, size_t, size_t)");
    _OnSet(detail::WidenEnum(detail::EnumFromText<Command>(values[0])));
}

bool RegExecNode::OnResize(size_t, const mci::Path&)
{
    return false;
}

void RegExecNode::_OnSet(int64_t command)
{
    ISTD_TRACE_FNC("void ireg::RegExecNode::_OnSet(int64_t)");
    if (!m_action) {
        throw istd::Exception("ireg: No action defined for this node.", true);
    }
    Command value{};
    if (!detail::FindWidenedEnum(command, value)) {
        throw istd::Exception("invalid value", true);
    }
    RegValueNode<Command>::OnSet(&value, 0, 1);
    if (!m_action()) {
        throw istd::Exception("ireg: Execution failed.", true);
    }
}

} // namespace ireg
