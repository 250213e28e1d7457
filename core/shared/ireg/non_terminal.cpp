#include "ireg/non_terminal.h"

#include "istd/trace.h"

namespace ireg {

NonTerminal::NonTerminal(const std::string& opName, const Arity& arity) : Expression(opName, arity)
{
    ISTD_TRACE_FNC("ireg::NonTerminal::NonTerminal(const std::string&, const Arity&)");
}

NonTerminal::~NonTerminal()
{
    ISTD_TRACE_FNC("ireg::NonTerminal::~NonTerminal()");
}

void NonTerminal::Add(const ExpressionPtr& operand)
{
    m_operands.push_back(operand);
}

void NonTerminal::Add(ExpressionPtr&& operand)
{
    m_operands.push_back(std::move(operand));
}

void NonTerminal::Set(const std::initializer_list<ExpressionPtr>& operands)
{
    VerifyArity(static_cast<unsigned int>(operands.size()));
    m_operands.assign(operands.begin(), operands.end());
}

void NonTerminal::Set(std::initializer_list<ExpressionPtr>&& operands)
{
    VerifyArity(static_cast<unsigned int>(operands.size()));
    m_operands.assign(operands.begin(), operands.end());
}

std::vector<ExpressionPtr> NonTerminal::Get() const
{
    return m_operands;
}

std::string NonTerminal::ToText() const
{
    ISTD_TRACE_FNC("std::string ireg::NonTerminal::ToText() const");
    const bool unary = GetArity().Value() == 1;
    std::string text = unary ? OpName() + " " : "(";
    for (size_t i = 0; i < m_operands.size(); ++i) {
        if (i > 0) {
            text += " " + OpName() + " ";
        }
        text += m_operands[i] ? m_operands[i]->ToText() : std::string();
    }
    if (!unary) {
        text += ")";
    }
    return text;
}

} // namespace ireg
