// Delivery of change notifications from a registry node's set to its clients:
// - latency from the set to a live client's callback, p50 and p99, with no stalled client and
//   with 1 and 10 clients whose callbacks hang (a frozen remote peer), in one run;
// - notifications per second to 1, 10 and 100 clients, against the design this one replaced
//   (one thread that calls every client's callback in turn), fed by the same node's sets.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <any>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "ireg/reg_value_node.h"
#include "locked_handoff.h"
#include "mci/mci.h"

namespace {

using Node = ireg::RegValueNode<int64_t>;

int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::shared_ptr<Node> MakeNode()
{
    return std::static_pointer_cast<Node>(mci::factory::Create<Node>("value", int64_t(0)));
}

void WaitFor(const std::atomic<int64_t>& counter, int64_t count)
{
    while (counter.load(std::memory_order_acquire) < count) {
        std::this_thread::yield();
    }
}

// Holds the callbacks of stalled clients until the benchmark ends.
class Gate {
public:
    void Wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// The value set is the time of the set; the live client keeps how long it took to arrive.
void BM_NotificationLatency(benchmark::State& state)
{
    const int stalledCount = static_cast<int>(state.range(0));
    auto node = MakeNode();
    Gate gate;
    std::vector<mci::NotificationClientPtr> stalled;
    for (int i = 0; i < stalledCount; ++i) {
        stalled.push_back(mci::NotificationClient::Create(
            mci::Callback(mci::CallbackId(), [&gate](const mci::NotificationData&) { gate.Wait(); })));
        stalled.back()->Register(mci::Node(node, mci::c_noRelPath));
    }
    std::atomic<int64_t> received{0};
    std::vector<int64_t> delays;
    delays.reserve(static_cast<size_t>(state.max_iterations) + 64);
    auto live = mci::NotificationClient::Create(mci::Callback(mci::CallbackId(), [&](const mci::NotificationData& d) {
        delays.push_back(Now() - std::any_cast<int64_t>(d.value));
        received.fetch_add(1, std::memory_order_release);
    }));
    live->Register(mci::Node(node, mci::c_noRelPath));

    // The first changes stall every stalled client's sender; the pool has grown by them once
    // the stall time has passed. Measured is the state after that.
    for (int i = 0; i < 5; ++i) {
        node->Set(Now(), 0, mci::c_noRelPath);
        WaitFor(received, i + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    delays.clear();
    int64_t expected = received.load();
    for (auto _ : state) {
        node->Set(Now(), 0, mci::c_noRelPath);
        WaitFor(received, ++expected);
    }
    std::sort(delays.begin(), delays.end());
    state.counters["p50_us"] = static_cast<double>(delays[delays.size() / 2]) / 1000.0;
    state.counters["p99_us"] = static_cast<double>(delays[delays.size() * 99 / 100]) / 1000.0;
    state.counters["senders"] = static_cast<double>(mci::Dispatcher::GetInstance().GetSenderCount());
    live->Shutdown();
    gate.Open();
    for (auto& client : stalled) {
        client->Shutdown();
    }
}
// Few enough that the stalled clients' queues stay below their bound.
BENCHMARK(BM_NotificationLatency)->ArgName("stalled")->Arg(0)->Arg(1)->Arg(10)->Iterations(20000)->UseRealTime();

constexpr int64_t c_batch = 1000;

// What one client received, on a cache line of its own: the clients' counters do not share
// lines with each other, whichever threads run their callbacks.
struct alignas(64) Received {
    std::atomic<int64_t> count{0};
};

// A callback per client, each counting into its own slot.
std::vector<std::function<void(const mci::NotificationData&)>> Counting(std::vector<Received>& slots)
{
    std::vector<std::function<void(const mci::NotificationData&)>> callbacks;
    for (Received& slot : slots) {
        callbacks.emplace_back([&slot](const mci::NotificationData&) {
            slot.count.store(slot.count.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        });
    }
    return callbacks;
}

void WaitForAll(const std::vector<Received>& slots, int64_t count)
{
    for (const Received& slot : slots) {
        WaitFor(slot.count, count);
    }
}

// Sets of c_batch values, each batch waited for until every client has it; items are
// deliveries.
void SetInBatches(benchmark::State& state, Node& node, const std::vector<Received>& slots)
{
    int64_t sets = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < c_batch; ++i) {
            node.Set(++sets, 0, mci::c_noRelPath);
        }
        WaitForAll(slots, sets);
    }
    state.SetItemsProcessed(state.iterations() * c_batch * static_cast<int64_t>(slots.size()));
}

void BM_Throughput(benchmark::State& state)
{
    const size_t clients = static_cast<size_t>(state.range(0));
    auto node = MakeNode();
    std::vector<Received> slots(clients);
    std::vector<mci::NotificationClientPtr> subscribers;
    for (const auto& callback : Counting(slots)) {
        subscribers.push_back(mci::NotificationClient::Create(mci::Callback(mci::CallbackId(), callback)));
        subscribers.back()->Register(mci::Node(node, mci::c_noRelPath));
    }
    SetInBatches(state, *node, slots);
    state.counters["senders"] = static_cast<double>(mci::Dispatcher::GetInstance().GetSenderCount());
    for (auto& subscriber : subscribers) {
        subscriber->Shutdown();
    }
}
BENCHMARK(BM_Throughput)->ArgName("clients")->Arg(1)->Arg(10)->Arg(100)->UseRealTime();

// The design this replaced: the node's notification, with a copy of its client list, queued for
// one thread that looks every client up and calls its callback, one after the other.
class SingleThreadDelivery {
public:
    explicit SingleThreadDelivery(const std::vector<std::function<void(const mci::NotificationData&)>>& callbacks)
    {
        for (size_t i = 0; i < callbacks.size(); ++i) {
            m_ids.push_back(i);
            m_callbacks.emplace(i, callbacks[i]);
        }
    }
    void Emit(const mci::NotificationData& data) { m_handOff.Push(Item{m_ids, data}); }

private:
    struct Item {
        std::vector<uint64_t> clients;
        mci::NotificationData data;
    };
    void _Deliver(const Item& item)
    {
        std::vector<const std::function<void(const mci::NotificationData&)>*> found;
        {
            std::lock_guard<std::mutex> table(m_tableMutex);
            for (uint64_t id : item.clients) {
                found.push_back(&m_callbacks.at(id));
            }
        }
        for (const auto* callback : found) {
            (*callback)(item.data);
        }
    }

    std::vector<uint64_t> m_ids;
    std::mutex m_tableMutex;
    std::map<uint64_t, std::function<void(const mci::NotificationData&)>> m_callbacks;
    // Last: its thread ends before the table goes.
    benchsupport::LockedHandOff<Item> m_handOff{[this](const Item& item) { _Deliver(item); }};
};

// A value node that hands its notifications to the single-thread delivery instead.
class SingleThreadNode : public Node {
public:
    SingleThreadNode(const std::string& name, int64_t value) : Node(name, value) {}
    bool OnEmit(const mci::NotificationData& data) override
    {
        m_delivery->Emit(data);
        return true;
    }
    SingleThreadDelivery* m_delivery = nullptr;
};

// Baseline of BM_Throughput: the same sets and callbacks through the single-thread delivery.
void BM_ThroughputSingleThread(benchmark::State& state)
{
    const size_t clients = static_cast<size_t>(state.range(0));
    auto node = std::static_pointer_cast<SingleThreadNode>(mci::factory::Create<SingleThreadNode>("value", int64_t(0)));
    std::vector<Received> slots(clients);
    SingleThreadDelivery delivery(Counting(slots));
    node->m_delivery = &delivery;
    // Subscribed so that the node builds its notifications; the dispatcher's own queue is not
    // used (OnEmit goes to the single thread).
    auto subscribed = mci::NotificationClient::Create(mci::Callback(mci::CallbackId(), nullptr));
    subscribed->Register(mci::Node(node, mci::c_noRelPath));
    SetInBatches(state, *node, slots);
    subscribed->Shutdown();
}
BENCHMARK(BM_ThroughputSingleThread)->ArgName("clients")->Arg(1)->Arg(10)->Arg(100)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
