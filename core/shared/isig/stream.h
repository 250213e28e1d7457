#ifndef ISIG_STREAM_H
#define ISIG_STREAM_H

// A signal stream: a source of fixed-size atoms that one producer fills and any number of
// clients consume, each at its own pace through a bounded queue of its own.
//
// The stream reads its input in groups of atoms on a dispatch thread (or is fed by a producer
// through Dispatch) and hands each group, as one shared read-only buffer, to the queue of every
// client: a group is never copied per client (a burst read at once is copied out group by group
// into buffers of their own, once for all clients). It starts and stops dispatching with its
// clients:
//
//   mode                first client          last client leaves     Cancel(code)
//   eDispatchPassive    input opened, no      input closed           clients removed,
//                       thread (state 2)                             dispatching goes on
//   eDispatchOnDemand   input opened, thread  input closed, thread   clients removed, stops
//                       started               joined
//   eDispatchContinuous refused with -6 until still dispatching      stops only for -5
//                       Start()
//
// States: 0 idle, 1 starting, 2 running, 3 stopping, 4 shut down (final). A client added while
// the stream starts or stops waits for that to finish; after ShutDown every client reads -5 and
// new ones are refused with -5.
//
// A derived class supplies the input (isig::KavrelStream reads a device file):
//   OpenInput       opens it; called under the stream mutex by the first client's Open (an
//                   exception leaves that Open, and the client stays closed);
//   ReadInput       fills the array, which arrives with the group size as its length, and sets
//                   the length to the whole atoms it delivered, whatever it returns; 0 or -2
//                   (no or incomplete data) go on, any other code ends dispatching and is handed
//                   to every client; an exception counts as -1;
//   InputGroups     how many groups one ReadInput may deliver (1 unless overridden): the array
//                   then arrives that many groups long, and each group it delivers is handed to
//                   the clients as a buffer of its own;
//   InterruptInput  makes a ReadInput blocked on another thread return soon (with -2), and
//                   every later one too, until the input is closed; a stop calls it before it
//                   joins the dispatch thread;
//   CloseInput      closes it, once no ReadInput runs; may be called when it is closed.
// OpenInput and CloseInput (and InterruptInput) are serialised by the stream's input mutex,
// which the derived class may take around its own use of the input (InputMutex()). A derived
// destructor calls ShutDown() first, so that its own CloseInput still runs.
//
// Lock order: a client's mutex, the stream mutex, a queue's mutex, the input mutex; the state
// mutex is innermost and held only to read or write the state.
//
// Atoms name their components through AtomNames:
//
//     struct ZoltStruct { int64_t zolt_code; int64_t timestamp; };
//     template <> struct isig::AtomNames<ZoltStruct> {
//         static constexpr std::array<const char*, 2> names{"zolt_code", "timestamp"};
//     };
//     using ZoltTraits = isig::SignalTraits<int64_t, ZoltStruct, 1u>;

#include <algorithm>
#include <array>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "istd/assert.h"
#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "isig/buffer_queue.h"
#include "isig/signal_client.h"
#include "isig/signal_dispatch.h"
#include "isig/signal_source.h"
#include "isig/signal_types.h"
#include "isig/stream_queue.h"

namespace isig {

// The names of an atom's components, in order: specialise it for every atom type with
// `static constexpr std::array<const char*, N> names{...};`, N being the base values per atom.
template <class ATOM>
struct AtomNames;

// The types of a stream: BASE is the type of one component (one of the ten base types of
// SignalDispatchBase), ATOM the atom, a whole number of BASE values; COUNT is 1. An object
// carries the group size: the atoms one read and one dispatch handle.
template <class BASE, class ATOM, unsigned COUNT = 1u>
class SignalTraits {
public:
    using Base = BASE;
    using Atom = ATOM;
    static_assert(COUNT == 1u, "an atom is one ATOM");
    static_assert(std::is_arithmetic_v<BASE>, "components are numbers");
    static_assert(sizeof(ATOM) % sizeof(BASE) == 0, "an atom is a whole number of base values");
    // Base values per atom.
    static constexpr unsigned c_length = sizeof(ATOM) / sizeof(BASE);
    static constexpr const auto& names = AtomNames<ATOM>::names;
    static_assert(std::size(AtomNames<ATOM>::names) == c_length, "one name per base value of the atom");

    explicit SignalTraits(unsigned groupSize = 1) : m_groupSize(groupSize) {}
    unsigned GroupSize() const { return m_groupSize; }

private:
    unsigned m_groupSize;
};

enum DispatchMode_e : int {
    eDispatchPassive = 0,
    eDispatchOnDemand = 1,
    eDispatchContinuous = 2,
};

template <class STREAM_TRAITS>
class StreamClient;

template <class STREAM_TRAITS>
class Stream : public SignalSource, public SignalDispatchBase {
public:
    using Traits = STREAM_TRAITS;
    using Atom = typename Traits::Atom;
    using Base = typename Traits::Base;
    using ArrayType = Array<Traits>;
    using Buffer = typename MetaBufferPair<Traits>::Buffer;
    using Queue = StreamQueue<Traits>;
    using Client = StreamClient<Traits>;

    Stream(const std::string& name, const std::string& owner, const Traits& traits, DispatchMode_e mode)
        : SignalSource(name, owner), m_traits(traits), m_mode(mode)
    {
        m_queues.reserve(30);
    }
    // Leaves the repository, shuts down, and lets a state change in progress complete.
    ~Stream() override
    {
        UnregisterSource();
        ShutDown();
        std::lock_guard<std::mutex> lock(m_stateMutex);
        ISTD_LOGGED_ASSERT(!m_thread.joinable());
    }

    // SignalSource
    unsigned AtomSize() const override { return sizeof(Atom); }
    unsigned GroupSize() const override { return m_traits.GroupSize(); }
    const std::type_info& AtomType() const override { return typeid(Atom); }
    const std::type_info& BaseType() const override { return typeid(Base); }
    unsigned Length() const override { return Traits::c_length; }
    std::vector<std::string> GetComponentNames() const override
    {
        return std::vector<std::string>(std::begin(Traits::names), std::end(Traits::names));
    }
    AccessType_e AccessType() const override { return eAccessStream; }
    // A new, closed StreamClient with a queue of `length` buffers (0: 64); the caller owns it.
    SignalClientBase* NewSignalClient(const std::string& name, unsigned length) override;

    // The final stop: every client queue is cancelled with -5, dispatching ends, the input is
    // closed. Returns when that is done, also while another thread's ShutDown does it; again:
    // nothing.
    void ShutDown() override
    {
        std::lock_guard<std::mutex> serial(m_shutDownMutex);
        if (GetState() == eStreamShutDown) {
            return;
        }
        ISTD_TRACE(2, GetName() << ": Shutting down..");
        std::thread thread;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (_State() != eStreamIdle) {
                ISTD_TRACE(1, GetName() << ": Cancelling open handles.");
            }
            _SetState(eStreamShutDown);
            _CancelAllClients(eTerminated);
            // A stop that another thread runs (a client leaving, the dispatch thread after a
            // failed read) owns the thread and the input until it ends.
            m_stopped.wait(lock, [this] { return m_stopsInProgress == 0; });
            thread = std::move(m_thread);
        }
        ISTD_TRACE(2, GetName() << ": stop = 1, a_code = " << eTerminated);
        _StopInput(thread);
        ISTD_TRACE(2, GetName() << ": Shutdown finished.");
    }

    // Cancels and removes every client queue with the code (0 becomes -5). An on-demand stream
    // stops dispatching; a continuous one only for -5; a passive one goes on.
    void Cancel(SuccessCode_e code) override
    {
        const bool stop = m_mode == eDispatchOnDemand || (m_mode == eDispatchContinuous && code == eTerminated);
        std::thread thread;
        bool owner = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            _CancelAllClients(code);
            if (stop) {
                owner = _TakeStop(thread);
            }
        }
        ISTD_TRACE(2, GetName() << ": stop = " << (stop ? 1 : 0) << ", a_code = " << code);
        if (owner) {
            _StopDispatching(thread);
        }
    }

    // Cancels and removes with -4 every client queue of that name; dispatching stops as when the
    // last client leaves.
    void Cancel(const std::string& name)
    {
        std::thread thread;
        bool stop = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (;;) {
                auto it = std::find_if(m_queues.begin(), m_queues.end(),
                                       [&name](const Queue* queue) { return queue->GetName() == name; });
                if (it == m_queues.end() || (stop = _RemoveClient(it, eCancelled, thread))) {
                    break;
                }
            }
        }
        if (stop) {
            _StopDispatching(thread);
        }
    }

    using SignalDispatchBase::Dispatch;
    // The producer's entry: count / Length() atoms (a last incomplete atom is ignored) are copied
    // into one new buffer, which is dispatched with the metadata.
    void Dispatch(const Base* values, unsigned count, const SignalMeta& meta) override
    {
        const unsigned atoms = count / Traits::c_length;
        _DispatchShared(CopyToBuffer(m_traits, reinterpret_cast<const Atom*>(values), atoms, meta, m_pool));
    }

    // Hands the buffer, with a copy of the metadata, to every client queue as one shared
    // buffer; the caller's array is left empty. Works in any state. A queue that throws (an
    // unknown full-queue policy) stops the dispatch with its exception.
    void Dispatch(Buffer&& buffer, const SignalMeta& meta)
    {
        using Pair = MetaBufferPair<Traits>;
        _DispatchShared(std::allocate_shared<Pair>(detail::PoolAllocator<Pair>(m_pool), std::move(buffer), meta));
    }

    // Adds a client queue (resetting it) and starts dispatching when it is the first: 0; -5 for
    // a stream that is shut down; -6 for a continuous stream that is not started. Throws
    // "isig: Can't connect to terminated stream." for a queue cancelled with -5, and passes on
    // what OpenInput throws (the queue is then not added).
    SuccessCode_e AddQueue(Queue& queue)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const StreamState state = _WaitWhileChanging(lock);
        if (state == eStreamShutDown) {
            ISTD_TRACE(2, GetName() << ": Shutdown already in progress.");
            return eTerminated;
        }
        if (state == eStreamIdle && m_mode == eDispatchContinuous) {
            return eNotStarted;
        }
        if (!queue.ResetUnlessTerminated(&m_handshake)) {
            throw istd::Exception("isig: Can't connect to terminated stream.");
        }
        m_queues.push_back(&queue);
        if (state == eStreamIdle) {
            const size_t numberOfClients = m_queues.size();
            ISTD_LOGGED_ASSERT(numberOfClients == 1);
            try {
                _StartDispatch(lock);
            } catch (...) {
                m_queues.erase(std::remove(m_queues.begin(), m_queues.end(), &queue), m_queues.end());
                queue.LeaveHandshake();
                throw;
            }
        }
        return eSuccess;
    }

    // Removes a client queue with -4 and stops dispatching when it was the last (but for a
    // continuous stream). A queue that is not in the list is ignored.
    void RemoveQueue(Queue& queue)
    {
        std::thread thread;
        bool stop = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = std::find(m_queues.begin(), m_queues.end(), &queue);
            stop = _RemoveClient(it, eCancelled, thread);
        }
        if (stop) {
            _StopDispatching(thread);
        }
    }

    // Starts dispatching a continuous stream without waiting for a client: 0 when it runs (or
    // already ran), -5 after ShutDown, -1 for a stream of another mode. Passes on what
    // OpenInput throws.
    SuccessCode_e Start()
    {
        if (m_mode != eDispatchContinuous) {
            ISTD_TRACE(1, GetName() << ": Start: only a continuous stream is started without a client.");
            return eFailure;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        const StreamState state = _WaitWhileChanging(lock);
        if (state == eStreamShutDown) {
            return eTerminated;
        }
        if (state == eStreamIdle) {
            _StartDispatch(lock);
        }
        return eSuccess;
    }

    StreamState GetState() const
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        return m_state;
    }
    DispatchMode_e GetMode() const { return m_mode; }
    const Traits& GetTraits() const { return m_traits; }
    // Client queues in the stream now.
    size_t GetQueueCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_queues.size();
    }

protected:
    virtual void OpenInput() {}
    virtual void InterruptInput() {}
    virtual void CloseInput() {}
    // Groups one ReadInput may deliver at once (at least 1); the dispatch thread hands each
    // group to the clients as a buffer of its own.
    virtual unsigned InputGroups() const { return 1; }
    // Passive: throws "<name>: Running in passive mode."; else no data (-2, length 0).
    virtual int ReadInput(ArrayType& array)
    {
        if (m_mode == eDispatchPassive) {
            throw istd::Exception(GetName() + ": Running in passive mode.");
        }
        array.Resize(0);
        return eNoData;
    }

    // Serialises OpenInput, InterruptInput and CloseInput; innermost but for the state mutex.
    std::mutex& InputMutex() const { return m_inputMutex; }

private:
    StreamState _State() const
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        return m_state;
    }

    // A stream that is shut down stays so.
    void _SetState(StreamState state)
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_state == eStreamShutDown) {
            return;
        }
        ISTD_TRACE(3, GetName() << ": Stream state: " << m_state << " --> " << state);
        m_state = state;
    }

    // Waits, with the stream mutex, until the stream neither starts nor stops; that state.
    StreamState _WaitWhileChanging(std::unique_lock<std::mutex>& lock)
    {
        for (;;) {
            const StreamState state = _State();
            if (state == eStreamStopping) {
                ISTD_LOGGED_ASSERT(m_queues.size() == 0);
                m_stopped.wait(lock);
            } else if (state == eStreamStarting) {
                ISTD_LOGGED_ASSERT(m_queues.size() == 1);
                m_started.wait(lock);
            } else {
                return state;
            }
        }
    }

    // With the stream mutex held, in state 0.
    void _StartDispatch(std::unique_lock<std::mutex>& lock)
    {
        {
            std::lock_guard<std::mutex> input(m_inputMutex);
            OpenInput();
        }
        if (m_mode == eDispatchPassive) {
            _SetState(eStreamRunning);
            return;
        }
        _SetState(eStreamStarting);
        if (m_thread.joinable()) {
            // The thread of a run that ended by itself after a failure.
            ISTD_TRACE(2, GetName() << ": join thread.");
            m_thread.join();
        }
        ISTD_TRACE(2, GetName() << ": Starting thread..");
        try {
            m_thread = std::thread([this] { _Run(); });
        } catch (...) {
            _CloseInput();
            _SetState(eStreamIdle);
            m_stopped.notify_all();
            throw;
        }
        m_started.wait(lock, [this] { return _State() != eStreamStarting; });
        ISTD_TRACE(2, GetName() << ": Thread started..");
    }

    // The dispatch thread.
    void _Run()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (_State() == eStreamStarting) {
                _SetState(eStreamRunning);
            }
            m_started.notify_all();
        }
        int failure = eSuccess;
        try {
            const unsigned group = GroupSize();
            unsigned groups = std::max(InputGroups(), 1u);
            if (group != 0 && groups > UINT_MAX / group) {
                groups = 1;
            }
            ArrayType array(m_traits, group * groups);
            std::vector<MetaBufferPtr<Traits>> buffers;
            while (_State() == eStreamRunning) {
                // A single group goes to the clients as it is, and fresh storage is taken for the
                // next; several are copied out of the array, which is kept for the next read.
                array.Resize(group * groups);
                const int result = ReadInput(array);
                if (result == eSuccess || result == eNoData) {
                    if (array.GetLength() != 0 && _State() == eStreamRunning) {
                        if (groups == 1) {
                            Dispatch(std::move(array), c_noMeta);
                        } else {
                            _DispatchGroups(array, buffers);
                        }
                    }
                    continue;
                }
                istd::LogError(GetName() + ": Terminating dispatch thread. Cause: " +
                               _CodeText(static_cast<SuccessCode_e>(result)));
                failure = result;
                break;
            }
        } catch (const std::system_error& e) {
            ISTD_TRACE(1, GetName() << ": Dispatching thread error: " << e.code().message());
            failure = eFailure;
        } catch (const std::exception& e) {
            ISTD_TRACE(1, GetName() << ": Dispatching thread error: " << e.what());
            failure = eFailure;
        }
        if (failure != eSuccess) {
            _EndAfterFailure(static_cast<SuccessCode_e>(failure));
        }
        if (_State() == eStreamShutDown) {
            ISTD_TRACE(3, GetName() << ": Stream shutdown: dispatcher thread finished.");
        }
    }

    // The groups of the array, each in a buffer of its own, handed to every client queue in order
    // as Dispatch hands them one by one; the stream and each queue are locked once for all of
    // them, and each reader is woken once. A queue that may filter or throw takes them one by one
    // in the order Dispatch would give them.
    void _DispatchGroups(const ArrayType& array, std::vector<MetaBufferPtr<Traits>>& buffers)
    {
        const unsigned length = array.GetLength();
        const unsigned group = GroupSize();
        buffers.clear();
        for (unsigned first = 0; first < length; first += group) {
            buffers.push_back(
                CopyToBuffer(m_traits, array.Data() + first, std::min(group, length - first), c_noMeta, m_pool));
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const MetaBufferPtr<Traits>& buffer : buffers) {
                _TraceDispatch(buffer->data.GetLength());
            }
            const bool plain =
                std::all_of(m_queues.begin(), m_queues.end(), [](const Queue* queue) { return queue->IsPlain(); });
            if (plain) {
                _PushToAll([&buffers](Queue& queue) { queue.PushSerialised(buffers.data(), buffers.size()); });
            } else {
                for (const MetaBufferPtr<Traits>& buffer : buffers) {
                    _PushToAll([&buffer](Queue& queue) { queue.PushSerialised(buffer); });
                }
            }
        }
        buffers.clear();
    }

    // With the stream mutex held.
    void _TraceDispatch(unsigned atoms) const
    {
        ISTD_TRACE(4, GetName() << ": Dispatching " << istd::CppName(AtomType()) << ": #queues: " << m_queues.size()
                                << ", atoms: " << atoms);
    }

    // One buffer to every client queue in order; with none it is simply let go.
    void _DispatchShared(const MetaBufferPtr<Traits>& shared)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        _TraceDispatch(shared->data.GetLength());
        _PushToAll([&shared](Queue& queue) { queue.PushSerialised(shared); });
    }

    // With the stream mutex held, which serialises every push into the queues: `push` on each
    // queue in order, then one handshake for all of them (see StreamQueue::Handshake) and the
    // wake-up of the readers that wait for what came, also when a push throws. The next queue is
    // fetched while this one takes its buffers: with many clients the queues are not in the cache.
    template <class PUSH>
    void _PushToAll(const PUSH& push)
    {
        const size_t count = m_queues.size();
        try {
            for (size_t i = 0; i < count; ++i) {
                if (i + 1 < count) {
                    const char* next = reinterpret_cast<const char*>(m_queues[i + 1]);
                    __builtin_prefetch(next);
                    __builtin_prefetch(next + 64);
                }
                push(*m_queues[i]);
            }
        } catch (...) {
            _WakeAfterPushes();
            throw;
        }
        _WakeAfterPushes();
    }

    void _WakeAfterPushes()
    {
        m_handshake.fetch_add(1, std::memory_order_acq_rel);
        for (Queue* queue : m_queues) {
            queue->WakeAfterPushes();
        }
    }

    // The dispatch thread after a failed read: nothing more is dispatched, every client gets the
    // code, and unless another thread already stops the stream, the thread closes the input
    // itself and leaves the stream idle (its thread object is joined by the next start).
    void _EndAfterFailure(SuccessCode_e code)
    {
        bool owner = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            _CancelAllClients(code);
            if (_State() == eStreamRunning) {
                _SetState(eStreamStopping);
                ++m_stopsInProgress;
                owner = true;
            }
        }
        if (owner) {
            _CloseInput();
            std::lock_guard<std::mutex> lock(m_mutex);
            _SetState(eStreamIdle);
            --m_stopsInProgress;
            m_stopped.notify_all();
        }
    }

    // With the stream mutex held: takes the stop of a starting or running stream (state 3, the
    // thread object moved to `thread`); false when it is idle, stopping already (another thread
    // owns that stop) or shut down (ShutDown stops it).
    bool _TakeStop(std::thread& thread)
    {
        const StreamState state = _State();
        if (state != eStreamStarting && state != eStreamRunning) {
            return false;
        }
        _SetState(eStreamStopping);
        ++m_stopsInProgress;
        thread = std::move(m_thread);
        return true;
    }

    // With the stream mutex held; true when the caller must run _StopDispatching.
    bool _RemoveClient(typename std::vector<Queue*>::iterator it, SuccessCode_e code, std::thread& thread)
    {
        if (it == m_queues.end()) {
            return false;
        }
        (*it)->Cancel(code);
        m_queues.erase(it);
        ISTD_TRACE(3, GetName() << ": Client removed, queue size: " << m_queues.size());
        if (m_queues.empty() && m_mode != eDispatchContinuous) {
            return _TakeStop(thread);
        }
        return false;
    }

    // With the stream mutex held; neither the state nor the thread changes.
    void _CancelAllClients(SuccessCode_e code)
    {
        while (!m_queues.empty()) {
            m_queues.front()->Cancel(code);
            m_queues.erase(m_queues.begin());
            ISTD_TRACE(3, GetName() << ": Client removed, queue size: " << m_queues.size());
        }
    }

    // Without the stream mutex, for the owner of a stop (_TakeStop).
    void _StopDispatching(std::thread& thread)
    {
        _StopInput(thread);
        std::lock_guard<std::mutex> lock(m_mutex);
        _SetState(eStreamIdle);
        --m_stopsInProgress;
        m_stopped.notify_all();
    }

    // Wakes the reader, joins the thread, then closes the input: the input is never closed
    // under a read in progress, so its descriptor cannot be reused under the reader.
    void _StopInput(std::thread& thread)
    {
        if (thread.joinable()) {
            _Guarded("InterruptInput", [this] { InterruptInput(); });
            ISTD_TRACE(2, GetName() << ": Input closed: will join the thread.");
            thread.join();
        }
        _CloseInput();
    }

    void _CloseInput()
    {
        _Guarded("CloseInput", [this] { CloseInput(); });
    }

    // Runs an input operation under the input mutex; what it throws is traced, not passed on.
    template <class F>
    void _Guarded(const char* what, F f)
    {
        try {
            std::lock_guard<std::mutex> input(m_inputMutex);
            f();
        } catch (const std::system_error& e) {
            ISTD_TRACE(1, GetName() << ": WARNING: " << what << " threw: " << e.code().message());
        } catch (const std::exception& e) {
            ISTD_TRACE(1, GetName() << ": WARNING: " << what << " threw: " << e.what());
        } catch (...) {
            ISTD_TRACE(1, GetName() << ": WARNING: " << what << " threw exception.");
        }
    }

    static std::string _CodeText(SuccessCode_e code)
    {
        std::ostringstream text;
        text << code;
        return text.str();
    }

    const Traits m_traits;
    const DispatchMode_e m_mode;
    // The memory of the buffers the stream makes, back once every client is done with a buffer.
    const BufferPoolPtr m_pool = std::make_shared<BufferPool>();
    StreamState m_state = eStreamIdle;
    mutable std::mutex m_stateMutex;
    std::vector<Queue*> m_queues;
    mutable std::mutex m_mutex; // the stream mutex
    typename Queue::Handshake m_handshake{0};
    std::condition_variable m_stopped;
    std::condition_variable m_started;
    std::thread m_thread;
    unsigned m_stopsInProgress = 0;
    mutable std::mutex m_inputMutex;
    std::mutex m_shutDownMutex;
};

} // namespace isig

#include "isig/stream_client.h"

namespace isig {

template <class STREAM_TRAITS>
SignalClientBase* Stream<STREAM_TRAITS>::NewSignalClient(const std::string& name, unsigned length)
{
    return new StreamClient<STREAM_TRAITS>(this, name, length == 0 ? 64 : length);
}

} // namespace isig

#endif
