#ifndef INET_ORB_MANAGER_H
#define INET_ORB_MANAGER_H

// The process's one ORB and the two POAs servants live in.
//
//     inet::OrbManager::Init(argc, argv, 5679, 0x20000014);
//     inet::OM()->ActivatePersistent(new AppServant, inet::c_defaultNetId);  // corbaloc::host:5679/Application
//     inet::OM()->Activate(nodeServant);               // nodeServant->_this() now names it
//     ...
//     inet::OM().Deactivate(nodeServant);              // the ORB deletes it when its requests end
//     inet::OM()->ORBRun();                            // until ORBShutdown from another thread
//     inet::OM()->ORBDestroy();
//
// Ownership: a servant handed to ActivatePersistent or Activate belongs to the ORB once the call
// returns (the manager drops the caller's reference); the ORB deletes it after Deactivate, or
// at ORBDestroy, once no request is inside it. When activation throws, nothing is handed over
// and the caller still holds its reference.
//
// All operations may be called from any thread, also from ORB request threads, except where a
// comment says otherwise.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <omniORB4/CORBA.h>

#include "inet/inet_export.h"

namespace inet {

// The network id under which the application servant is reached.
extern INET_API const std::string c_defaultNetId;

// The ORB's largest GIOP message. Declared here for the network layer's users and defined by
// the application library (libkavreliapp); nothing in this library calls it.
INET_API unsigned int GetMaxPacketSize();

class INET_API OrbManager {
public:
    // Milliseconds a call to a remote object may take before it fails with TRANSIENT, so that a
    // client that stopped answering cannot hold a servant's thread (a notification or signal
    // forwarding thread) for long.
    static constexpr unsigned c_clientCallTimeOutMs = 10000;

    // Initialises the ORB: "-ORB..." options are taken from (and removed from) argv, the ORB
    // listens on TCP port `port` of every interface (0: a port the system chooses), refuses GIOP
    // messages larger than `maxPacket` bytes, and times out client calls after
    // c_clientCallTimeOutMs. Then activates the RootPOA and omniINSPOA managers.
    // Throws istd::Exception "inet: ..." when the ORB is initialised already, the arguments are
    // out of range or the ORB refuses (a port in use, for one); the manager then stays
    // uninitialised. May be called again after ORBDestroy.
    static void Init(int& argc, char** argv, unsigned port, unsigned maxPacket);

    // Lets OM()->X and OM().X both compile.
    OrbManager* operator->() { return this; }

    bool IsInitialised() const;
    // The TCP port the ORB listens on: the one given to Init, or the one the system chose for
    // 0. Throws istd::Exception when not initialised.
    unsigned GetPort() const;
    // A new reference to the ORB (the caller releases it, e.g. in a CORBA::ORB_var), for
    // string_to_object and object_to_string; throws when not initialised.
    CORBA::ORB_ptr GetORB() const;

    // Activates the servant on omniINSPOA under the object id netId, so that clients reach it
    // as corbaloc::host:port/<netId>. Throws istd::Exception when netId is empty or in use, or
    // the servant is active already.
    void ActivatePersistent(PortableServer::ServantBase* servant, const std::string& netId);
    // Activates the servant on the RootPOA; the servant's _this() then returns a reference to
    // that activation. Throws istd::Exception when the servant is active already.
    void Activate(PortableServer::ServantBase* servant);
    // Withdraws a servant activated by either call above; the ORB deletes it when its last
    // request ends. False (and a level-2 trace) when the servant is not active under this
    // manager: deactivated before, never activated, or the ORB destroyed. Never throws
    // istd::Exception for that, so destructors may call it; throws only when the ORB refuses.
    bool Deactivate(PortableServer::ServantBase* servant);

    // Serves requests on the calling thread until ORBShutdown.
    void ORBRun();
    // Makes both POA managers hold new requests, waiting for those in progress to finish. Must
    // not be called from a request thread (the ORB refuses that: istd::Exception).
    void HoldRequests();
    // Stops the ORB; ORBRun returns. With wait, returns after requests in progress finished
    // (not allowed from a request thread). The shutdown hooks run first.
    void ORBShutdown(bool wait);
    // Destroys the ORB and every servant still active; the manager is uninitialised afterwards.
    // Nothing happens when it is not initialised. The shutdown hooks run first.
    void ORBDestroy();

    // Work that needs the ORB once more before it stops, whatever order a program stops in: a
    // remote signal telling its receivers that it ends. ORBShutdown and ORBDestroy of an
    // initialised ORB run every hook still added, each once, in the order added, on their
    // caller's thread, before they stop the ORB. A hook must not call them itself; what it
    // throws is traced and goes no further. Answers the id that removes the hook.
    uint64_t AddShutdownHook(std::function<void()> hook);
    // The hook will not run. When it runs on another thread now, returns once it has ended, so
    // that what it uses may go then; from within the hook itself, returns at once. An unknown
    // id: nothing.
    void RemoveShutdownHook(uint64_t id);

private:
    friend OrbManager& OM();
    OrbManager() = default;
    OrbManager(const OrbManager&) = delete;
    OrbManager& operator=(const OrbManager&) = delete;

    struct Activation {
        PortableServer::POA_var poa;
        PortableServer::ObjectId_var id;
    };

    void _Init(int& argc, char** argv, unsigned port, unsigned maxPacket);
    void _Record(PortableServer::ServantBase* servant, PortableServer::POA_ptr poa,
                 const PortableServer::ObjectId& id);
    CORBA::ORB_ptr _Orb(const char* operation) const;
    void _RunShutdownHooks();
    PortableServer::POA_ptr _Poa(bool ins, const char* operation) const;

    mutable std::mutex m_mutex; // every member below
    CORBA::ORB_var m_orb;
    PortableServer::POA_var m_rootPoa;
    PortableServer::POA_var m_insPoa;
    unsigned m_port = 0;
    // Servants activated through this manager, with where they live, so that Deactivate never
    // asks a POA about a servant it does not hold (the RootPOA would activate it implicitly).
    std::map<PortableServer::ServantBase*, Activation> m_active;

    std::mutex m_hookMutex; // the hooks' members below, never held while a hook runs
    std::condition_variable m_hookEnded;
    uint64_t m_lastHook = 0;
    std::map<uint64_t, std::function<void()>> m_hooks;     // to run, by id (the order added)
    std::map<uint64_t, std::thread::id> m_runningHooks;    // running, with their thread
};

// The process-wide ORB manager.
INET_API OrbManager& OM();

// The exception as the ORB prints it: "CORBA::TRANSIENT(TRANSIENT_ConnectFailed,
// CORBA::COMPLETED_NO)", "User exception: IDL:i_NET/NotFound:1.0". The ORB's own stream
// operator is global and hidden inside any namespace with an operator<< of its own.
INET_API std::string ExceptionText(const CORBA::Exception& e);

} // namespace inet

#endif
