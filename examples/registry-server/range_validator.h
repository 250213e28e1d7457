#ifndef REGSERVER_RANGE_VALIDATOR_H
#define REGSERVER_RANGE_VALIDATOR_H

// A validator that takes the values from minimum to maximum, both included; it reads
// "[minimum, maximum]" (as the refusal quotes it). Values of other types are refused by the
// base's SyntaxError.

#include <memory>
#include <string>

#include "ireg/terminal.h"

namespace regserver {

template <class T>
class RangeValidator : public ireg::Terminal {
public:
    RangeValidator(const T& minimum, const T& maximum) : Terminal("[...]"), m_minimum(minimum), m_maximum(maximum) {}

    std::string ToText() const override
    {
        return "[" + ireg::expr::ParamToString(m_minimum) + ", " + ireg::expr::ParamToString(m_maximum) + "]";
    }

    using Terminal::OnEvaluate;
    bool OnEvaluate(const T& value) const override { return m_minimum <= value && value <= m_maximum; }

private:
    const T m_minimum;
    const T m_maximum;
};

template <class T>
std::shared_ptr<ireg::Expression> Range(const T& minimum, const T& maximum)
{
    return std::make_shared<RangeValidator<T>>(minimum, maximum);
}

} // namespace regserver

#endif
