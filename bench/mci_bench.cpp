// The tree layer's costs against plain standard-library work of the same shape:
// - emitting a notification with 0, 1 and 10 subscribed clients, against copying the same
//   notification through a locked queue;
// - delivery throughput to one client, against a bare producer/consumer hand-off of the same
//   items to a thread;
// - child look-up by name among 10, 1 000 and 100 000 children, against a std::map look-up.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "locked_handoff.h"
#include "mci/mci.h"

namespace {

// A node that keeps its subscribers and emits the way registry nodes do.
class BenchNode : public mci::TreeNode {
public:
    explicit BenchNode(const std::string& name) : TreeNode(name, c_defaultFlags) {}

    bool OnSubscribe(const mci::ClientId& client, const mci::Path&) override
    {
        return m_clients.insert(client).second &&
               mci::Dispatcher::GetInstance().Register(client, mci::Node(shared_from_this(), mci::c_noRelPath));
    }
    bool OnUnsubscribe(const mci::ClientId& client, const mci::Path&, bool) override
    {
        return m_clients.erase(client) > 0 &&
               mci::Dispatcher::GetInstance().Unregister(client, mci::Node(shared_from_this(), mci::c_noRelPath));
    }
    bool OnEmit(const mci::NotificationData& data) override
    {
        return !m_clients.empty() && mci::Dispatcher::GetInstance().Emit(m_clients, data);
    }

private:
    std::set<mci::ClientId> m_clients;
};

// Counts deliveries so that a benchmark can wait until the dispatcher has caught up.
struct Counter {
    std::atomic<int64_t> delivered{0};

    std::shared_ptr<mci::NotificationClient> MakeClient()
    {
        return mci::NotificationClient::Create(
            mci::Callback(mci::CallbackId(), [this](const mci::NotificationData&) { ++delivered; }));
    }
    void WaitFor(int64_t count) const
    {
        while (delivered.load() < count) {
            std::this_thread::yield();
        }
    }
};

constexpr int64_t c_drainEvery = 4096;

// What the baselines move per notification: the same copies the dispatcher queues.
struct QueuedItem {
    std::vector<mci::ClientId> clients;
    mci::NotificationData data;
};

QueuedItem MakeItem(const mci::TreeNodePtr& node, const std::set<mci::ClientId>& clients, const istd::Any& value)
{
    const mci::NotificationData data(mci::Node(node, mci::c_noRelPath), mci::enums::eValueChanged, value, 0);
    return QueuedItem{std::vector<mci::ClientId>(clients.begin(), clients.end()), data};
}

// Emission as a typed set makes it, under the node lock, with the queue drained now and then
// outside the timing so that it stays short.
void BM_Emit(benchmark::State& state)
{
    const int clients = static_cast<int>(state.range(0));
    auto node = mci::factory::Create<BenchNode>("node");
    Counter counter;
    std::vector<std::shared_ptr<mci::NotificationClient>> subscribers;
    for (int i = 0; i < clients; ++i) {
        subscribers.push_back(counter.MakeClient());
        subscribers.back()->Register(mci::Node(node, mci::c_noRelPath));
    }
    const istd::Any value(int32_t(7));
    int64_t emitted = 0;
    for (auto _ : state) {
        {
            auto lock = node->Lock();
            benchmark::DoNotOptimize(node->OnEmitValue(value, 0));
        }
        if (++emitted % c_drainEvery == 0 && clients > 0) {
            state.PauseTiming();
            counter.WaitFor(emitted * clients);
            state.ResumeTiming();
        }
    }
    counter.WaitFor(clients > 0 ? emitted * clients : 0);
    for (auto& subscriber : subscribers) {
        subscriber->Shutdown();
    }
}
BENCHMARK(BM_Emit)->Arg(0)->Arg(1)->Arg(10);

// Baseline of BM_Emit: the notification and a one-client list copied into a locked queue and
// taken out again on the same thread.
void BM_EmitBaseline(benchmark::State& state)
{
    auto node = mci::factory::Create<BenchNode>("node");
    const std::set<mci::ClientId> clients{mci::ClientId()};
    const istd::Any value(int32_t(7));
    std::mutex mutex;
    std::deque<QueuedItem> queue;
    for (auto _ : state) {
        QueuedItem item = MakeItem(node, clients, value);
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(std::move(item));
        }
        std::lock_guard<std::mutex> lock(mutex);
        queue.pop_front();
    }
}
BENCHMARK(BM_EmitBaseline);

constexpr int64_t c_batch = 10000;

// Notifications per second from emission to the end of the client's callback.
void BM_DeliveryThroughput(benchmark::State& state)
{
    auto node = mci::factory::Create<BenchNode>("node");
    Counter counter;
    auto client = counter.MakeClient();
    client->Register(mci::Node(node, mci::c_noRelPath));
    const istd::Any value(int32_t(7));
    int64_t emitted = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < c_batch; ++i) {
            node->OnEmitValue(value, 0);
        }
        emitted += c_batch;
        counter.WaitFor(emitted);
    }
    client->Shutdown();
    state.SetItemsProcessed(state.iterations() * c_batch);
}
BENCHMARK(BM_DeliveryThroughput)->UseRealTime();

// Baseline of BM_DeliveryThroughput: the same items through a locked queue to a thread that
// calls a std::function for each, built like the dispatcher (benchsupport::LockedHandOff).
void BM_DeliveryBaseline(benchmark::State& state)
{
    auto node = mci::factory::Create<BenchNode>("node");
    const std::set<mci::ClientId> clients{mci::ClientId()};
    const istd::Any value(int32_t(7));
    Counter counter;
    const std::function<void(const mci::NotificationData&)> callback = [&counter](const mci::NotificationData&) {
        ++counter.delivered;
    };
    benchsupport::LockedHandOff<QueuedItem> handOff([&callback](const QueuedItem& item) { callback(item.data); });
    int64_t emitted = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < c_batch; ++i) {
            handOff.Push(MakeItem(node, clients, value));
        }
        emitted += c_batch;
        counter.WaitFor(emitted);
    }
    state.SetItemsProcessed(state.iterations() * c_batch);
}
BENCHMARK(BM_DeliveryBaseline)->UseRealTime();

std::vector<std::string> ChildNames(int64_t count)
{
    std::vector<std::string> names;
    for (int64_t i = 0; i < count; ++i) {
        names.push_back("channel_" + std::to_string(i));
    }
    return names;
}

// The names to look up, in an order that defeats the caches' luck.
std::vector<std::string> Shuffled(std::vector<std::string> names)
{
    std::shuffle(names.begin(), names.end(), std::mt19937(42));
    return names;
}

void BM_ChildLookup(benchmark::State& state)
{
    const std::vector<std::string> names = ChildNames(state.range(0));
    mci::TreeNodePtr parent = mci::factory::Create<mci::TreeNode>("parent", mci::Flags(6));
    for (const std::string& name : names) {
        parent->Add(mci::factory::Create<mci::TreeNode>(name, mci::Flags(6)));
    }
    const std::vector<std::string> probes = Shuffled(names);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parent->GetNode(probes[i], mci::c_noRelPath));
        i = i + 1 == probes.size() ? 0 : i + 1;
    }
}
BENCHMARK(BM_ChildLookup)->Arg(10)->Arg(1000)->Arg(100000);

// Baseline of BM_ChildLookup: a std::map from name to node, copying the found pointer out.
void BM_ChildLookupBaseline(benchmark::State& state)
{
    const std::vector<std::string> names = ChildNames(state.range(0));
    std::map<std::string, mci::TreeNodePtr, std::less<>> children;
    for (const std::string& name : names) {
        children.emplace(name, mci::factory::Create<mci::TreeNode>(name, mci::Flags(6)));
    }
    const std::vector<std::string> probes = Shuffled(names);
    size_t i = 0;
    for (auto _ : state) {
        mci::TreeNodePtr found = children.find(probes[i])->second;
        benchmark::DoNotOptimize(found);
        i = i + 1 == probes.size() ? 0 : i + 1;
    }
}
BENCHMARK(BM_ChildLookupBaseline)->Arg(10)->Arg(1000)->Arg(100000);

} // namespace

BENCHMARK_MAIN();
