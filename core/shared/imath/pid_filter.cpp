#include "imath/pid_filter.h"

#include <cmath>
#include <limits>

#include "istd/exception.h"

namespace imath {

PIDFilter::PIDFilter(double ts)
    : Filter(2),
      m_ts(ts),
      m_clipLow(std::numeric_limits<double>::lowest()),
      m_clipHigh(std::numeric_limits<double>::max())
{
}

PIDFilter::~PIDFilter() = default;

void PIDFilter::SetGains(double kp, double ki, double kd, double n)
{
    omni_mutex_lock lock(m_pidMutex);
    // A zero, negative or unbounded sampling period makes every coefficient infinite or NaN.
    if (!(m_ts > 0) || !std::isfinite(m_ts)) {
        throw istd::Exception("Sampling period must be positive and finite!", true);
    }
    const double ts = m_ts;
    // Kp + Ki Ts / (1 - z^-1) + (Kd / Ts) (1 - z^-1) / (1 + N - N z^-1) over the common
    // denominator; the evaluation order is fixed so that results are reproducible to the bit.
    const double g = ki * ts + kp;
    TransferFunction tf(2);
    tf.SetNumerator(0, (kd / ts + g) + g * n);
    tf.SetNumerator(1, ((-2 * kd) / ts - kp) - ((kp + kp) + ts * ki) * n);
    tf.SetNumerator(2, n * kp + kd / ts);
    tf.SetDenominator(0, 1 + n);
    tf.SetDenominator(1, -((n + n) + 1));
    tf.SetDenominator(2, n);
    // Throws "a(0) = 0!" for N = -1 before anything is stored.
    SetTransferFunction(tf);
    m_kp = kp;
    m_ki = ki;
    m_kd = kd;
    m_n = n;
}

void PIDFilter::GetGains(double& kp, double& ki, double& kd, double& n) const
{
    omni_mutex_lock lock(m_pidMutex);
    kp = m_kp;
    ki = m_ki;
    kd = m_kd;
    n = m_n;
}

void PIDFilter::SetDeadZone(double d)
{
    if (d < 0) {
        throw istd::Exception("Negative dead zone delta/threshold!", true);
    }
    // A NaN dead zone would silently switch the dead zone off.
    if (std::isnan(d)) {
        throw istd::Exception("Dead zone delta/threshold is not a number!", true);
    }
    m_deadZone = d;
}

void PIDFilter::SetHysteresis(double h)
{
    if (h < 0) {
        throw istd::Exception("Negative hysteresis delta/threshold!", true);
    }
    // With a NaN band no output ever leaves it: the controller would freeze at its held output.
    if (std::isnan(h)) {
        throw istd::Exception("Hysteresis delta/threshold is not a number!", true);
    }
    m_hysteresis = h;
}

void PIDFilter::SetClip(double low, double high)
{
    if (low > high) {
        throw istd::Exception("Clipping limits mismatch: low > high!", true);
    }
    // A NaN limit fails every comparison and would silently switch clipping off.
    if (std::isnan(low) || std::isnan(high)) {
        throw istd::Exception("Clipping limit is not a number!", true);
    }
    m_clipLow = low;
    m_clipHigh = high;
}

void PIDFilter::GetClip(double& low, double& high) const
{
    low = m_clipLow;
    high = m_clipHigh;
}

double PIDFilter::Step(double x)
{
    double y = Filter::Step(x);
    if (m_deadZone > std::fabs(y)) {
        y = 0;
    }
    if (y > m_held + m_hysteresis || y < m_held - m_hysteresis) {
        m_held = y;
    }
    const double m = (m_clipLow > m_held) ? m_clipLow : m_held;
    return (m_clipHigh < m) ? m_clipHigh : m;
}

} // namespace imath
