#ifndef ISIG_STREAM_CLIENT_H
#define ISIG_STREAM_CLIENT_H

// A client of a signal stream (isig::Stream): it owns one bounded queue, which the stream fills
// with every buffer it dispatches while the client is open. The client either forwards its
// buffers to a remote i_NET::SignalReceiver (ForwardTo, driven by i_RemoteSignal_impl) or is read
// locally one atom at a time (Read, on streams whose group size is 1).
//
//     isig::StreamClient<Traits> client(&stream, "monitor", 64);
//     if (client.Open() == isig::eSuccess) {
//         Traits::Atom atom;
//         while (client.Read(atom) == isig::eSuccess) { ... }
//     }
//
// Open adds the queue to the stream (resetting it), Close removes it. When the stream itself
// ends the queue (a cancel, a failed read, the shutdown), the client stays open: its next read
// returns the code, the one after throws "Stream queue <name> is closed.", and Close followed by
// Open uses it again (refused with -5 once the stream terminated it).
//
// The stream must outlive the client, unless the client is closed or its queue terminated (-5)
// before the stream goes. Open, Close and IsOpen are serialised by the client's mutex, which is
// taken before the stream's.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "istd/assert.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "isig/signal_client.h"
#include "isig/stream.h"
#include "isig/stream_queue.h"

namespace isig {

template <class STREAM_TRAITS>
class StreamClient : public SignalClientBase {
public:
    using Traits = STREAM_TRAITS;
    using Atom = typename Traits::Atom;
    using Base = typename Traits::Base;
    using Queue = StreamQueue<Traits>;
    using StreamType = Stream<Traits>;

    // A closed client with a queue of `length` buffers; the stream may be null (Open then
    // answers -5).
    StreamClient(StreamType* stream, const std::string& name, unsigned length)
        : m_stream(stream), m_traits(stream ? stream->GetTraits() : Traits()), m_queue(m_traits, name, length)
    {
    }
    ~StreamClient() override
    {
        try {
            Close();
        } catch (const std::exception& e) {
            ISTD_TRACE(1, m_queue.GetName() << ": closing failed: " << e.what());
        }
    }

    // 0 when open (also when it was already); -5 without a stream or after the stream terminated
    // the queue; else what the stream's AddQueue answers. What opening the stream's input throws
    // passes to the caller, and the client stays closed.
    SuccessCode_e Open() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_open) {
            return eSuccess;
        }
        if (m_stream == nullptr || m_queue.GetStatus() == eTerminated) {
            return eTerminated;
        }
        const SuccessCode_e result = m_stream->AddQueue(m_queue);
        m_open = result == eSuccess;
        return result;
    }

    // Opens with the queue's read time-out in ms (0: none) and, when `length` is not 0, its
    // length; the access mode makes no difference.
    SuccessCode_e Open(AccessMode_e, unsigned length, int64_t timeoutMs) override
    {
        m_queue.SetTimeout(timeoutMs);
        if (length != 0) {
            m_queue.SetLength(length);
        }
        return Open();
    }

    // Leaves the stream (which may stop dispatching, joining its thread, before Close returns).
    void Close() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_open) {
            return;
        }
        m_open = false;
        if (m_queue.GetStatus() == eTerminated) {
            return; // the stream removed it already, and may be gone
        }
        m_stream->RemoveQueue(m_queue);
    }

    bool IsOpen() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open;
    }

    std::string GetName() const override { return m_queue.GetName(); }

    // The stream's own statistics, then the filter's item (name + "_filt": atoms in, atoms
    // removed) when the queue has a filter, then the queue's (name: atoms pushed, atoms dropped).
    SignalStats GetStatistics() const override
    {
        SignalStats stats = m_stream ? m_stream->GetStatistics() : SignalStats();
        const typename Queue::Counters counters = m_queue.GetCounters();
        if (m_queue.HasFilter()) {
            stats.push_back({m_queue.GetName() + "_filt", counters.filterIn, counters.filterOut, sizeof(Atom)});
        }
        stats.push_back({m_queue.GetName(), counters.pushed, counters.dropped, sizeof(Atom)});
        return stats;
    }

    // Forwards what is queued, at least one buffer (waiting for it) and at most four, to the
    // receiver: 0 to be called again; the queue's code when it ended (-4 closed or cancelled by
    // name, -5 terminated, a failed read's code). A receiver that fails throws, and the buffer
    // taken for it is lost.
    SuccessCode_e ForwardTo(i_NET::_objref_SignalReceiver* receiver) override
    {
        if (m_stream == nullptr) {
            throw istd::Exception("isig: Stream client does't have a stream associated.");
        }
        const size_t count = std::clamp<size_t>(m_queue.GetQueued(), 1, 4);
        ISTD_TRACE(4, "Dispatching elements: " << count);
        for (size_t i = 0; i < count; ++i) {
            if (!IsOpen()) {
                return eSuccess;
            }
            typename Queue::Ptr buffer;
            const SuccessCode_e result = m_queue.Pop(buffer);
            if (result != eSuccess) {
                return result;
            }
            DoDispatch(receiver, reinterpret_cast<const Base*>(buffer->data.Data()),
                       buffer->data.GetLength() * Traits::c_length, buffer->meta);
        }
        return eSuccess;
    }

    using SignalClientBase::Read;
    // Reads one atom, waiting for it: 0; -4 when the client is not open; the queue's status when
    // the stream ended it; -3 after the queue's read time-out; -1 on a stream whose group size is
    // above 1 (nothing is read then).
    SuccessCode_e Read(Atom& atom)
    {
        // The flag without the client mutex: a Read racing an Open or a Close is as if it came
        // before or after it, and an open reader does not contend for the mutex on every atom.
        if (!m_open.load()) {
            return eCancelled;
        }
        const SuccessCode_e status = m_queue.GetStatus();
        if (status != eSuccess) {
            return status;
        }
        if (m_traits.GroupSize() > 1) {
            ISTD_TRACE(1, "stream: Can't use this function for group size: " << m_traits.GroupSize());
            return eFailure;
        }
        typename Queue::Ptr b;
        const SuccessCode_e result = m_queue.Pop(b);
        if (result == eSuccess) {
            ISTD_LOGGED_ASSERT(b->data.GetLength() == 1);
            atom = b->data[0];
        }
        return result;
    }

    // The queue, for its settings (time-out, filter, policy) and counters.
    Queue& GetQueue() { return m_queue; }
    const Queue& GetQueue() const { return m_queue; }

protected:
    StreamType* const m_stream;

private:
    const Traits m_traits;
    Queue m_queue;
    std::atomic<bool> m_open{false}; // written under the mutex
    mutable std::mutex m_mutex;
};

} // namespace isig

#endif
