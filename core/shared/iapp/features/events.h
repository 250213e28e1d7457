#ifndef IAPP_FEATURES_EVENTS_H
#define IAPP_FEATURES_EVENTS_H

// The events of a timing board in the registry: a reader thread takes every event from the
// board's event stream, counts it and records its time stamp in the nodes of its id, and hands it
// to the board's callback.
//
//     const std::vector<ifeature::Events::Description> table = {{2, "trigger"}, {16, "sync"}};
//     iapp::Create<ifeature::Events>(board, "events", eventStream, table,
//         [](uint64_t id, uint64_t timestamp, uint64_t value) { ... });
//
// Nodes under the feature's node:
//   current_time         uint64, read-only: the board's machine time now, read from the stream
//   <name>/timestamp     uint64, read-only: time stamp of the last event of the id
//   <name>/count         uint64: events of the id seen (clients may set it, e.g. to 0)
// An event whose id has no description is dropped. Nodes are set as a client's write is: a count
// or time stamp change notifies the node's subscribers, count first.
//
// Life: the reader starts in OnPostConfig, which waits (2000 ms at most, on the steady clock)
// until the reader's client "event_client" is open and throws istd::Exception "<stream> was not
// opened in a reasonable time of 2000 ms." otherwise (at once when the reader could not open).
// OnShutdown cancels the client and joins the reader; a read failure ends the reader by itself,
// and the feature then forgets the stream. The stream must stay alive until OnShutdown returned.
//
// The callback runs on the reader thread under the feature's lock: it must not call UpdateData
// or GetLastLMT.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"
#include "isig/event_stream.h"
#include "mci/types.h"

namespace ifeature {

class IAPP_API Events : public iapp::KavrelFeature {
public:
    // One row of a board's event table.
    struct Description {
        isig::EventIdType id;
        const char* name;
    };

    // The record of one event id.
    struct Data {
        uint64_t timestamp = 0;
        uint64_t count = 0;
        mci::TreeNodePtr timestampNode;
        mci::TreeNodePtr countNode;
    };

    // (event id, time stamp, value)
    using Callback = std::function<void(uint64_t, uint64_t, uint64_t)>;

    static constexpr const char* c_clientName = "event_client";
    static constexpr const char* c_currentTimeClientName = "current_LMT_event_client";
    static constexpr unsigned c_queueSize = (isig::c_maxEventId + 1) * 2;
    static constexpr int c_openTimeoutMs = 2000;

    // The descriptions and the callback are copied; the callback may be empty. A description
    // without a name is refused with istd::Exception.
    Events(iapp::KavrelObject& parent, const std::string& name, isig::KavrelEventStream* stream,
           const std::vector<Description>& descriptions, Callback callback);
    // Joins the reader; one still running (no OnShutdown came) is cancelled first.
    ~Events() override;

    // The reader thread's body.
    void operator()();
    // Records one event.
    void UpdateData(const isig::EventStruct& event);
    // The getter of "current_time": false, lmt unchanged, when no client of the stream opens.
    bool GetCurrentLMT(uint64_t& lmt);
    // lmt := the recorded time stamp of the id; unchanged for an id without a record.
    void GetLastLMT(const isig::EventIdType& id, uint64_t& lmt);

    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    void OnPostConfig() override;
    void OnShutdown() override;

    // The stream until shutdown or the reader's end; null afterwards.
    isig::KavrelEventStream* GetStream() const { return m_stream.load(); }

private:
    // The reader after its open: how it ended.
    void _Finish(isig::KavrelEventStream::Client& client);
    // Cancels the reader's client and joins the reader.
    void _StopReader();

    // Written by the reader (set to null) and by OnShutdown on another thread.
    std::atomic<isig::KavrelEventStream*> m_stream;
    const std::string m_streamName;
    std::thread m_reader;
    std::mutex m_lock; // the records, the node updates, the callback's calls
    std::map<uint64_t, Data> m_records;
    const std::vector<Description> m_descriptions;
    const Callback m_callback;

    // The reader's progress for OnPostConfig, and the stop request of OnShutdown.
    std::mutex m_stateMutex;
    std::condition_variable m_opened;
    bool m_readerOpen = false;
    bool m_readerEnded = false;
    bool m_stopRequested = false;
};

} // namespace ifeature

#endif
