#include "imath/filter.h"

#include <cstddef>
#include <limits>
#include <new>
#include <utility>

#include "imath/direct_form2.h"
#include "istd/exception.h"

namespace imath {

namespace {

uint32_t LengthOf(unsigned order)
{
    if (order >= std::numeric_limits<uint32_t>::max()) {
        throw std::bad_alloc();
    }
    return static_cast<uint32_t>(order) + 1;
}

} // namespace

Filter::Filter(unsigned order) : m_length(LengthOf(order)), m_position(0), m_tf(order), m_state(m_length, 0.0)
{
}

Filter::~Filter() = default;

namespace {

// The step for a state length n: a kernel of that size where there is one, the general loop
// otherwise.
template <size_t... N>
double StepOfLength(std::index_sequence<N...>, const double* a, const double* b, double* w, size_t n, size_t p,
                    double x)
{
    double y = 0;
    const bool fixed = ((n == N + 1 ? (y = detail::DirectForm2StepFixed<N + 1>(a, b, w, p, x), true) : false) || ...);
    return fixed ? y : detail::DirectForm2Step(a, b, w, n, p, x);
}

} // namespace

double Filter::Step(double x)
{
    omni_mutex_lock lock(m_mutex);
    const size_t n = m_length;
    const size_t p = m_position;
    const double y = StepOfLength(std::make_index_sequence<detail::c_fixedStateMax>(), m_tf.GetDenominator().data(),
                                  m_tf.GetNumerator().data(), m_state.data(), n, p, x);
    m_position = static_cast<uint32_t>(p + 1 == n ? 0 : p + 1);
    return y;
}

void Filter::SetTransferFunction(const TransferFunction& tf)
{
    if (tf.GetNumerator().size() != m_length || tf.GetDenominator().size() != m_length) {
        throw istd::Exception("Filter::SetTransferFunction: Vector size mismatch!", true);
    }
    // Normalised outside the lock and committed only when that succeeded, so that a refused
    // transfer function leaves the running coefficients as they were.
    TransferFunction normalised(tf);
    normalised.Normalize();
    omni_mutex_lock lock(m_mutex);
    m_tf = normalised;
}

TransferFunction Filter::GetTransferFunction() const
{
    omni_mutex_lock lock(m_mutex);
    return m_tf;
}

void Filter::Reset()
{
    omni_mutex_lock lock(m_mutex);
    m_position = 0;
    for (double& w : m_state) {
        w = 0.0;
    }
}

} // namespace imath
