#ifndef IREG_EXPRESSION_H
#define IREG_EXPRESSION_H

// Validator expressions: the abstract expression that a registry node evaluates for every value
// written to it, its operand-count rules and the two exceptions of validation.
//
// A validator is built (operands added or set) before it is attached to a node and is never
// changed afterwards; evaluation is const, so one validator serves many nodes and threads.

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "ireg/ireg_export.h"
#include "istd/exception.h"

namespace ireg {

// How many operands an expression takes: 0 nullary, 1 unary, 2 binary, above 2 n-ary.
class IREG_API Arity {
public:
    constexpr Arity(int32_t value = 0) : m_value(value) {}
    constexpr int32_t Value() const { return m_value; }

private:
    int32_t m_value;
};

// "binary" for 2, "n-ary" above 2, "unary" for 1, "nullary" for anything else.
IREG_API std::ostream& operator<<(std::ostream& os, const Arity& arity);

class Expression;
using ExpressionPtr = std::shared_ptr<Expression>;

class IREG_API Expression : public std::enable_shared_from_this<Expression> {
public:
    Expression(const std::string& opName, const Arity& arity);
    Expression(const Expression&) = delete;
    Expression& operator=(const Expression&) = delete;

    // Operand handling; an expression without operands refuses it with SyntaxError.
    virtual void Add(const ExpressionPtr& operand);
    virtual void Add(ExpressionPtr&& operand);
    virtual void Set(const std::initializer_list<ExpressionPtr>& operands);
    virtual void Set(std::initializer_list<ExpressionPtr>&& operands);
    // A copy of the operands (none here).
    virtual std::vector<ExpressionPtr> Get() const;

    // The text that remote clients read as the node's validator and that messages quote.
    virtual std::string ToText() const = 0;

    // True when the value is acceptable. Each default refuses the type with SyntaxError
    // "Invalid type <type> in validation."; a validator overrides the types it takes.
    virtual bool OnEvaluate(const std::string& value) const;
    virtual bool OnEvaluate(const int64_t& value) const;
    virtual bool OnEvaluate(const uint64_t& value) const;
    virtual bool OnEvaluate(const int32_t& value) const;
    virtual bool OnEvaluate(const uint32_t& value) const;
    virtual bool OnEvaluate(const double& value) const;
    virtual bool OnEvaluate(const float& value) const;
    virtual bool OnEvaluate(const bool& value) const;

    virtual ~Expression();

    const std::string& OpName() const { return m_opName; }
    const Arity& GetArity() const { return m_arity; }

    // Throws SyntaxError when count operands do not fit the arity.
    void VerifyArity(unsigned int count) const;

    // The entry the registry nodes call: checks the operand count, then OnEvaluate.
    bool Evaluate(const std::string& value) const;
    bool Evaluate(const int64_t& value) const;
    bool Evaluate(const uint64_t& value) const;
    bool Evaluate(const int32_t& value) const;
    bool Evaluate(const uint32_t& value) const;
    bool Evaluate(const double& value) const;
    bool Evaluate(const float& value) const;
    bool Evaluate(const bool& value) const;
    // A text literal is a string, not a bool.
    bool Evaluate(const char* value) const { return Evaluate(std::string(value)); }

    // The owning pointer; std::bad_weak_ptr when no std::shared_ptr owns the expression.
    operator ExpressionPtr();

private:
    const std::string m_opName;
    const Arity m_arity;
};

// Evaluates the expression for the value: operand-count check, then OnEvaluate. Instantiated
// for the eight registry value types.
template <class T>
IREG_API bool DoEvaluate(const T& value, const Expression& expression);

// A validator refused a value: "Validation failed: " + validator text + " for " + value text.
class IREG_API ValidationError : public istd::Exception {
public:
    ValidationError(const ExpressionPtr& validator, const std::string& value);
    ~ValidationError() override;
};

// An expression was misused: opName + ": " + text.
class IREG_API SyntaxError : public istd::Exception {
public:
    SyntaxError(const std::string& opName, const std::string& text);
    ~SyntaxError() override;
};

} // namespace ireg

#endif
