// Remote forwarding of the event-receiver board's trigger-code stream over omniORB on 127.0.0.1,
// against a bare CORBA operation in the same run. A child process is the server (the
// application's side): a stream of ZoltStruct atoms (16 bytes, groups of 32) over a simulated
// ".strm0" device, served as a signal node through the registry's servants; this process is the
// client, with its receivers. Every run moves 131072 atoms (4096 groups) from the child to this
// process:
// - baseline: the child calls a bare operation of this process, Take(sequence<long long>), with
//   the 64 values of each group;
// - bare Receive: the child calls the forwarding's own operation, Receive with the values in an
//   any, as a bare loop (what the operation costs beside the framework);
// - forward: the child's device delivers the atoms, its stream dispatches the groups and the
//   remote-signal servant forwards each to a receiver here (Receive with the values in an any);
// - forward, stalled beside: the same, while a second receiver of the signal, with a queue of 2,
//   never returns from its first Receive.
// Each is timed from the request to the last atom's arrival; the summary gives the medians of
// atoms, calls and bytes per second, forward against baseline (the goal: at least 0.7 of its
// bytes per second) and the fast receiver beside a stalled one against alone (about 1.0).

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "bench/isig_remote_bench.hh"
#include "bench/remote_bench.h"
#include "iapp/boards/zolt/zolt_struct.h"
#include "inet/orb_manager.h"
#include "ireg/i_remote_node_impl.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_value_node.h"
#include "ireg/signal_node.h"
#include "isig/kavrel_stream.h"
#include "mci/mci.h"
#include "sim/devices/stream_device.h"
#include "tests/support/free_port.h"

namespace {

constexpr unsigned c_group = 32;
constexpr unsigned c_groups = 4096;
constexpr unsigned c_atoms = c_group * c_groups;
constexpr size_t c_bytes = size_t{c_atoms} * sizeof(ZoltStruct);
const char c_device[] = "/dev/kavrel-remote-bench.strm0";

// ------------------------------------------------------------------------------ the child

// The server's side: the stream over its device, the signal node, "produce" (writes one run of
// atoms into the device) and "baseline" (one run of bare calls to the sink named in "sink").
class Server {
public:
    Server()
        : m_device(c_device, sizeof(ZoltStruct)),
          m_stream("bench.zolt", "bench", c_device, c_group),
          m_atoms(c_atoms)
    {
        for (unsigned i = 0; i < c_atoms; ++i) {
            m_atoms[i] = ZoltStruct{int64_t(i), int64_t(1000 + i)};
        }
        m_device.SetCapacity(4 << 20);
        m_root = mci::factory::Create<ireg::RegNode>("root");
        m_root->Add(mci::factory::Create<ireg::SignalNode>("zolt", &m_stream));
        m_root->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("sink", std::string()));
        m_root->Add(mci::factory::Create<ireg::RegExecNode>("produce", this, &Server::Produce));
        m_root->Add(mci::factory::Create<ireg::RegExecNode>("baseline", this, &Server::Baseline));
        m_root->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("receiver", std::string()));
        m_root->Add(mci::factory::Create<ireg::RegExecNode>("bare_receive", this, &Server::BareReceive));
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node(m_root, mci::c_noRelPath));
    }

    // One run into the device, in writes of 64 KiB (whole groups), as a board's driver hands
    // them on.
    bool Produce()
    {
        constexpr size_t c_chunk = 64 * 1024;
        const char* bytes = reinterpret_cast<const char*>(m_atoms.data());
        for (size_t at = 0; at < c_bytes; at += c_chunk) {
            m_device.Write(bytes + at, std::min(c_chunk, c_bytes - at));
        }
        return true;
    }

    // One run of bare calls, the same values per call as a forwarded group.
    bool Baseline()
    {
        std::string ior;
        m_root->GetNode("sink")->Get(ior, 0, mci::c_noRelPath);
        CORBA::ORB_var orb = inet::OM().GetORB();
        CORBA::Object_var object = orb->string_to_object(ior.c_str());
        benchidl::Sink_var sink = benchidl::Sink::_narrow(object);
        const auto* values = reinterpret_cast<const CORBA::LongLong*>(m_atoms.data());
        for (unsigned g = 0; g < c_groups; ++g) {
            // Borrowed, as the forwarding borrows the group's atoms.
            const benchidl::LongLongs group(2 * c_group, 2 * c_group,
                                            const_cast<CORBA::LongLong*>(values + size_t{g} * 2 * c_group), false);
            sink->Take(group);
        }
        return true;
    }

    // One run of the forwarding's own operation, Receive with the values in an any, called
    // bare: what the forwarding costs beyond its operation.
    bool BareReceive()
    {
        std::string ior;
        m_root->GetNode("receiver")->Get(ior, 0, mci::c_noRelPath);
        CORBA::ORB_var orb = inet::OM().GetORB();
        CORBA::Object_var object = orb->string_to_object(ior.c_str());
        i_NET::SignalReceiver_var receiver = i_NET::SignalReceiver::_narrow(object);
        auto* values = reinterpret_cast<CORBA::LongLong*>(m_atoms.data());
        const i_NET::SignalMeta meta;
        for (unsigned g = 0; g < c_groups; ++g) {
            CORBA::Any any;
            any <<= new i_NET::Int64Buffer(2 * c_group, 2 * c_group, values + size_t{g} * 2 * c_group, false);
            receiver->Receive(any, meta);
        }
        return true;
    }

private:
    sim::StreamDevice m_device;
    isig::KavrelStream<iboard::ZoltTraits> m_stream;
    std::vector<ZoltStruct> m_atoms;
    mci::TreeNodePtr m_root;
};

[[noreturn]] void Serve(unsigned port, int readyFd)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    static char name[] = "isig_remote_bench_server";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    inet::OrbManager::Init(argc, argv, port, 1u << 24);
    auto* server = new Server; // lives until the process ends
    (void)server;
    inet::OM().ActivatePersistent(new ireg::i_RemoteNode_impl, "Registry");
    bench::ServeOrb(readyFd);
}

// ------------------------------------------------------------------------------ this process

i_NET::RemoteNode_var g_registry;

i_NET::NodePath Path(const char* name)
{
    i_NET::NodePath path;
    path.length(1);
    path[0] = name;
    return path;
}

void Execute(const char* command)
{
    i_NET::StringBuffer execute;
    execute.length(1);
    execute[0] = "Execute";
    CORBA::Any any;
    any <<= execute;
    g_registry->SetValue(Path(command), any, 0);
}

// Counts what arrives and wakes a waiter once, when its count is reached (a wake-up per call
// would cost this process CPU time that the server's side then lacks).
class Counter {
public:
    void Add(uint64_t values)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_values += values;
        ++m_calls;
        if (m_values >= m_target) {
            m_changed.notify_all();
        }
    }
    void WaitFor(uint64_t values)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_target = values;
        m_changed.wait(lock, [&] { return m_values >= values; });
    }
    uint64_t Values()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_values = 0;
    uint64_t m_calls = 0;
    uint64_t m_target = ~uint64_t{0};
};

class Sink : public POA_benchidl::Sink {
public:
    void Take(const benchidl::LongLongs& values) override { counter.Add(values.length()); }
    Counter counter;
};

class FastReceiver : public POA_i_NET::SignalReceiver {
public:
    void Receive(const CORBA::Any& values, const i_NET::SignalMeta&) override
    {
        const i_NET::Int64Buffer* buffer = nullptr;
        counter.Add((values >>= buffer) ? buffer->length() : 0);
    }
    void Closed(CORBA::Long) override {}
    Counter counter;
};

// Stays in its first Receive until released.
class StalledReceiver : public POA_i_NET::SignalReceiver {
public:
    void Receive(const CORBA::Any&, const i_NET::SignalMeta&) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_released.wait(lock, [this] { return m_release; });
    }
    void Closed(CORBA::Long) override {}
    void Release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_release = true;
        m_released.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_release = false;
};

// Seconds per run of each benchmark, over all repetitions.
std::mutex g_samplesMutex;
std::map<std::string, std::vector<double>> g_seconds;

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// Times each run of f, which returns once the run's atoms arrived.
template <class F>
void Measure(benchmark::State& state, const std::string& name, F run)
{
    std::vector<double> seconds;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds.push_back(elapsed);
    }
    const double runs = double(state.iterations());
    state.counters["atoms/s"] = benchmark::Counter(runs * c_atoms, benchmark::Counter::kIsRate);
    state.counters["calls/s"] = benchmark::Counter(runs * c_groups, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c_bytes));
    std::lock_guard<std::mutex> lock(g_samplesMutex);
    g_seconds[name].insert(g_seconds[name].end(), seconds.begin(), seconds.end());
}

// A receiver activated here, connected to the signal with a queue of that length.
template <class R>
std::pair<R*, i_NET::SignalReceiver_var> Connect(i_NET::RemoteSignal_ptr signal, const char* name, unsigned queue)
{
    auto* receiver = new R;
    inet::OM().Activate(receiver);
    i_NET::SignalReceiver_var ref = receiver->_this();
    if (signal->Connect(ref, name, queue) != 0) {
        std::fprintf(stderr, "connection of %s refused\n", name);
        std::exit(1);
    }
    return {receiver, ref};
}

// Tells the server where the object is: the node holds its reference as text.
void Name(const char* node, CORBA::Object_ptr object)
{
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::String_var ior = orb->object_to_string(object);
    i_NET::StringBuffer text;
    text.length(1);
    text[0] = ior.in();
    CORBA::Any any;
    any <<= text;
    g_registry->SetValue(Path(node), any, 0);
}

void BM_Baseline(benchmark::State& state)
{
    auto* sink = new Sink;
    inet::OM().Activate(sink);
    benchidl::Sink_var ref = sink->_this();
    Name("sink", ref);
    uint64_t target = 0;
    Measure(state, "baseline", [&] {
        target += 2 * c_atoms;
        Execute("baseline");
        sink->counter.WaitFor(target);
    });
}

void BM_BareReceive(benchmark::State& state)
{
    auto* receiver = new FastReceiver;
    inet::OM().Activate(receiver);
    i_NET::SignalReceiver_var ref = receiver->_this();
    Name("receiver", ref);
    uint64_t target = 0;
    Measure(state, "bare Receive", [&] {
        target += 2 * c_atoms;
        Execute("bare_receive");
        receiver->counter.WaitFor(target);
    });
}

void ForwardRuns(benchmark::State& state, const std::string& name, bool stalledBeside)
{
    i_NET::RemoteSignal_var signal = g_registry->GetRemoteSignal(Path("zolt"));
    // Room for a whole run, so that the fast receiver loses nothing.
    auto [fast, fastRef] = Connect<FastReceiver>(signal, "fast", 2 * c_groups);
    std::pair<StalledReceiver*, i_NET::SignalReceiver_var> stalled{nullptr, i_NET::SignalReceiver::_nil()};
    if (stalledBeside) {
        stalled = Connect<StalledReceiver>(signal, "stalled", 2);
    }
    uint64_t target = 0;
    Measure(state, name, [&] {
        target += 2 * c_atoms;
        Execute("produce");
        fast->counter.WaitFor(target);
    });
    if (fast->counter.Values() != target) {
        state.SkipWithError("the fast receiver lost atoms");
    }
    if (stalled.first != nullptr) {
        stalled.first->Release();
        signal->Disconnect(stalled.second);
    }
    signal->Disconnect(fastRef);
}

void BM_Forward(benchmark::State& state)
{
    ForwardRuns(state, "forward", false);
}

void BM_ForwardStalledBeside(benchmark::State& state)
{
    ForwardRuns(state, "forward, stalled beside", true);
}

constexpr int64_t c_runs = 4;
BENCHMARK(BM_Baseline)->Iterations(c_runs)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareReceive)->Iterations(c_runs)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Forward)->Iterations(c_runs)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForwardStalledBeside)->Iterations(c_runs)->UseManualTime()->Unit(benchmark::kMillisecond);

void PrintSummary()
{
    std::printf("\n%-26s %12s %12s %12s %9s\n", "run (median)", "atoms/s", "calls/s", "MB/s", "ratio");
    const double baseline = Median(g_seconds["baseline"]);
    const double forward = Median(g_seconds["forward"]);
    for (const char* name : {"baseline", "bare Receive", "forward", "forward, stalled beside"}) {
        const double seconds = Median(g_seconds[name]);
        if (seconds <= 0) {
            continue;
        }
        // Forward against the baseline; beside a stalled receiver against forward alone.
        const double reference = std::string(name) == "forward, stalled beside" ? forward : baseline;
        std::printf("%-26s %12.0f %12.0f %12.1f %9.2f\n", name, c_atoms / seconds, c_groups / seconds,
                    double(c_bytes) / seconds / 1e6, reference > 0 ? reference / seconds : 0);
    }
    std::printf("ratio: bytes per second against the baseline (bare Receive, forward; goal >= 0.7) and\n"
                "against forward alone (stalled beside; goal about 1.0)\n");
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned port = testsupport::FreeLoopbackPort();
    const pid_t server = bench::ForkServer(port, &Serve);
    if (server < 0) {
        return 1;
    }
    static char name[] = "isig_remote_bench";
    static char* orbArgv[] = {name, nullptr};
    int orbArgc = 1;
    inet::OrbManager::Init(orbArgc, orbArgv, 0, 1u << 24);
    {
        CORBA::ORB_var orb = inet::OM().GetORB();
        CORBA::Object_var object =
            orb->string_to_object(("corbaloc::127.0.0.1:" + std::to_string(port) + "/Registry").c_str());
        g_registry = i_NET::RemoteNode::_narrow(object);
    }
    bench::RunInterleaved(argc, argv, 9);
    PrintSummary();

    g_registry = i_NET::RemoteNode::_nil();
    inet::OM().ORBDestroy();
    bench::StopServer(server);
    return 0;
}
