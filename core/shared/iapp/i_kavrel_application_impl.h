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

#include <cstdint>
#include <map>
#include <mutex>

#include "iapp/iapp_export.h"
#include "inet/i_net.hh"
#include "ireg/i_remote_node_impl.h"

namespace iapp {

class IAPP_API i_KavrelApplication_impl : public POA_i_NET::Application {
public:
    // The interface version clients read.
    static constexpr const char* c_interfaceVersion = "2.6";

    i_KavrelApplication_impl();
    // Stops and deactivates every remote node still in the table and drops the table's
    // references; never throws.
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

private:
    using NodeTable = std::multimap<uint32_t, ireg::i_RemoteNode_impl*>;

    // The client's entry or end(); the caller holds m_mutex.
    NodeTable::iterator Find(i_NET::_objref_Notification* callback);
    static uint32_t _Hash(i_NET::_objref_Notification* callback);
    // StopNotifications, Deactivate and the table's _remove_ref, each whatever the others did;
    // failures are traced at level 1.
    static void _End(ireg::i_RemoteNode_impl* servant);

    NodeTable m_remoteNodes;
    std::mutex m_mutex; // m_remoteNodes
};

} // namespace iapp

#endif
