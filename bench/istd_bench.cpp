// Cost of tracing: a trace statement and a trace scope while tracing is off, against a loop
// that does the same work without them, and a written line for scale.

#include <benchmark/benchmark.h>

#include "istd/trace.h"

namespace {

void BM_Baseline(benchmark::State& state)
{
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(++i);
    }
}
BENCHMARK(BM_Baseline);

void BM_TraceOff(benchmark::State& state)
{
    istd::TraceFile::GetInstance().Stop();
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(++i);
        ISTD_TRACE(3, "value " << i << " of " << 1.5);
    }
}
BENCHMARK(BM_TraceOff);

void BM_TraceBelowLevel(benchmark::State& state)
{
    istd::TraceFile::Init("/dev/null", "");
    istd::TraceFile::GetInstance().Start(istd::eTraceError);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(++i);
        ISTD_TRACE(3, "value " << i << " of " << 1.5);
    }
    istd::TraceFile::GetInstance().Stop();
}
BENCHMARK(BM_TraceBelowLevel);

void BM_ScopeOff(benchmark::State& state)
{
    istd::TraceFile::GetInstance().Stop();
    int i = 0;
    for (auto _ : state) {
        ISTD_TRACE_FNC("void BM_ScopeOff()");
        benchmark::DoNotOptimize(++i);
    }
}
BENCHMARK(BM_ScopeOff);

void BM_TraceWritten(benchmark::State& state)
{
    istd::TraceFile::Init("/dev/null", "");
    istd::TraceFile::GetInstance().Start(istd::eTraceInfo);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(++i);
        ISTD_TRACE(3, "value " << i << " of " << 1.5);
    }
    istd::TraceFile::GetInstance().Stop();
}
BENCHMARK(BM_TraceWritten);

} // namespace

BENCHMARK_MAIN();
