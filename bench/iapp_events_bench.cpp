// The events feature's cost per event, from the board's event device to the per-event nodes,
// against the registry's own work for the same event, in one run:
// - events: events written into a simulated ".event" device, read by the event stream's dispatch
//   thread, handed to the feature's reader thread and recorded ("count" read and set, "timestamp"
//   set) until they reached the feature's callback;
// - baseline: the same reads and SetValue pairs on plain uint64 value nodes, on one thread, under
//   a lock as the feature's.
// Both with 0 and 10 subscribers of the two nodes. An iteration is 64 events; events / baseline
// time per event is the price of the device, the stream, the queue and the reader.
//
// How the device is fed ("feed"):
//   0  a burst of 64 events in one write, then a wait until every one was recorded (and every
//      notification delivered): the round trip of a burst, three thread hand-offs per burst;
//   1  bursts of 64 in one write each, streamed: a burst is written once the events before the
//      last burst were recorded, so that the reader's queue of 128 never overflows;
//   2  one event per write, streamed the same way (128 events at most on their way), as a board
//      that signals every event on its own.
// The baseline's feed 0 waits for the notifications of each 64 pairs, feed 1 lets them lag by as
// much as the streamed events do; with 0 subscribers both are the same. allocs_per_event counts
// the whole program's allocations (device, stream, reader, registry, delivery) per event.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
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

#include "allocation_count.h"

namespace {

constexpr int c_batch = 64;
// Events on their way at most while streaming: the reader's queue holds 128.
constexpr uint64_t c_window = 2 * c_batch;
constexpr isig::EventIdType c_id = 2;
const char* const c_device = "/dev/kavrel9.event";

enum Feed : int64_t { eRoundTrip = 0, eBursts = 1, eSingles = 2 };

class BenchRoot : public iapp::KavrelObject {
public:
    BenchRoot() : KavrelObject(*this, "bench") {}
    bool OnQueryChild(const iapp::KavrelObject&) override { return true; }
};

// Counts what arrives; a waiter blocks until the count reaches its target.
class Arrivals {
public:
    void Add()
    {
        const uint64_t count = ++m_count;
        uint64_t target = m_waitFor.load();
        // Once per wait: the waiter may take a while to run, and arrivals go on meanwhile. A
        // waiter that set a new target since was counted in when it set it.
        if (count >= target && m_waitFor.compare_exchange_strong(target, UINT64_MAX)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reached.notify_all();
        }
    }
    // False when the count stays below the target for 10 s (something was lost).
    bool WaitFor(uint64_t target)
    {
        if (m_count.load() >= target) {
            return true;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_waitFor = target;
        const bool reached = m_reached.wait_for(lock, std::chrono::seconds(10), [&] { return m_count.load() >= target; });
        m_waitFor = UINT64_MAX;
        return reached;
    }
    uint64_t Count() const { return m_count.load(); }

private:
    std::mutex m_mutex;
    std::condition_variable m_reached;
    std::atomic<uint64_t> m_waitFor{UINT64_MAX};
    std::atomic<uint64_t> m_count{0};
};

// `count` notification clients of both nodes, each counting what it receives.
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
    // Notifications per event: one per node and subscriber.
    uint64_t PerEvent() const { return 2 * m_clients.size(); }

    Arrivals arrivals;

private:
    std::vector<mci::NotificationClientPtr> m_clients;
};

void ReportAllocations(benchmark::State& state, uint64_t before)
{
    const auto events = static_cast<double>(std::max<int64_t>(state.iterations(), 1) * c_batch);
    state.counters["allocs_per_event"] = static_cast<double>(bench::g_allocations - before) / events;
}

void BM_EventsThroughTheDevice(benchmark::State& state)
{
    const auto feed = static_cast<Feed>(state.range(1));
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
    uint64_t written = 0;
    // Lets `ahead` events more than recorded be on their way; false when events were lost.
    auto lag = [&](uint64_t ahead) {
        const uint64_t done = written > ahead ? written - ahead : 0;
        return recorded.WaitFor(done) && subscribers.arrivals.WaitFor(done * subscribers.PerEvent());
    };
    bool lost = false;
    const uint64_t allocations = bench::g_allocations;
    for (auto _ : state) {
        if (feed == eSingles) {
            for (int i = 0; i < c_batch && !lost; ++i) {
                // Woken once per burst's worth, not per event, when the writer is ahead.
                const uint64_t perEvent = subscribers.PerEvent();
                const uint64_t notified = perEvent == 0 ? written : subscribers.arrivals.Count() / perEvent;
                if (written >= std::min(recorded.Count(), notified) + c_window) {
                    lost = !lag(c_window - c_batch);
                }
                const isig::EventStruct event{c_id, 0, ++written, 0};
                device.Write(&event, sizeof(event));
            }
        } else {
            lost = !lag(feed == eBursts ? c_window - c_batch : 0);
            for (isig::EventStruct& event : batch) {
                event = {c_id, 0, ++written, 0};
            }
            device.WriteAtoms(batch);
            lost = lost || (feed == eRoundTrip && !lag(0));
        }
        if (lost) {
            break;
        }
    }
    lost = lost || !lag(0);
    if (lost) {
        state.SkipWithError("events were lost");
    }
    ReportAllocations(state, allocations);
    state.SetItemsProcessed(state.iterations() * c_batch);
    events->OnShutdown();
    handle.reset();
}

void BM_BaselineSetValuePairs(benchmark::State& state)
{
    const auto feed = static_cast<Feed>(state.range(1));
    const mci::TreeNodePtr count = mci::factory::Create<ireg::RegValueNode<uint64_t>>("count", uint64_t{0}, 6);
    const mci::TreeNodePtr stamp = mci::factory::Create<ireg::RegValueNode<uint64_t>>("timestamp", uint64_t{0}, 2);
    auto& countNode = static_cast<ireg::RegNode&>(*count);
    auto& stampNode = static_cast<ireg::RegNode&>(*stamp);
    Subscribers subscribers(static_cast<int>(state.range(0)), {count, stamp});
    std::mutex lock; // the feature's lock around each event
    uint64_t timestamp = 0;
    bool lost = false;
    const uint64_t allocations = bench::g_allocations;
    for (auto _ : state) {
        for (int i = 0; i < c_batch; ++i) {
            std::lock_guard<std::mutex> guard(lock);
            uint64_t value = 0;
            countNode.GetValue(value);
            countNode.SetValue<uint64_t>(value + 1);
            stampNode.SetValue<uint64_t>(++timestamp);
        }
        const uint64_t ahead = feed == eRoundTrip ? 0 : c_window;
        const uint64_t done = timestamp > ahead ? timestamp - ahead : 0;
        if (!subscribers.arrivals.WaitFor(done * subscribers.PerEvent())) {
            lost = true;
            break;
        }
    }
    if (lost || !subscribers.arrivals.WaitFor(timestamp * subscribers.PerEvent())) {
        state.SkipWithError("notifications were lost");
    }
    ReportAllocations(state, allocations);
    state.SetItemsProcessed(state.iterations() * c_batch);
}

} // namespace

BENCHMARK(BM_EventsThroughTheDevice)
    ->ArgNames({"subscribers", "feed"})
    ->ArgsProduct({{0, 10}, {eRoundTrip, eBursts, eSingles}})
    ->UseRealTime();
BENCHMARK(BM_BaselineSetValuePairs)
    ->ArgNames({"subscribers", "feed"})
    ->ArgsProduct({{0, 10}, {eRoundTrip, eBursts}})
    ->UseRealTime();

BENCHMARK_MAIN();
