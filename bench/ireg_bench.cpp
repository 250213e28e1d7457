// The registry node's typed access against a plain variable guarded by a std::mutex:
// - scalar set and get on a value node without validator, with a range validator, and with
//   0, 1 and 10 subscribed clients (the notification queue is drained now and then outside
//   the timing); the set with clients also against a locked-queue hand-off of the same value
//   to a thread that runs the clients' callbacks, built like the dispatcher (the whole queue
//   taken at once, a wake-up only when it was empty);
// - scalar set and get on a reference node over a plain variable;
// - vector get and set of 1, 64 and 4096 elements, against a std::vector guarded the same way.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ireg/reg_reference_node.h"
#include "locked_handoff.h"
#include "ireg/reg_value_node.h"
#include "ireg/terminal.h"
#include "mci/mci.h"

namespace {

// The shape of the range validators that components attach.
class Range : public ireg::Terminal {
public:
    Range(int32_t low, int32_t high) : Terminal("range"), m_low(low), m_high(high) {}
    using Terminal::OnEvaluate;
    bool OnEvaluate(const int32_t& value) const override { return value >= m_low && value <= m_high; }
    std::string ToText() const override
    {
        return "[" + ireg::expr::ParamToString(m_low) + ", " + ireg::expr::ParamToString(m_high) + "]";
    }

private:
    int32_t m_low;
    int32_t m_high;
};

using IntNode = ireg::RegValueNode<int32_t>;

std::shared_ptr<ireg::RegNode> MakeNode(size_t size)
{
    return std::static_pointer_cast<ireg::RegNode>(
        size == 1 ? mci::factory::Create<IntNode>("n", 0) : mci::factory::Create<IntNode>("n", size, 0, mci::Flags(6)));
}

struct Counter {
    std::atomic<int64_t> delivered{0};
    void WaitFor(int64_t count) const
    {
        while (delivered.load() < count) {
            std::this_thread::yield();
        }
    }
};

constexpr int64_t c_drainEvery = 4096;

// The C library locks a mutex without atomic operations for as long as the process has never had
// a second thread; a registry always has. Started before any benchmark, so that the baselines
// lock the way the nodes do (whichever benchmark first starts a thread).
const bool g_threaded = [] {
    std::thread([] {}).join();
    return true;
}();

// ---- baselines ----

void BM_MutexScalarSet(benchmark::State& state)
{
    std::mutex mutex;
    int32_t stored = 0;
    int32_t value = 0;
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(mutex);
        stored = ++value & 0xFFFF;
        benchmark::DoNotOptimize(stored);
    }
}
BENCHMARK(BM_MutexScalarSet);

void BM_MutexScalarGet(benchmark::State& state)
{
    std::mutex mutex;
    int32_t stored = 7;
    for (auto _ : state) {
        int32_t out;
        {
            std::lock_guard<std::mutex> lock(mutex);
            out = stored;
        }
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_MutexScalarGet);

void BM_MutexVectorSet(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    std::mutex mutex;
    std::vector<int32_t> stored(n);
    const std::vector<int32_t> values(n, 3);
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(mutex);
        std::copy(values.begin(), values.end(), stored.begin());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MutexVectorSet)->Arg(1)->Arg(64)->Arg(4096);

void BM_MutexVectorGet(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    std::mutex mutex;
    const std::vector<int32_t> stored(n, 3);
    std::vector<int32_t> out;
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(mutex);
        out.resize(n);
        std::copy(stored.begin(), stored.end(), out.begin());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_MutexVectorGet)->Arg(1)->Arg(64)->Arg(4096);

// Baseline of BM_ScalarSetSubscribed: the value handed to a thread through a locked queue,
// which calls one function per client for each value; drained like the node's sets.
void BM_HandOffBaseline(benchmark::State& state)
{
    const int clients = static_cast<int>(state.range(0));
    Counter counter;
    const std::vector<std::function<void(int32_t)>> callbacks(static_cast<size_t>(clients),
                                                              [&counter](int32_t) { ++counter.delivered; });
    int64_t sets = 0;
    {
        benchsupport::LockedHandOff<int32_t> handOff([&callbacks](const int32_t& value) {
            for (const auto& callback : callbacks) {
                callback(value);
            }
        });
        int32_t value = 0;
        for (auto _ : state) {
            handOff.Push(++value & 0xFFFF);
            if (++sets % c_drainEvery == 0) {
                state.PauseTiming();
                counter.WaitFor(sets * clients);
                state.ResumeTiming();
            }
        }
        counter.WaitFor(sets * clients);
    }
}
BENCHMARK(BM_HandOffBaseline)->ArgName("clients")->Arg(1)->Arg(10);

// ---- registry nodes ----

// Arg 0: no validator; 1: a range validator.
void BM_ScalarSet(benchmark::State& state)
{
    auto node = MakeNode(1);
    if (state.range(0) == 1) {
        node->SetValidator(std::make_shared<Range>(0, 0xFFFF));
    }
    int32_t value = 0;
    for (auto _ : state) {
        node->Set(++value & 0xFFFF, 0, mci::c_noRelPath);
    }
}
BENCHMARK(BM_ScalarSet)->ArgName("validator")->Arg(0)->Arg(1);

void BM_ScalarGet(benchmark::State& state)
{
    auto node = MakeNode(1);
    for (auto _ : state) {
        int32_t out;
        node->Get(out, 0, mci::c_noRelPath);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_ScalarGet);

void BM_ReferenceSet(benchmark::State& state)
{
    int32_t referent = 0;
    auto node = mci::factory::Create<ireg::RegReferenceNode<int32_t>>("r", referent);
    int32_t value = 0;
    for (auto _ : state) {
        node->Set(++value & 0xFFFF, 0, mci::c_noRelPath);
    }
    benchmark::DoNotOptimize(referent);
}
BENCHMARK(BM_ReferenceSet);

void BM_ReferenceGet(benchmark::State& state)
{
    int32_t referent = 7;
    auto node = mci::factory::Create<ireg::RegReferenceNode<int32_t>>("r", referent);
    for (auto _ : state) {
        int32_t out;
        node->Get(out, 0, mci::c_noRelPath);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_ReferenceGet);

// A set with 0, 1 and 10 clients subscribed: the set includes handing the notification to the
// dispatcher; delivery happens on the dispatcher's thread.
void BM_ScalarSetSubscribed(benchmark::State& state)
{
    const int clients = static_cast<int>(state.range(0));
    auto node = MakeNode(1);
    Counter counter;
    std::vector<mci::NotificationClientPtr> subscribers;
    for (int i = 0; i < clients; ++i) {
        subscribers.push_back(mci::NotificationClient::Create(
            mci::Callback(mci::CallbackId(), [&counter](const mci::NotificationData&) { ++counter.delivered; })));
        subscribers.back()->Register(mci::Node(node, mci::c_noRelPath));
    }
    int32_t value = 0;
    int64_t sets = 0;
    for (auto _ : state) {
        node->Set(++value & 0xFFFF, 0, mci::c_noRelPath);
        if (++sets % c_drainEvery == 0 && clients > 0) {
            state.PauseTiming();
            counter.WaitFor(sets * clients);
            state.ResumeTiming();
        }
    }
    counter.WaitFor(sets * clients);
    for (auto& subscriber : subscribers) {
        subscriber->Shutdown();
    }
}
BENCHMARK(BM_ScalarSetSubscribed)->ArgName("clients")->Arg(0)->Arg(1)->Arg(10);

void BM_VectorSet(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    auto node = MakeNode(n);
    const std::vector<int32_t> values(n, 3);
    for (auto _ : state) {
        node->Set(values, 0, mci::c_noRelPath);
    }
}
BENCHMARK(BM_VectorSet)->Arg(1)->Arg(64)->Arg(4096);

void BM_VectorGet(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    auto node = MakeNode(n);
    std::vector<int32_t> out;
    for (auto _ : state) {
        node->Get(out, 0, 0, mci::c_noRelPath);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_VectorGet)->Arg(1)->Arg(64)->Arg(4096);

} // namespace

BENCHMARK_MAIN();
