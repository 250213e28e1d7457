#ifndef IREG_VALIDATORS_H
#define IREG_VALIDATORS_H

// The two leaf validators that components attach to their nodes: a closed range of values and
// a set of allowed values, made with the factory ireg::Expr:
//
//     node = mci::factory::Create<ireg::RegValueNode<int32_t>>(
//         ireg::Expr<ireg::expr::Range<int32_t, int32_t>>(-32768, 32767), "offset", 0);
//     ireg::Expr<ireg::expr::Set<uint32_t, uint32_t>>(1, 2, 4, 8, 16, 32)
//
// A Range reads "[min, max]" and takes min <= v <= max (a minimum above the maximum refuses
// everything); a Set reads "{a,b,c}" with its members ascending and takes its members. Both test
// values of their own type T only: a value of any other type is refused with ireg::SyntaxError
// by the base. The second parameter is the type the bounds or members were written in; every
// use passes the node's value type for both.
//
// The bounds and members are converted to T by Expr (and the constructors): an integer that T
// cannot hold (a negative bound of an unsigned range, a 64-bit bound of a 32-bit one) is refused
// with ireg::SyntaxError rather than wrapped into a different validator.

#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>

#include "ireg/reg_node.h"
#include "ireg/terminal.h"

namespace ireg {

namespace expr {

namespace detail {

// True when the integer v has the same value as T.
template <class T, class A>
constexpr bool _FitsInteger(const A& v)
{
    if constexpr (std::is_signed_v<A> && std::is_unsigned_v<T>) {
        return v >= 0 && static_cast<std::make_unsigned_t<A>>(v) <= std::numeric_limits<T>::max();
    } else if constexpr (std::is_unsigned_v<A> && std::is_signed_v<T>) {
        return v <= static_cast<std::make_unsigned_t<T>>(std::numeric_limits<T>::max());
    } else {
        return v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
    }
}

// A bound or member as T; an integer that T cannot hold throws SyntaxError.
template <class T, class A>
T _Param(const std::string& opName, const A& value)
{
    using D = std::decay_t<A>;
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool> && std::is_integral_v<D> &&
                  !std::is_same_v<D, bool>) {
        if (!_FitsInteger<T>(value)) {
            throw SyntaxError(opName, "Parameter " + ParamToString(value) + " does not fit the validated type.");
        }
    }
    return static_cast<T>(value);
}

} // namespace detail

// The closed range [minimum, maximum] of T.
template <class T, class U = T>
class Range : public Terminal {
    static_assert(IsRegValueType<T>, "a validator tests one of the registry's value types");

public:
    template <class A, class B>
    Range(const A& minimum, const B& maximum)
        : Terminal("[...]"), m_minimum(detail::_Param<T>(OpName(), minimum)),
          m_maximum(detail::_Param<T>(OpName(), maximum))
    {
    }
    ~Range() override = default;

    std::string ToText() const override
    {
        return "[" + ParamToString(m_minimum) + ", " + ParamToString(m_maximum) + "]";
    }

    using Terminal::OnEvaluate;
    bool OnEvaluate(const T& value) const override { return m_minimum <= value && value <= m_maximum; }

    const T& GetMinimum() const { return m_minimum; }
    const T& GetMaximum() const { return m_maximum; }

private:
    const T m_minimum;
    const T m_maximum;
};

// The set of allowed values of T; a repeated value counts once.
template <class T, class U = T>
class Set : public Terminal {
    static_assert(IsRegValueType<T>, "a validator tests one of the registry's value types");

public:
    template <class... A>
    explicit Set(const A&... values) : Terminal("{...}")
    {
        (m_values.insert(detail::_Param<T>(OpName(), values)), ...);
    }
    ~Set() override = default;

    std::string ToText() const override
    {
        std::string text = "{";
        for (auto it = m_values.begin(); it != m_values.end(); ++it) {
            if (it != m_values.begin()) {
                text += ",";
            }
            text += ParamToString(*it);
        }
        return text + "}";
    }

    using Terminal::OnEvaluate;
    bool OnEvaluate(const T& value) const override { return m_values.count(value) != 0; }

    const std::set<T>& GetValues() const { return m_values; }

private:
    std::set<T> m_values;
};

} // namespace expr

// Makes the validator E from the arguments (a Range: minimum and maximum; a Set: its members),
// owned by a shared pointer, so that it is ready for RegNode::SetValidator and for the factory's
// validator argument.
template <class E, class... A>
std::shared_ptr<Expression> Expr(A&&... args)
{
    static_assert(std::is_base_of_v<Expression, E>, "Expr makes validator expressions");
    return std::make_shared<E>(std::forward<A>(args)...);
}

} // namespace ireg

#endif
