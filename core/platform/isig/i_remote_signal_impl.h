#ifndef ISIG_I_REMOTE_SIGNAL_IMPL_H
#define ISIG_I_REMOTE_SIGNAL_IMPL_H

// The CORBA servant of i_NET::RemoteSignal over one signal source: remote clients read the
// signal's description and connect an i_NET::SignalReceiver of their own, to which the servant
// forwards the signal.
//
// Each connection is a client of the source (NewSignalClient, opened in forward mode) and a
// forwarding thread owned by the servant, which calls the client's ForwardTo while the client
// is open, and closes and deletes the client when forwarding ends. No ORB request waits for signal data: Connect returns once the thread runs, and
// Disconnect and ShutDown close the clients (which wakes their waiting reads) and join the
// threads. When forwarding ends the receiver gets Closed(code) (oneway): eCancelled after
// Disconnect, eTerminated after ShutDown, else the code that ended it (eFailure for an error);
// a receiver that failed is not called again.
//
// Life: made over a source that must outlive ShutDown (the servant's destructor calls it too
// when nobody did); activated with inet::OM().Activate; after ShutDown every operation raises
// CORBA::OBJECT_NOT_EXIST and the source is never touched again, so the ORB may delete the
// servant after the source is gone. A servant still running when the process's ORB shuts down
// is shut down first (an ORB shutdown hook), so that its receivers learn of the end
// (eTerminated) whatever order the program stops in.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "inet/counted_servant.h"
#include "inet/i_net.hh"
#include "isig/isig_export.h"
#include "isig/signal_client.h"
#include "isig/signal_source.h"

namespace isig {

class ISIG_API i_RemoteSignal_impl : public inet::CountedServant<POA_i_NET::RemoteSignal> {
public:
    // The longest queue, in buffers, a remote client gets.
    static constexpr CORBA::ULong c_maxQueueLength = 65536;
    // The most connections one signal serves at once (each holds a thread and a queue): more
    // are refused, so that no client can make the server hold without bound.
    static constexpr size_t c_maxConnections = 256;

    // Throws istd::Exception without a source.
    explicit i_RemoteSignal_impl(SignalSource* source);
    ~i_RemoteSignal_impl() override;

    // Closes every client, joins every forwarding thread, deletes the clients and refuses
    // everything from then on. Returns when all of that is done, also when another thread's
    // ShutDown runs at the same time; again: nothing.
    void ShutDown();
    bool IsShutDown() const;
    // Connections whose client is still at the source (for tests and statistics): one that
    // ended counts no more from the moment its client has left, also while its thread still
    // tells the receiver, so that the count never runs behind the source's own.
    size_t ConnectionCount() const;

    // i_NET::RemoteSignal. A description call on a source that throws raises
    // CORBA::BAD_OPERATION (the text goes to the trace).
    char* GetName() override;
    char* GetOwner() override;
    CORBA::ULong GetAtomSize() override;
    CORBA::ULong GetGroupSize() override;
    CORBA::ULong GetLength() override;
    i_NET::StringVec* GetComponentNames() override;
    CORBA::Long GetAtomType() override;   // an AtomType_e
    CORBA::Long GetAccessType() override; // an AccessType_e
    // The source's items, then each running connection's own (named as its client: atoms
    // pushed into its queue and dropped from it; "<name>_filt" for a filter).
    i_NET::SignalStats* GetStatistics() override;
    // eSuccess when forwarding started; eTerminated after ShutDown; the client's Open code
    // when it refused; eFailure when the source made no client, or c_maxConnections run
    // already (the reason is traced). A nil
    // receiver raises CORBA::BAD_PARAM. A receiver may connect more than once. A queue length
    // of 0 is the source's default; one above c_maxQueueLength is clamped to it (traced).
    CORBA::Long Connect(i_NET::SignalReceiver_ptr receiver, const char* clientName,
                        CORBA::ULong queueLength) override;
    // Ends every connection of this receiver (by object equivalence); nothing when it has none.
    void Disconnect(i_NET::SignalReceiver_ptr receiver) override;

private:
    struct Connection;
    using Connections = std::vector<std::unique_ptr<Connection>>;

    void _Forward(Connection& connection);
    // Moves the connections that match out of the list, counting them as in teardown; the
    // caller holds m_mutex.
    Connections _Take(bool (*match)(const Connection&, i_NET::SignalReceiver_ptr), i_NET::SignalReceiver_ptr receiver);
    // Closes, joins and deletes taken connections (without m_mutex), reporting `code`.
    void _TearDown(Connections connections, SuccessCode_e code);
    // Throws OBJECT_NOT_EXIST after ShutDown; the caller holds m_mutex.
    void _CheckAlive() const;
    template <class F>
    auto _Describe(const char* what, F f);

    SignalSource* const m_source;
    const std::string m_name; // the source's, for traces that may come after ShutDown
    std::mutex m_shutDownMutex; // serialises ShutDown
    mutable std::mutex m_mutex; // everything below
    std::condition_variable m_tornDown;
    bool m_shutDown = false;
    size_t m_inTeardown = 0; // connections taken out but not yet deleted
    Connections m_connections;
    // Last: a hook that runs at once must find everything above made.
    const uint64_t m_orbShutdownHook;
};

} // namespace isig

#endif
