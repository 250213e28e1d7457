#include "ireg/expression.h"

#include <ostream>

#include "istd/trace.h"

namespace ireg {

std::ostream& operator<<(std::ostream& os, const Arity& arity)
{
    const int32_t value = arity.Value();
    if (value == 2) {
        return os << "binary";
    }
    if (value > 2) {
        return os << "n-ary";
    }
    if (value == 1) {
        return os << "unary";
    }
    return os << "nullary";
}

Expression::Expression(const std::string& opName, const Arity& arity) : m_opName(opName), m_arity(arity) {}

Expression::~Expression() = default;

void Expression::Add(const ExpressionPtr&)
{
    throw SyntaxError(m_opName, "Can't add operands.");
}

void Expression::Add(ExpressionPtr&&)
{
    throw SyntaxError(m_opName, "Can't add operands.");
}

void Expression::Set(const std::initializer_list<ExpressionPtr>&)
{
    throw SyntaxError(m_opName, "Can't set operands.");
}

void Expression::Set(std::initializer_list<ExpressionPtr>&&)
{
    throw SyntaxError(m_opName, "Can't set operands.");
}

std::vector<ExpressionPtr> Expression::Get() const
{
    return std::vector<ExpressionPtr>();
}

// The type names are the ones a log reader knows from the node's value types.
bool Expression::OnEvaluate(const std::string&) const
{
    throw SyntaxError(m_opName, "Invalid type std::string in validation.");
}

bool Expression::OnEvaluate(const int64_t&) const
{
    throw SyntaxError(m_opName, "Invalid type int64_t in validation.");
}

bool Expression::OnEvaluate(const uint64_t&) const
{
    throw SyntaxError(m_opName, "Invalid type uint64_t in validation.");
}

bool Expression::OnEvaluate(const int32_t&) const
{
    throw SyntaxError(m_opName, "Invalid type int32_t in validation.");
}

bool Expression::OnEvaluate(const uint32_t&) const
{
    throw SyntaxError(m_opName, "Invalid type uint32_t in validation.");
}

bool Expression::OnEvaluate(const double&) const
{
    throw SyntaxError(m_opName, "Invalid type double in validation.");
}

bool Expression::OnEvaluate(const float&) const
{
    throw SyntaxError(m_opName, "Invalid type float in validation.");
}

bool Expression::OnEvaluate(const bool&) const
{
    throw SyntaxError(m_opName, "Invalid type bool in validation.");
}

void Expression::VerifyArity(unsigned int count) const
{
    const int32_t arity = m_arity.Value();
    if (arity == 2) {
        if (count != 2) {
            throw SyntaxError(m_opName, "expected 2 arguments.");
        }
    } else if (arity > 2) {
        if (count < 2) {
            throw SyntaxError(m_opName, "expected at least 2 arguments.");
        }
    } else if (arity == 1) {
        if (count > 1) {
            throw SyntaxError(m_opName, "too many arguments.");
        }
    } else if (count != 0) {
        throw SyntaxError(m_opName, "too many arguments.");
    }
}

template <class T>
bool DoEvaluate(const T& value, const Expression& expression)
{
    // Only the top expression's operands are counted; an operator that has operands evaluates
    // them itself in its OnEvaluate.
    expression.VerifyArity(static_cast<unsigned int>(expression.Get().size()));
    return expression.OnEvaluate(value);
}

template bool DoEvaluate<std::string>(const std::string&, const Expression&);
template bool DoEvaluate<int64_t>(const int64_t&, const Expression&);
template bool DoEvaluate<uint64_t>(const uint64_t&, const Expression&);
template bool DoEvaluate<int32_t>(const int32_t&, const Expression&);
template bool DoEvaluate<uint32_t>(const uint32_t&, const Expression&);
template bool DoEvaluate<double>(const double&, const Expression&);
template bool DoEvaluate<float>(const float&, const Expression&);
template bool DoEvaluate<bool>(const bool&, const Expression&);

#define IREG_EXPRESSION_EVALUATE(T)                    \
    bool Expression::Evaluate(const T& value) const    \
    {                                                  \
        return DoEvaluate<T>(value, *this);            \
    }

IREG_EXPRESSION_EVALUATE(std::string)
IREG_EXPRESSION_EVALUATE(int64_t)
IREG_EXPRESSION_EVALUATE(uint64_t)
IREG_EXPRESSION_EVALUATE(int32_t)
IREG_EXPRESSION_EVALUATE(uint32_t)
IREG_EXPRESSION_EVALUATE(double)
IREG_EXPRESSION_EVALUATE(float)
IREG_EXPRESSION_EVALUATE(bool)

#undef IREG_EXPRESSION_EVALUATE

Expression::operator ExpressionPtr()
{
    return shared_from_this();
}

ValidationError::ValidationError(const ExpressionPtr& validator, const std::string& value)
    : istd::Exception("Validation failed: " + (validator ? validator->ToText() : std::string()) + " for " + value,
                      true)
{
}

ValidationError::~ValidationError() = default;

SyntaxError::SyntaxError(const std::string& opName, const std::string& text)
    : istd::Exception(opName + ": " + text, true)
{
}

SyntaxError::~SyntaxError() = default;

} // namespace ireg
