#ifndef ISIG_STREAM_QUEUE_H
#define ISIG_STREAM_QUEUE_H

// A stream client's bounded queue of shared buffers: the stream pushes every dispatched buffer
// into it (PushSerialised, on the dispatching thread under the stream's mutex; nothing else may
// push into a queue in a stream), the client's reader takes them out (Pop, blocking while the
// queue is empty), and a cancel ends it with a status code.
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
//
// A stream hands a buffer to many queues, and each reader takes it out again: neither takes the
// queue's mutex while the queue is plain, has room and has the buffer. The buffers sit in a ring
// whose fill index only the pushing side writes; the read index moves under a flag held for a
// few instructions (m_taking), as a second reader or a push that drops the oldest buffer may move
// it too. Filters, full queues, cancels, waits and time-outs go through the mutex as ever.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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
class alignas(64) StreamQueue {
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
        : m_slots(m_inline), m_capacity(std::max(length, 1u)), m_handshake(&m_ownHandshake), m_traits(traits),
          m_name(name)
    {
        ISTD_TRACE(3, m_name << ": New stream queue. Length: " << length);
    }
    StreamQueue(const StreamQueue&) = delete;
    StreamQueue& operator=(const StreamQueue&) = delete;

    const std::string& GetName() const { return m_name; }
    const TRAITS& GetTraits() const { return m_traits; }

    // Pushes into a queue in a stream come from the stream alone (PushSerialised).
    //
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

    // Push and the batch Push for the one pushing side of a queue in a stream: every push into
    // the queue, and its ResetUnlessTerminated, are serialised by the caller (the stream mutex),
    // which after a round of pushes into its queues calls WakeAfterPushes on each. The outcome is
    // Push's; but a plain queue with room takes the buffers without its mutex, and a reader
    // waiting for them is woken only by WakeAfterPushes.
    bool PushSerialised(const Ptr& buffer)
    {
        const unsigned n = buffer ? buffer->data.GetLength() : 0;
        const uint64_t tail = m_tail.load(std::memory_order_relaxed);
        if (n == 0 || !IsPlain() || _Room(tail) == 0) {
            return Push(buffer);
        }
        m_slots[tail & m_mask] = buffer;
        _Publish(tail + 1, n);
        return true;
    }
    void PushSerialised(const Ptr* buffers, size_t count)
    {
        const uint64_t first = m_tail.load(std::memory_order_relaxed);
        if (!IsPlain() || _Room(first) < count) {
            Push(buffers, count);
            return;
        }
        uint64_t tail = first;
        uint64_t atoms = 0;
        for (size_t i = 0; i < count; ++i) {
            const unsigned n = buffers[i] ? buffers[i]->data.GetLength() : 0;
            if (n == 0) {
                _TraceEmpty();
            } else {
                m_slots[tail++ & m_mask] = buffers[i];
                atoms += n;
            }
        }
        if (tail != first) {
            _Publish(tail, atoms);
        }
    }

    // The stream's handshake with the readers: a pushing side that, after storing the fill
    // indices, changes it (an acquire-release read-modify-write), and a reader that changes it
    // too between announcing its wait and its last look at the fill index, cannot miss each
    // other; every change of one variable is in one order, and whichever comes second sees what
    // came before the first. One change per round of pushes serves every queue of the stream.
    using Handshake = std::atomic<uint64_t>;

    // After the handshake that followed a round of PushSerialised: wakes the reader that waits
    // for what the round queued without the mutex, as Push would have.
    void WakeAfterPushes()
    {
        if (!m_published) {
            return;
        }
        m_published = false;
        if (m_waiters.load(std::memory_order_relaxed) != 0) {
            std::unique_lock<std::mutex> lock(m_mutex);
            _WakeReader(lock, 1);
        }
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
        out.reset();
        // The common case without the mutex: a queue that may be read, with a buffer, and no
        // other taker at work.
        if (m_status.load() == eSuccess && !_Empty() && !m_taking.exchange(true, std::memory_order_acquire)) {
            const bool taken = _TakeOldestTaking(out);
            _UnlockTaking();
            if (taken) {
                return eSuccess;
            }
        }
        return _PopLocked(out);
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

    // The readers go back to the queue's own handshake: for a stream that added the queue and
    // then failed to start, and may go before the queue.
    void LeaveHandshake()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handshake = &m_ownHandshake;
    }

    // What a stream does when it adds the queue: status 0, not closed, counters 0, no buffers.
    // False, and nothing changed, for a queue that was terminated (status -5). The stream's
    // handshake (none: the queue's own) serves the queue's readers until the next reset.
    bool ResetUnlessTerminated(Handshake* handshake = nullptr)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_status == eTerminated) {
            return false;
        }
        m_handshake = handshake != nullptr ? handshake : &m_ownHandshake;
        m_status = eSuccess;
        m_closed = false;
        m_counters = Counters();
        m_pushed.store(0, std::memory_order_relaxed);
        _Clear();
        return true;
    }

    Counters GetCounters() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Counters counters = m_counters;
        counters.pushed = m_pushed.load(std::memory_order_relaxed);
        return counters;
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
        return _Size();
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
        return m_waiters.load(std::memory_order_relaxed) != 0;
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
        m_capacity.store(std::max(length, 1u), std::memory_order_relaxed);
    }
    unsigned GetLength() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_capacity.load(std::memory_order_relaxed);
    }

private:
    static constexpr uint64_t c_inlineSlots = 4;

    // Pop under the mutex: a cancelled queue, a wait, or a race with another taker.
    SuccessCode_e _PopLocked(Ptr& out)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
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
        bool deadlineSet = false;
        // Round again only when a second reader took the buffer first.
        for (;;) {
            while (_Empty() && m_status == eSuccess) {
                if (limited && !deadlineSet) {
                    deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs);
                    deadlineSet = true;
                }
                // The wait is announced before the last look at the fill index, with the
                // handshake between them: either this look sees a buffer pushed without the
                // mutex, or that push's WakeAfterPushes sees the waiter and wakes it under the
                // mutex, which this Pop holds until it sleeps.
                m_waiters.store(m_waiters.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
                m_handshake->fetch_add(1, std::memory_order_acq_rel);
                bool timedOut = false;
                if (_Empty()) {
                    timedOut = limited ? m_data.wait_until(lock, deadline) == std::cv_status::timeout
                                       : (m_data.wait(lock), false);
                }
                m_waiters.store(m_waiters.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
                m_wakeSent = false;
                if (timedOut && _Empty() && m_status == eSuccess) {
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
            if (_TakeOldest(out)) {
                return eSuccess;
            }
        }
    }

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
            _TraceEmpty();
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
        m_pushed.store(m_pushed.load(std::memory_order_relaxed) + m, std::memory_order_relaxed);
        const unsigned capacity = m_capacity.load(std::memory_order_relaxed);
        if (_Size() >= capacity) {
            if (m_policy == eQueueDropNewest) {
                ISTD_TRACE(3, "Stream queue " << m_name << " is full.");
                m_counters.dropped += m;
                return false;
            }
            if (m_policy != eQueueDropOldest) {
                throw istd::Exception("INTERNAL ERROR: Unknown queue policy.");
            }
            // More than one only after the queue was made shorter.
            Ptr oldest;
            while (_Size() >= capacity && _TakeOldest(oldest)) {
                m_counters.dropped += oldest->data.GetLength();
                oldest.reset();
                ISTD_TRACE(3, "Stream queue " << m_name << " is full: "
                                              << "discarded old buffer.");
            }
            if (_Size() >= capacity) {
                throw istd::Exception("isig: The queue is full.");
            }
        }
        ISTD_LOGGED_ASSERT(_Size() <= capacity);
        const uint64_t tail = m_tail.load(std::memory_order_relaxed);
        if (_Size() == m_mask + 1) {
            _Grow();
        }
        m_slots[tail & m_mask] = std::move(queued);
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    static void _TraceEmpty() { ISTD_TRACE(3, "Pushing empty buffer."); }

    // The ring. Its indices only grow; a slot holds a buffer from its push to its pop and is
    // empty otherwise, so the ring holds on to nothing it gave out.
    // Buffers queued; with the mutex held or on the pushing side.
    size_t _Size() const
    {
        return static_cast<size_t>(m_tail.load(std::memory_order_acquire) - m_head.load(std::memory_order_acquire));
    }
    bool _Empty() const { return _Size() == 0; }

    // On the pushing side: how many buffers a push may add without the mutex, none when a full
    // queue's policy must decide or the ring must grow. The read index is acquired, so that the
    // slots a reader emptied are seen empty.
    size_t _Room(uint64_t tail) const
    {
        const size_t size = static_cast<size_t>(tail - m_head.load(std::memory_order_acquire));
        const size_t limit = std::min<size_t>(m_capacity.load(std::memory_order_relaxed), m_mask + 1);
        return size < limit ? limit - size : 0;
    }

    // On the pushing side, after the slots up to `tail` were filled with `atoms` atoms: the count
    // first, so that a reader who takes the buffers sees it.
    void _Publish(uint64_t tail, uint64_t atoms)
    {
        m_pushed.store(m_pushed.load(std::memory_order_relaxed) + atoms, std::memory_order_relaxed);
        m_tail.store(tail, std::memory_order_release);
        m_published = true;
    }

    // The read index moves, and the slots are replaced, only under m_taking: a reader takes a
    // buffer without the mutex, and a second reader, a push that drops the oldest buffer or a
    // reset may come at the same time. Each holds it for a few instructions; a buffer that goes
    // is let go of after it, since that may return memory to its pool.
    void _LockTaking()
    {
        while (m_taking.exchange(true, std::memory_order_acquire)) {
            std::this_thread::yield();
        }
    }
    void _UnlockTaking() { m_taking.store(false, std::memory_order_release); }

    // The oldest buffer into `out`, waiting for another taker; false when there is none.
    bool _TakeOldest(Ptr& out)
    {
        if (_Empty()) {
            return false;
        }
        _LockTaking();
        const bool taken = _TakeOldestTaking(out);
        _UnlockTaking();
        return taken;
    }
    // The same under m_taking.
    bool _TakeOldestTaking(Ptr& out)
    {
        const uint64_t head = m_head.load(std::memory_order_relaxed);
        if (head == m_tail.load(std::memory_order_acquire)) {
            return false;
        }
        out = std::move(m_slots[head & m_mask]);
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }

    // With the mutex held, on the pushing side.
    void _Clear()
    {
        for (Ptr buffer; _TakeOldest(buffer);) {
            buffer.reset();
        }
    }

    // With the mutex held, on the pushing side, with every slot in use: twice the slots (at
    // least 8), as many as the capacity needs at most, but always one more; a power of two, so
    // that an index finds its slot with a mask. The buffers keep their indices. The slots given
    // up are empty then, and the inline ones are not used again.
    void _Grow()
    {
        const size_t size = _Size();
        const size_t want = std::max(std::min<size_t>(m_capacity.load(std::memory_order_relaxed),
                                                      std::max<size_t>(2 * (m_mask + 1), 8)),
                                     size + 1);
        size_t slots = 1;
        while (slots < want) {
            slots *= 2;
        }
        std::unique_ptr<Ptr[]> ring(new Ptr[slots]);
        _LockTaking();
        const uint64_t head = m_head.load(std::memory_order_relaxed);
        for (uint64_t i = head; i != m_tail.load(std::memory_order_relaxed); ++i) {
            ring[i & (slots - 1)] = std::move(m_slots[i & m_mask]);
        }
        std::swap(m_heap, ring);
        m_slots = m_heap.get();
        m_mask = slots - 1;
        _UnlockTaking();
    }

    // After `queued` buffers were queued: wakes a waiting reader, once however many buffers come
    // before it runs, and outside the lock, so that it does not wake only to wait for the lock.
    // Several readers (none by design) are all woken, and sort it out among themselves.
    void _WakeReader(std::unique_lock<std::mutex>& lock, size_t queued)
    {
        const unsigned waiters = m_waiters.load(std::memory_order_relaxed);
        if (queued == 0 || waiters == 0 || (waiters == 1 && m_wakeSent)) {
            return;
        }
        const bool one = waiters == 1;
        m_wakeSent = true;
        lock.unlock();
        if (one) {
            m_data.notify_one();
        } else {
            m_data.notify_all();
        }
    }

    // What a push and a pop touch comes first, on one line of cache, and the first slots on the
    // next, which serve a queue that seldom holds more than four buffers: a stream walks its
    // queues one after the other, and with many clients they are seldom in the cache.
    std::atomic<uint64_t> m_head{0}; // the oldest buffer's slot; written under m_taking
    std::atomic<uint64_t> m_tail{0}; // the next slot to fill; written on the pushing side
    Ptr* m_slots;                    // m_inline or m_heap; replaced on the pushing side under m_taking
    uint64_t m_mask = c_inlineSlots - 1;
    std::atomic<uint64_t> m_pushed{0};             // the counter, written on the pushing side
    std::atomic<unsigned> m_capacity;              // the length; written under the mutex
    std::atomic<unsigned> m_waiters{0};            // Pops waiting for data; written under the mutex
    std::atomic<SuccessCode_e> m_status{eSuccess}; // written under the mutex
    std::atomic<bool> m_taking{false};             // see _LockTaking
    std::atomic<bool> m_plain{true};               // IsPlain; written under the mutex
    bool m_published = false; // on the pushing side: queued without the mutex, no wake-up yet
    alignas(64) Ptr m_inline[c_inlineSlots];
    std::unique_ptr<Ptr[]> m_heap;
    mutable std::mutex m_mutex;
    bool m_wakeSent = false; // a waiting Pop was woken and has not run yet
    bool m_closed = false;
    int64_t m_timeoutMs = 0;
    Handshake* m_handshake; // written under the mutex
    Handshake m_ownHandshake{0};
    Counters m_counters; // but for pushed
    const TRAITS m_traits;
    const std::string m_name;
    std::condition_variable m_data;
    std::shared_ptr<Filter> m_filter;
    int m_policy = eQueueDropNewest;
};

} // namespace isig

#endif
