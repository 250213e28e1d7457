// Remote registry access over omniORB on 127.0.0.1, against a bare CORBA round trip in the same
// run. A child process serves; this process is the client, with 1 and 8 threads:
// - echo: GetNodeCount of an i_NET::RemoteNode servant that answers 0 and does nothing else
//   (the baseline: one round trip of an operation that returns a long);
// - GetValue and SetValue of a scalar int32 node and of a 1000-element int32 array node, and
//   GetNodes of a node with 100 children, through ireg::i_RemoteNode_impl.
// Every call is timed; after the run a table gives p50 and p99 of each (all repetitions merged)
// and their ratio to the echo at the same thread count.

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "bench/remote_bench.h"
#include "inet/orb_manager.h"
#include "ireg/i_remote_node_impl.h"
#include "ireg/reg_value_node.h"
#include "mci/mci.h"
#include "tests/support/free_port.h"

namespace {

// A RemoteNode that only answers GetNodeCount, with 0.
class EchoNode : public POA_i_NET::RemoteNode {
public:
    CORBA::ULong GetNodeCount(const i_NET::NodePath&) override { return 0; }

    char* GetName(const i_NET::NodePath&) override { throw CORBA::NO_IMPLEMENT(); }
    char* GetNameByIndex(const i_NET::NodePath&, CORBA::ULong) override { throw CORBA::NO_IMPLEMENT(); }
    i_NET::NodeNames* GetNodes(const i_NET::NodePath&) override { throw CORBA::NO_IMPLEMENT(); }
    CORBA::Boolean IsLeaf(const i_NET::NodePath&) override { throw CORBA::NO_IMPLEMENT(); }
    CORBA::ULong GetSize(const i_NET::NodePath&) override { throw CORBA::NO_IMPLEMENT(); }
    CORBA::Long GetValueType(const i_NET::NodePath&) override { throw CORBA::NO_IMPLEMENT(); }
    CORBA::Any* GetValue(const i_NET::NodePath&, CORBA::ULong, CORBA::ULong, CORBA::TypeCode_ptr) override
    {
        throw CORBA::NO_IMPLEMENT();
    }
    void SetValue(const i_NET::NodePath&, const CORBA::Any&, CORBA::ULong) override { throw CORBA::NO_IMPLEMENT(); }
    CORBA::Boolean GetDomainValues(const i_NET::NodePath&, i_NET::StringVec_out) override
    {
        throw CORBA::NO_IMPLEMENT();
    }
    CORBA::Boolean GetValidatorExpression(const i_NET::NodePath&, CORBA::String_out) override
    {
        throw CORBA::NO_IMPLEMENT();
    }
    CORBA::ULongLong GetFlags(const i_NET::NodePath&) override { throw CORBA::NO_IMPLEMENT(); }
    CORBA::Boolean Subscribe(const i_NET::NodePath&) override { throw CORBA::NO_IMPLEMENT(); }
    CORBA::Boolean Unsubscribe(const i_NET::NodePath&) override { throw CORBA::NO_IMPLEMENT(); }
    void StopNotifications() override { throw CORBA::NO_IMPLEMENT(); }
    i_NET::RemoteSignal_ptr GetRemoteSignal(const i_NET::NodePath&) override { throw CORBA::NO_IMPLEMENT(); }
};

constexpr size_t c_arraySize = 1000;
constexpr size_t c_children = 100;

// The child: the registry and both servants, served until the parent goes.
[[noreturn]] void Serve(unsigned port, int readyFd)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    auto root = mci::factory::Create<ireg::RegNode>("root");
    root->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("scalar", 0));
    root->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("array", c_arraySize, 0, mci::Flags(6)));
    auto hundred = mci::factory::Create<ireg::RegNode>("hundred");
    for (size_t i = 0; i < c_children; ++i) {
        hundred->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("child" + std::to_string(i), 0));
    }
    root->Add(hundred);
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node(root, mci::c_noRelPath));

    static char name[] = "ireg_remote_bench_server";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    inet::OrbManager::Init(argc, argv, port, 1u << 24);
    inet::OM().ActivatePersistent(new EchoNode, "Echo");
    inet::OM().ActivatePersistent(new ireg::i_RemoteNode_impl, "Registry");
    bench::ServeOrb(readyFd);
}

i_NET::RemoteNode_var g_echo;
i_NET::RemoteNode_var g_registry;

i_NET::NodeNames Path(const char* name)
{
    i_NET::NodeNames path;
    if (name != nullptr) {
        path.length(1);
        path[0] = name;
    }
    return path;
}

// Call latencies of each benchmark and thread count over all repetitions, in microseconds.
std::mutex g_samplesMutex;
std::map<std::pair<std::string, int>, std::vector<double>> g_samples;

double Percentile(std::vector<double> values, double p)
{
    if (values.empty()) {
        return 0;
    }
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

// Times every call of f.
template <class F>
void Measure(benchmark::State& state, const std::string& name, F f)
{
    std::vector<double> us;
    us.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        f();
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["p50_us"] = benchmark::Counter(Percentile(us, 0.50), benchmark::Counter::kAvgThreads);
    state.counters["p99_us"] = benchmark::Counter(Percentile(us, 0.99), benchmark::Counter::kAvgThreads);
    std::lock_guard<std::mutex> lock(g_samplesMutex);
    std::vector<double>& kept = g_samples[{name, state.threads()}];
    kept.insert(kept.end(), us.begin(), us.end());
}

CORBA::Any Int32s(size_t count)
{
    i_NET::Int32Buffer values;
    values.length(static_cast<CORBA::ULong>(count));
    for (CORBA::ULong i = 0; i < values.length(); ++i) {
        values[i] = static_cast<CORBA::Long>(i);
    }
    CORBA::Any any;
    any <<= values;
    return any;
}

// A fixed count, so that every run is a measured one (no calibration runs in the samples).
constexpr int64_t c_iterations = 4000;

void BM_Echo(benchmark::State& state)
{
    const i_NET::NodeNames root = Path(nullptr);
    Measure(state, "echo", [&] { benchmark::DoNotOptimize(g_echo->GetNodeCount(root)); });
}

void BM_GetScalar(benchmark::State& state)
{
    const i_NET::NodeNames path = Path("scalar");
    Measure(state, "get scalar", [&] { CORBA::Any_var value = g_registry->GetValue(path, 0, 1, CORBA::_tc_long); });
}

void BM_SetScalar(benchmark::State& state)
{
    const i_NET::NodeNames path = Path("scalar");
    const CORBA::Any value = Int32s(1);
    Measure(state, "set scalar", [&] { g_registry->SetValue(path, value, 0); });
}

void BM_GetArray(benchmark::State& state)
{
    const i_NET::NodeNames path = Path("array");
    Measure(state, "get array 1000", [&] { CORBA::Any_var value = g_registry->GetValue(path, 0, 0, CORBA::_tc_long); });
}

void BM_SetArray(benchmark::State& state)
{
    const i_NET::NodeNames path = Path("array");
    const CORBA::Any value = Int32s(c_arraySize);
    Measure(state, "set array 1000", [&] { g_registry->SetValue(path, value, 0); });
}

void BM_GetNodes(benchmark::State& state)
{
    const i_NET::NodeNames path = Path("hundred");
    Measure(state, "GetNodes 100", [&] { i_NET::NodeNames_var names = g_registry->GetNodes(path); });
}

BENCHMARK(BM_Echo)->Threads(1)->Threads(8)->Iterations(c_iterations)->UseRealTime();
BENCHMARK(BM_GetScalar)->Threads(1)->Threads(8)->Iterations(c_iterations)->UseRealTime();
BENCHMARK(BM_SetScalar)->Threads(1)->Threads(8)->Iterations(c_iterations)->UseRealTime();
BENCHMARK(BM_GetArray)->Threads(1)->Threads(8)->Iterations(c_iterations)->UseRealTime();
BENCHMARK(BM_SetArray)->Threads(1)->Threads(8)->Iterations(c_iterations)->UseRealTime();
BENCHMARK(BM_GetNodes)->Threads(1)->Threads(8)->Iterations(c_iterations)->UseRealTime();

void PrintSummary()
{
    std::printf("\n%-16s %7s %9s %9s %10s %10s\n", "operation", "threads", "p50 us", "p99 us", "p50/echo",
                "p99/echo");
    for (const auto& [key, samples] : g_samples) {
        const auto echo = g_samples.find({"echo", key.second});
        const double p50 = Percentile(samples, 0.50);
        const double p99 = Percentile(samples, 0.99);
        const double e50 = echo == g_samples.end() ? 0 : Percentile(echo->second, 0.50);
        const double e99 = echo == g_samples.end() ? 0 : Percentile(echo->second, 0.99);
        std::printf("%-16s %7d %9.1f %9.1f %10.2f %10.2f\n", key.first.c_str(), key.second, p50, p99,
                    e50 > 0 ? p50 / e50 : 0, e99 > 0 ? p99 / e99 : 0);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // The server is forked before this process starts any thread.
    const unsigned port = testsupport::FreeLoopbackPort();
    const pid_t server = bench::ForkServer(port, &Serve);
    if (server < 0) {
        return 1;
    }

    // Enough connections for 8 threads calling at once.
    static char opt[] = "-ORBmaxGIOPConnectionPerServer";
    static char value[] = "16";
    static char name[] = "ireg_remote_bench";
    static char* orbArgv[] = {name, opt, value, nullptr};
    int orbArgc = 3;
    inet::OrbManager::Init(orbArgc, orbArgv, 0, 1u << 24);
    {
        CORBA::ORB_var orb = inet::OM().GetORB();
        const std::string base = "corbaloc::127.0.0.1:" + std::to_string(port) + "/";
        CORBA::Object_var object = orb->string_to_object((base + "Echo").c_str());
        g_echo = i_NET::RemoteNode::_narrow(object);
        object = orb->string_to_object((base + "Registry").c_str());
        g_registry = i_NET::RemoteNode::_narrow(object);
    }

    // The summary merges the repetitions.
    bench::RunInterleaved(argc, argv, 5);
    PrintSummary();

    g_echo = i_NET::RemoteNode::_nil();
    g_registry = i_NET::RemoteNode::_nil();
    inet::OM().ORBDestroy();
    bench::StopServer(server);
    return 0;
}
