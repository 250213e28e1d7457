// The events feature's cost per event, from the board's event device to the per-event nodes,
// against the registry's own work for the same event, in one run:
// - events: batches of 64 events written into a simulated ".event" device, read by the event
//   stream's dispatch thread, handed to the feature's reader thread and recorded ("count" read and
//   set, "timestamp" set), until the last one reached the feature's callback;
// - baseline: the same reads and SetValue pairs on plain uint64 value nodes, on one thread.
// Both with 0 and 10 subscribers of the two nodes; with subscribers an iteration also waits until
// every notification was delivered. events / baseline time per event is the price of the stream,
// the queue and the reader.

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "iapp/features/events.h"
#include "iapp/kavrel_object.h"
#include "ireg/reg_node.h"
#include "ireg/reg_value_node.h"
#include "isig/event_stream.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "mci/notification.h"
#include "sim/devices/stream_device.h"

namespace {

constexpr int c_batch = 64; // inside the reader's queue of 128
constexpr isig::EventIdType c_id = 2;
const char* const c_device = "/dev/kavrel9.event";

class BenchRoot : public iapp::KavrelObject {
public:
    BenchRoot() : KavrelObject(*this, "bench") {}
    bool OnQueryChild(const iapp::KavrelObject&) override { return true; }
};

// Counts what arrives and wakes the waiter once the target is reached.
class Arrivals {
public:
    void Expect(uint64_t more)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_target += more;
    }
    void Add()
    {
        if (++m_count >= m_targetSeen.load()) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reached.notify_all();
        }
    }
    void Wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_targetSeen = m_target;
        m_reached.wait(lock, [this] { return m_count.load() >= m_target; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_reached;
    uint64_t m_target = 0;
    std::atomic<uint64_t> m_targetSeen{0};
    std::atomic<uint64_t> m_count{0};
};

// subscribers notification clients of both nodes, each counting what it receives.
class Subscribers {
public:
    Subscribers(int count, const std::vector<mci::TreeNodePtr>& nodes)
    {
        for (int i = 0; i < count; ++i) {
            m_clients.push_back(mci::NotificationClient::Create(
                mci::Callback(mci::CallbackId(), [this](const mci::NotificationData&) { arrivals.Add(); })));
            for (const mci::TreeNodePtr& node : nodes) {
                m_clients.back()->Register(mci::Node(node, mci::c_noRelPath));
            }
        }
    }
    ~Subscribers()
    {
        for (const mci::NotificationClientPtr& client : m_clients) {
            client->Shutdown();
        }
    }
    size_t Count() const { return m_clients.size(); }

    Arrivals arrivals;

private:
    std::vector<mci::NotificationClientPtr> m_clients;
};

void BM_EventsThroughTheDevice(benchmark::State& state)
{
    sim::EventStreamDevice device(c_device);
    isig::KavrelEventStream stream("bench.event", c_device, true, "bench");
    auto* root = new BenchRoot;
    iapp::KavrelObjectPtr handle = root->MakeRootHandle(std::default_delete<iapp::KavrelObject>());
    Arrivals recorded;
    auto* events = iapp::Create<ifeature::Events>(*root, "events", &stream,
                                                  std::vector<ifeature::Events::Description>{{c_id, "trigger"}},
                                                  [&recorded](uint64_t, uint64_t, uint64_t) { recorded.Add(); });
    mci::TreeNodePtr top = mci::factory::Create<ireg::RegNode>("registry");
    events->AddRegistry(top);
    const mci::Node node(events->GetRegistryNode(), {"trigger"});
    Subscribers subscribers(static_cast<int>(state.range(0)),
                            {node.GetNode({"count"}).GetTreeNode(), node.GetNode({"timestamp"}).GetTreeNode()});
    events->OnPostConfig();
    device.WaitForOpen();

    std::vector<isig::EventStruct> batch(c_batch);
    uint64_t timestamp = 0;
    for (auto _ : state) {
        for (isig::EventStruct& event : batch) {
            event = {c_id, 0, ++timestamp, 0};
        }
        recorded.Expect(c_batch);
        subscribers.arrivals.Expect(c_batch * 2 * subscribers.Count());
        device.WriteAtoms(batch);
        recorded.Wait();
        subscribers.arrivals.Wait();
    }
    state.SetItemsProcessed(state.iterations() * c_batch);
    events->OnShutdown();
    handle.reset();
}

void BM_BaselineSetValuePairs(benchmark::State& state)
{
    const mci::TreeNodePtr count = mci::factory::Create<ireg::RegValueNode<uint64_t>>("count", uint64_t{0}, 6);
    const mci::TreeNodePtr stamp = mci::factory::Create<ireg::RegValueNode<uint64_t>>("timestamp", uint64_t{0}, 2);
    auto& countNode = static_cast<ireg::RegNode&>(*count);
    auto& stampNode = static_cast<ireg::RegNode&>(*stamp);
    Subscribers subscribers(static_cast<int>(state.range(0)), {count, stamp});
    std::mutex lock; // the feature's lock around each event
    uint64_t timestamp = 0;
    for (auto _ : state) {
        subscribers.arrivals.Expect(c_batch * 2 * subscribers.Count());
        for (int i = 0; i < c_batch; ++i) {
            std::lock_guard<std::mutex> guard(lock);
            uint64_t value = 0;
            countNode.GetValue(value);
            countNode.SetValue<uint64_t>(value + 1);
            stampNode.SetValue<uint64_t>(++timestamp);
        }
        subscribers.arrivals.Wait();
    }
    state.SetItemsProcessed(state.iterations() * c_batch);
}

} // namespace

BENCHMARK(BM_EventsThroughTheDevice)->ArgName("subscribers")->Arg(0)->Arg(10)->UseRealTime();
BENCHMARK(BM_BaselineSetValuePairs)->ArgName("subscribers")->Arg(0)->Arg(10)->UseRealTime();

BENCHMARK_MAIN();
