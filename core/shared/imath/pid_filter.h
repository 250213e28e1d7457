#ifndef IMATH_PID_FILTER_H
#define IMATH_PID_FILTER_H

#include <omnithread.h>

#include "imath/filter.h"
#include "imath/imath_export.h"

namespace imath {

// A discrete PID controller: integrator by the backward rectangle rule, derivative through a
// first-order filter of N sampling periods, as a second-order Filter; then a dead zone, a
// hysteresis around the held output and clipping limits.
//
// SetGains may run while another thread steps the controller (lock order: the PID mutex, then
// the filter's). The output stage (dead zone, hysteresis, limits, held output) is not guarded:
// callers that change it while another thread steps must synchronise themselves.
class IMATH_API PIDFilter : public Filter {
public:
    explicit PIDFilter(double ts);
    ~PIDFilter() override;

    // Kp, Ki, Kd, N. Refuses a sampling period that is not positive and finite, and gains that
    // make the leading coefficient 1 + N zero ("a(0) = 0!"); a refused call keeps the old gains
    // and coefficients. The filter's history survives.
    void SetGains(double kp, double ki, double kd, double n);
    void GetGains(double& kp, double& ki, double& kd, double& n) const;

    // Negative values and values that are not a number are refused; the old value stays.
    void SetDeadZone(double d);
    double GetDeadZone() const { return m_deadZone; }
    void SetHysteresis(double h);
    double GetHysteresis() const { return m_hysteresis; }

    // low > high, or a limit that is not a number, is refused; both old limits stay.
    void SetClip(double low, double high);
    void GetClip(double& low, double& high) const;

    double Step(double x) override;

private:
    double m_kp = 0;
    double m_ki = 0;
    double m_kd = 0;
    double m_n = 0;
    double m_ts;
    double m_clipLow;
    double m_clipHigh;
    double m_hysteresis = 0;
    double m_deadZone = 0;
    double m_held = 0;
    mutable omni_mutex m_pidMutex;
};

} // namespace imath

#endif
