// Cost of the math library's locking and output stages, each against a baseline in the same
// binary: the filter step against a plain, unlocked direct-form-II loop over the same
// coefficients (orders 0, 2, 8, 32); the PID step against the filter step of order 2 and
// against the same step written out by hand with the same lock; the PID step while another
// thread keeps setting gains, against the same step uncontended; poly_roots of degree 10
// against a direct EigenSolver call on the same companion matrix.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstring>
#include <cstdlib>
#include <thread>
#include <vector>

#include <Eigen/Eigenvalues>

#include "imath/direct_form2.h"
#include "imath/filter.h"
#include "imath/pid_filter.h"
#include "imath/poly.h"

namespace {

constexpr size_t c_inputs = 1024;

const std::vector<double>& Inputs()
{
    static const std::vector<double> inputs = [] {
        std::vector<double> v(c_inputs);
        std::srand(29);
        for (double& x : v) {
            x = std::rand() / 2147483647.0 - 0.5;
        }
        return v;
    }();
    return inputs;
}

// A stable filter of the order: the a[i] sum to 0.5 in magnitude, so no output grows without
// bound and none decays into subnormals.
imath::TransferFunction Coefficients(unsigned order)
{
    imath::TransferFunction tf(order);
    tf.SetNumerator(0, 1.0);
    tf.SetDenominator(0, 1.0);
    for (unsigned i = 1; i <= order; ++i) {
        tf.SetNumerator(i, 1.0 / (i + 1));
        tf.SetDenominator(i, ((i % 2) != 0 ? 0.5 : -0.5) / order);
    }
    return tf;
}

// The filter's own step kernel over the same coefficients, without the lock and the call into
// the library.
class PlainDf2 {
public:
    explicit PlainDf2(const imath::TransferFunction& tf)
        : m_b(tf.GetNumerator()), m_a(tf.GetDenominator()), m_w(m_b.size(), 0.0)
    {
    }

    double Step(double x)
    {
        const size_t n = m_w.size();
        const double y = imath::detail::DirectForm2Step(m_a.data(), m_b.data(), m_w.data(), n, m_p, x);
        m_p = m_p + 1 == n ? 0 : m_p + 1;
        return y;
    }

private:
    std::vector<double> m_b, m_a, m_w;
    size_t m_p = 0;
};

template <class System>
void Run(benchmark::State& state, System& system)
{
    const std::vector<double>& inputs = Inputs();
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(system.Step(inputs[k]));
        k = (k + 1) % c_inputs;
    }
    state.SetLabel("ns per sample");
}

void BM_PlainDf2(benchmark::State& state)
{
    PlainDf2 plain(Coefficients(static_cast<unsigned>(state.range(0))));
    Run(state, plain);
}
BENCHMARK(BM_PlainDf2)->Arg(0)->Arg(2)->Arg(8)->Arg(32);

void BM_FilterStep(benchmark::State& state)
{
    const unsigned order = static_cast<unsigned>(state.range(0));
    imath::Filter filter(order);
    filter.SetTransferFunction(Coefficients(order));
    Run(state, filter);
}
BENCHMARK(BM_FilterStep)->Arg(0)->Arg(2)->Arg(8)->Arg(32);

// Every stage of the output in use.
void Configure(imath::PIDFilter& pid)
{
    pid.SetGains(2, 5, 0.1, 4);
    pid.SetDeadZone(0.01);
    pid.SetHysteresis(0.001);
    pid.SetClip(-10, 10);
}

void BM_PidStep(benchmark::State& state)
{
    imath::PIDFilter pid(0.01);
    Configure(pid);
    Run(state, pid);
}
BENCHMARK(BM_PidStep);

// The controller's step written out by hand for order 2: the same lock around the same
// direct-form-II sums, then the same dead zone, hysteresis and limits; checked to give the
// controller's outputs to the bit before it is timed.
class HandPid {
public:
    explicit HandPid(const imath::PIDFilter& pid)
    {
        const imath::TransferFunction tf = pid.GetTransferFunction();
        for (size_t i = 0; i < 3; ++i) {
            m_b[i] = tf.GetNumerator()[i];
            m_a[i] = tf.GetDenominator()[i];
        }
        m_deadZone = pid.GetDeadZone();
        m_hysteresis = pid.GetHysteresis();
        pid.GetClip(m_low, m_high);
    }

    double Step(double x)
    {
        double y;
        {
            omni_mutex_lock lock(m_mutex);
            const size_t p = m_p;
            const size_t p1 = p >= 1 ? p - 1 : p + 2;
            const size_t p2 = p >= 2 ? p - 2 : p + 1;
            double wp = x;
            wp = wp - m_a[1] * m_w[p1];
            wp = wp - m_a[2] * m_w[p2];
            m_w[p] = wp;
            y = m_b[0] * wp;
            y = y + m_b[1] * m_w[p1];
            y = y + m_b[2] * m_w[p2];
            m_p = p == 2 ? 0 : p + 1;
        }
        if (m_deadZone > std::fabs(y)) {
            y = 0;
        }
        if (y > m_held + m_hysteresis || y < m_held - m_hysteresis) {
            m_held = y;
        }
        const double m = (m_low > m_held) ? m_low : m_held;
        return (m_high < m) ? m_high : m;
    }

private:
    double m_a[3] = {}, m_b[3] = {}, m_w[3] = {};
    size_t m_p = 0;
    double m_deadZone, m_hysteresis, m_low = 0, m_high = 0, m_held = 0;
    omni_mutex m_mutex;
};

void BM_PidHandWrittenLocked(benchmark::State& state)
{
    imath::PIDFilter pid(0.01);
    Configure(pid);
    HandPid hand(pid);
    {
        imath::PIDFilter check(0.01);
        Configure(check);
        HandPid handCheck(check);
        for (double x : Inputs()) {
            const double want = check.Step(x);
            const double got = handCheck.Step(x);
            if (std::memcmp(&want, &got, sizeof want) != 0) {
                state.SkipWithError("the hand-written step differs from the controller's");
                return;
            }
        }
    }
    Run(state, hand);
}
BENCHMARK(BM_PidHandWrittenLocked);

// The same controller while another thread sets gains as fast as it can.
void BM_PidStepWhileSettingGains(benchmark::State& state)
{
    imath::PIDFilter pid(0.01);
    Configure(pid);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> sets{0};
    std::thread setter([&] {
        for (uint64_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
            pid.SetGains(2 + (i % 2), 5, 0.1, 4);
            sets.fetch_add(1, std::memory_order_relaxed);
        }
    });
    Run(state, pid);
    stop = true;
    setter.join();
    state.counters["sets"] = benchmark::Counter(static_cast<double>(sets.load()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PidStepWhileSettingGains)->UseRealTime();

std::vector<double> Degree10()
{
    return {-0.3, 1.2, 0.7, -2.1, 0.4, 1.9, -0.8, 0.05, -1.4, 0.6};
}

void BM_PolyRoots10(benchmark::State& state)
{
    const std::vector<double> c = Degree10();
    std::vector<std::complex<double>> roots(c.size());
    for (auto _ : state) {
        imath::poly_roots(c.data(), static_cast<int>(c.size()), roots.data());
        benchmark::DoNotOptimize(roots.data());
    }
}
BENCHMARK(BM_PolyRoots10);

void BM_EigenSolverDirect10(benchmark::State& state)
{
    const std::vector<double> c = Degree10();
    const int n = static_cast<int>(c.size());
    Eigen::MatrixXd companion = Eigen::MatrixXd::Zero(n, n);
    for (int j = 0; j < n; ++j) {
        companion(0, j) = -c[j];
    }
    for (int i = 0; i + 1 < n; ++i) {
        companion(i + 1, i) = 1.0;
    }
    for (auto _ : state) {
        Eigen::EigenSolver<Eigen::MatrixXd> solver(companion, false);
        benchmark::DoNotOptimize(solver.eigenvalues().data());
    }
}
BENCHMARK(BM_EigenSolverDirect10);

} // namespace

BENCHMARK_MAIN();
