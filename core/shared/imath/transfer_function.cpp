#include "imath/transfer_function.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "istd/exception.h"

namespace imath {

namespace {

const double c_eps = std::numeric_limits<double>::epsilon();

} // namespace

TransferFunction::TransferFunction(unsigned order)
    : m_numerator(static_cast<size_t>(order) + 1, 0.0), m_denominator(static_cast<size_t>(order) + 1, 0.0)
{
}

TransferFunction::~TransferFunction() = default;

void TransferFunction::SetNumerator(unsigned index, double value)
{
    if (index >= m_numerator.size()) {
        throw istd::Exception("TransferFunction::SetNumerator: Vector size mismatch!", true);
    }
    m_numerator[index] = value;
}

void TransferFunction::SetDenominator(unsigned index, double value)
{
    if (index >= m_denominator.size()) {
        throw istd::Exception("TransferFunction::SetDenominator: Vector size mismatch!", true);
    }
    m_denominator[index] = value;
}

void TransferFunction::Normalize()
{
    const double a0 = m_denominator[0];
    // A leading coefficient that is not finite would leave a filter that treats it as 1 (NaN) or
    // turn every coefficient into 0 and a0 into NaN (infinity): refused like a zero one.
    if (!std::isfinite(a0) || std::fabs(a0) < c_eps) {
        throw istd::Exception("a(0) = 0!", true);
    }
    if (std::fabs(a0 - 1.0) <= c_eps) {
        return;
    }
    for (double& b : m_numerator) {
        b /= a0;
    }
    for (double& a : m_denominator) {
        a /= a0;
    }
}

} // namespace imath
