#ifndef ISIG_STREAM_QUEUE_H
#define ISIG_STREAM_QUEUE_H

// A stream client's bounded queue of shared buffers: the stream pushes every dispatched buffer
// into it (Push, on the dispatching thread), the client's reader takes them out (Pop, blocking
// while the queue is empty), and a cancel ends it with a status code.
//
// Status: 0 while the queue may be read. A cancel stores its code for good: the next Pop returns
// it (and marks the queue closed), every later Pop throws "Stream queue <name> is closed.", until
// the stream adds the queue again (Reset). Only a Pop's own time-out is transient: it returns -3
// and the queue goes on.
//
// Settings, kept across Reset: the read time-out (ms, 0 = none), a filter every pushed buffer
// passes through, and the full-queue policy (0 drops the new buffer, 1 drops the oldest).
//
// Statistics count atoms: pushed (accepted after the filter, including those then dropped),
// dropped (lost to a full queue), filter-in (given to the filter), filter-out (removed by it).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "istd/assert.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "isig/buffer_queue.h"
#include "isig/signal_types.h"

namespace isig {

// Sees every buffer pushed into a queue and returns the buffer to queue: the same one, a new one,
// or none (the buffer is then filtered out). Runs on the dispatching thread under the queue's
// mutex, so it must not touch the stream or the queue.
template <class TRAITS>
class StreamFilter {
public:
    virtual MetaBufferPtr<TRAITS> Filter(const MetaBufferPtr<TRAITS>& buffer) = 0;
    virtual ~StreamFilter() = default;
};

// What a full queue does with a new buffer.
enum QueuePolicy_e : int {
    eQueueDropNewest = 0,
    eQueueDropOldest = 1,
};

template <class TRAITS>
class StreamQueue {
public:
    using Ptr = MetaBufferPtr<TRAITS>;
    using Filter = StreamFilter<TRAITS>;

    struct Counters {
        uint64_t pushed = 0;
        uint64_t dropped = 0;
        uint64_t filterIn = 0;
        uint64_t filterOut = 0;
    };

    // A queue of `length` buffers (a length of 0 holds one: a queue must take a buffer to be of
    // any use).
    StreamQueue(const TRAITS& traits, const std::string& name, unsigned length)
        : m_traits(traits), m_name(name), m_buffers(std::max(length, 1u))
    {
        ISTD_TRACE(3, m_name << ": New stream queue. Length: " << length);
    }
    StreamQueue(const StreamQueue&) = delete;
    StreamQueue& operator=(const StreamQueue&) = delete;

    const std::string& GetName() const { return m_name; }
    const TRAITS& GetTraits() const { return m_traits; }

    // Queues the buffer for the reader: true when it was queued (an empty buffer counts as
    // queued and is not stored). False when the filter removed it or the queue was full under
    // policy 0; policy 1 drops the oldest buffers to make room. A full queue with another policy
    // throws "INTERNAL ERROR: Unknown queue policy.".
    bool Push(const Ptr& buffer)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool queued = _Push(buffer);
        _WakeReader(lock, queued ? 1 : 0);
        return queued;
    }

    // Queues the buffers in order, each as Push does (the same statistics, filter and policy),
    // under one lock and with one wake-up of a waiting reader for all of them. A Push that throws
    // stops there: the buffers before it stay queued.
    void Push(const Ptr* buffers, size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        size_t queued = 0;
        try {
            for (size_t i = 0; i < count; ++i) {
                queued += _Push(buffers[i]) ? 1 : 0;
            }
        } catch (...) {
            _WakeReader(lock, queued);
            throw;
        }
        _WakeReader(lock, queued);
    }

    // Whether a Push can neither filter a buffer out nor throw for a full queue: no filter, and
    // policy 0 or 1.
    // Without the lock: a stream asks of every queue before each burst.
    bool IsPlain() const { return m_plain.load(std::memory_order_relaxed); }

    // Takes the oldest buffer into `out` (0), waiting while there is none. A cancelled queue
    // answers its status once and throws "Stream queue <name> is closed." after that; a wait
    // longer than the read time-out answers -3 and leaves the queue usable. The time-out is one
    // deadline on the steady clock, however often the wait wakes up.
    SuccessCode_e Pop(Ptr& out)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        out.reset();
        if (m_status != eSuccess) {
            if (m_closed) {
                throw istd::Exception("Stream queue " + m_name + " is closed.");
            }
            ISTD_TRACE(1, m_name << " canceled, returning " << m_status.load());
            m_closed = true;
            return m_status;
        }
        const bool limited = m_timeoutMs > 0;
        std::chrono::steady_clock::time_point deadline;
        if (limited && m_buffers.Empty()) {
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs);
        }
        while (m_buffers.Empty() && m_status == eSuccess) {
            ++m_waiters;
            const bool timedOut = limited ? m_data.wait_until(lock, deadline) == std::cv_status::timeout
                                          : (m_data.wait(lock), false);
            --m_waiters;
            m_wakeSent = false;
            if (timedOut && m_buffers.Empty() && m_status == eSuccess) {
                ISTD_TRACE(4, "Queue " << m_name << " timeout reached");
                ISTD_TRACE(3, m_name << ": Timeout reached, returning " << eTimeout);
                return eTimeout;
            }
        }
        if (m_status != eSuccess) {
            ISTD_TRACE(3, m_name << " canceled, returning " << m_status.load());
            m_closed = true;
            return m_status;
        }
        m_buffers.Pop(out);
        return eSuccess;
    }

    // Ends the queue with the code (0 is stored as -5) and wakes its readers.
    void Cancel(SuccessCode_e code)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = code == eSuccess ? eTerminated : code;
        // All of them: a queue has one reader by design, but a second one must not sleep on.
        m_data.notify_all();
    }

    // Without the lock: a reader asks before every read.
    SuccessCode_e GetStatus() const { return m_status.load(); }

    // What a stream does when it adds the queue: status 0, not closed, counters 0, no buffers.
    // False, and nothing changed, for a queue that was terminated (status -5).
    bool ResetUnlessTerminated()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_status == eTerminated) {
            return false;
        }
        m_status = eSuccess;
        m_closed = false;
        m_counters = Counters();
        m_buffers.Clear();
        return true;
    }

    Counters GetCounters() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_counters;
    }
    bool HasFilter() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<bool>(m_filter);
    }
    // Buffers waiting to be read.
    size_t GetQueued() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_buffers.Size();
    }
    bool IsClosed() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closed;
    }
    // True while a Pop waits for data.
    bool HasWaitingReader() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waiters != 0;
    }

    // Milliseconds a Pop waits for data; 0 waits without limit.
    void SetTimeout(int64_t milliseconds)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_timeoutMs = std::max<int64_t>(milliseconds, 0);
    }
    int64_t GetTimeout() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_timeoutMs;
    }
    void SetFilter(std::shared_ptr<Filter> filter)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_filter = std::move(filter);
        _UpdatePlain();
    }
    // A QueuePolicy_e; any other value makes a full queue throw.
    void SetPolicy(int policy)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_policy = policy;
        _UpdatePlain();
    }
    int GetPolicy() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_policy;
    }
    // The most buffers the queue holds (at least 1); buffers beyond it stay until read.
    void SetLength(unsigned length)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_buffers.SetCapacity(std::max(length, 1u));
    }
    unsigned GetLength() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_buffers.Capacity();
    }

private:
    // With the queue mutex held, after a change of filter or policy.
    void _UpdatePlain()
    {
        m_plain.store(!m_filter && (m_policy == eQueueDropNewest || m_policy == eQueueDropOldest),
                      std::memory_order_relaxed);
    }

    // Push with the queue mutex held, but for the wake-up.
    bool _Push(const Ptr& buffer)
    {
        const unsigned n = buffer ? buffer->data.GetLength() : 0;
        if (n == 0) {
            ISTD_TRACE(3, "Pushing empty buffer.");
            return true;
        }
        Ptr queued = buffer;
        unsigned m = n;
        if (m_filter) {
            m_counters.filterIn += n;
            queued = m_filter->Filter(buffer);
            m = queued ? queued->data.GetLength() : 0;
            if (m == 0) {
                // Wholly filtered out, whether the filter gave nothing or an empty buffer.
                m_counters.filterOut += n;
                return false;
            }
            m_counters.filterOut += n > m ? n - m : 0;
        }
        m_counters.pushed += m;
        if (m_buffers.Size() >= m_buffers.Capacity()) {
            if (m_policy == eQueueDropNewest) {
                ISTD_TRACE(3, "Stream queue " << m_name << " is full.");
                m_counters.dropped += m;
                return false;
            }
            if (m_policy != eQueueDropOldest) {
                throw istd::Exception("INTERNAL ERROR: Unknown queue policy.");
            }
            // More than one only after the queue was made shorter.
            while (!m_buffers.Empty() && m_buffers.Size() >= m_buffers.Capacity()) {
                Ptr oldest;
                m_buffers.Pop(oldest);
                m_counters.dropped += oldest->data.GetLength();
                ISTD_TRACE(3, "Stream queue " << m_name << " is full: "
                                              << "discarded old buffer.");
            }
            if (m_buffers.Size() >= m_buffers.Capacity()) {
                throw istd::Exception("isig: The queue is full.");
            }
        }
        ISTD_LOGGED_ASSERT(m_buffers.Size() <= m_buffers.Capacity());
        m_buffers.Push(std::move(queued));
        return true;
    }

    // After `queued` buffers were queued: wakes a waiting reader, once however many buffers come
    // before it runs, and outside the lock, so that it does not wake only to wait for the lock.
    // Several readers (none by design) are all woken, and sort it out among themselves.
    void _WakeReader(std::unique_lock<std::mutex>& lock, size_t queued)
    {
        if (queued == 0 || m_waiters == 0 || (m_waiters == 1 && m_wakeSent)) {
            return;
        }
        const bool one = m_waiters == 1;
        m_wakeSent = true;
        lock.unlock();
        if (one) {
            m_data.notify_one();
        } else {
            m_data.notify_all();
        }
    }

    const TRAITS m_traits;
    const std::string m_name;
    unsigned m_waiters = 0;  // Pops waiting for data
    bool m_wakeSent = false; // a waiting Pop was woken and has not run yet
    std::atomic<SuccessCode_e> m_status{eSuccess}; // written under the mutex
    bool m_closed = false;
    Counters m_counters;
    int64_t m_timeoutMs = 0;
    BufferQueue<TRAITS> m_buffers;
    std::condition_variable m_data;
    mutable std::mutex m_mutex;
    std::shared_ptr<Filter> m_filter;
    int m_policy = eQueueDropNewest;
    std::atomic<bool> m_plain{true}; // IsPlain; written under the mutex
};

} // namespace isig

#endif
