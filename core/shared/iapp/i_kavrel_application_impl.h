#ifndef IAPP_I_KAVREL_APPLICATION_IMPL_H
#define IAPP_I_KAVREL_APPLICATION_IMPL_H

// The CORBA servant of i_NET::Application: the entry point of remote clients. It keeps one
// registry servant (ireg::i_RemoteNode_impl) per client callback object, made on the client's
// first GetRemoteNode, handed out again on later ones, and ended by ReleaseRemoteNode.
//
//     ireg::i_RemoteNode_impl::SetRootNode(mci::Node(root, mci::c_noRelPath));
//     inet::OM()->ActivatePersistent(new iapp::i_KavrelApplication_impl, inet::c_defaultNetId);
//     inet::OM()->ORBRun();
//     ...
//     inet::OM()->ORBDestroy();   // deletes this servant, which ends every remote node left
//
// Clients are told apart by their callback references: the ORB's hash of the reference picks
// the entries to compare, and the remote node's Equals (the ORB's equivalence test) decides.
// References from different processes often hash alike (the hash covers only the object key,
// and every client's first object has the same key), so several entries may share a hash.
//
// Every remote node in the table is active in the ORB, and the table holds a reference of its
// own on it (taken when stored, dropped when removed), so that it stays valid however the
// ORB orders the deletion of servants when it is destroyed.
//
// Clients that go without ReleaseRemoteNode (killed, crashed, or a forged callback reference)
// must not leave their nodes for ever, and no client may make the table grow without bound:
//   - a node whose client's notification call failed (or timed out) is ended, with its
//     subscriptions, as ReleaseRemoteNode would end it, right after the failure;
//   - a node whose client has shown no sign of life (a call, a notification taken) for the idle
//     period has the client's callback object asked (_non_existent, with the answer time-out);
//     a client that is gone, or does not answer in time, loses its node; one that answers keeps
//     it for another idle period, however long it holds it;
//   - at most maxNodes nodes live at once: a GetRemoteNode that would make one more is refused
//     with CORBA::NO_RESOURCES and a warning in the log.
// A thread of the servant does this, outside the table's lock for every call to a client. A
// client whose node was ended calls it in vain (CORBA::OBJECT_NOT_EXIST) and gets a fresh one
// from its next GetRemoteNode.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "iapp/iapp_export.h"
#include "inet/i_net.hh"
#include "ireg/i_remote_node_impl.h"

namespace iapp {

// The bounds of the application servant's remote nodes.
struct IAPP_API RemoteNodeLimits {
    // Remote nodes live at once, at most.
    size_t maxNodes = 10000;
    // A client that has shown no sign of life for this long is asked whether it is still there.
    std::chrono::milliseconds idlePeriod = std::chrono::seconds(60);
    // How long it has to answer.
    std::chrono::milliseconds answerTimeOut = std::chrono::seconds(2);

    // The defaults, with maxNodes from KAVREL_MAX_REMOTE_NODES and the idle period in seconds from
    // KAVREL_REMOTE_NODE_IDLE_SECONDS: a value that is no whole number from 1 on is named in a
    // warning in the log, and the default stays.
    static RemoteNodeLimits FromEnvironment();
};

class IAPP_API i_KavrelApplication_impl : public POA_i_NET::Application {
public:
    // The interface version clients read.
    static constexpr const char* c_interfaceVersion = "2.6";

    // With RemoteNodeLimits::FromEnvironment().
    i_KavrelApplication_impl();
    explicit i_KavrelApplication_impl(const RemoteNodeLimits& limits);
    // Stops the thread that ends the nodes of clients that are gone (waiting for a question to a
    // client under way, the answer time-out at most), then stops and deactivates every remote
    // node still in the table and drops the table's references; never throws.
    ~i_KavrelApplication_impl() override;

    i_KavrelApplication_impl(const i_KavrelApplication_impl&) = delete;
    i_KavrelApplication_impl& operator=(const i_KavrelApplication_impl&) = delete;

    // i_NET::Application
    char* GetInterfaceVersion() override;
    // The client's remote node, made and activated on its first request. A nil callback is
    // refused with CORBA::BAD_PARAM: it names no client, so its node could never be found
    // or released again. A failure to make or activate the node passes to the caller and
    // leaves nothing behind.
    i_NET::RemoteNode_ptr GetRemoteNode(i_NET::Notification_ptr callback) override;
    // Ends the client's remote node (notifications stopped, servant deactivated); nothing for a
    // client without one.
    void ReleaseRemoteNode(i_NET::Notification_ptr callback) override;

    // The remote nodes in the table.
    size_t RemoteNodeCount() const;

private:
    using NodeTable = std::multimap<uint32_t, ireg::i_RemoteNode_impl*>;
    struct Candidate {
        uint32_t hash;
        ireg::i_RemoteNode_impl* servant; // with a reference of the candidate's own
        bool answers;
    };

    // The client's entry or end(); the caller holds m_mutex.
    NodeTable::iterator Find(i_NET::_objref_Notification* callback);
    static uint32_t _Hash(i_NET::_objref_Notification* callback);
    // StopNotifications, Deactivate and the table's _remove_ref, each whatever the others did;
    // failures are traced at level 1.
    static void _End(ireg::i_RemoteNode_impl* servant);

    // The thread that ends the nodes of clients that are gone; _Sweep is one round of it.
    void _Reap();
    void _Sweep();
    void _WakeReaper();
    // Asks each candidate's client, several at once, each thread with the answer time-out.
    void _AskClients(std::vector<Candidate>& candidates) const;
    // Takes the servant out of the table (the caller holds m_mutex); false when it is not there.
    bool _Remove(uint32_t hash, const ireg::i_RemoteNode_impl* servant);

    const RemoteNodeLimits m_limits;
    NodeTable m_remoteNodes;
    mutable std::mutex m_mutex; // m_remoteNodes

    std::mutex m_reapMutex; // the two flags below; never held with m_mutex
    std::condition_variable m_reapWake;
    bool m_stopReaping = false;
    bool m_sweepNow = false;
    std::thread m_reaper;
};

} // namespace iapp

#endif
