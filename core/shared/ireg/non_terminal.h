#ifndef IREG_NON_TERMINAL_H
#define IREG_NON_TERMINAL_H

// An expression with operands. It supplies operand handling and the text form; an operator
// derived from it evaluates its operands in its own OnEvaluate.

#include <string>
#include <vector>

#include "ireg/expression.h"
#include "ireg/ireg_export.h"

namespace ireg {

class IREG_API NonTerminal : public Expression {
public:
    NonTerminal(const std::string& opName, const Arity& arity);
    ~NonTerminal() override;

    // Appends without a check: a wrong count shows at the next evaluation.
    void Add(const ExpressionPtr& operand) override;
    void Add(ExpressionPtr&& operand) override;
    // Checks the count first, so a list of the wrong length leaves the operands as they were.
    void Set(const std::initializer_list<ExpressionPtr>& operands) override;
    void Set(std::initializer_list<ExpressionPtr>&& operands) override;
    std::vector<ExpressionPtr> Get() const override;

    // Unary: "OP P"; otherwise "(P OP Q OP R)".
    std::string ToText() const override;

private:
    std::vector<ExpressionPtr> m_operands;
};

} // namespace ireg

#endif
