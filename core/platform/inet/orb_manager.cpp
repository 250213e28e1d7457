#include "inet/orb_manager.h"

#include <omniORB4/IIOP.h>
#include <omniORB4/streamOperators.h>

#include <sstream>
#include <string>

#include "inet/i_net.hh"
#include "istd/exception.h"
#include "istd/trace.h"

namespace inet {

const std::string c_defaultNetId = "Application";

namespace {

// "inet: <what>: <the exception as the ORB prints it>"
[[noreturn]] void ThrowOrbError(const std::string& what, const CORBA::Exception& e)
{
    throw istd::Exception("inet: " + what + ": " + ExceptionText(e));
}

// The port in the IIOP profile of a reference the POA makes: where the ORB listens. The
// stringified reference is "IOR:" and the hexadecimal bytes of the reference's encapsulation.
unsigned ListeningPort(CORBA::ORB_ptr orb, PortableServer::POA_ptr poa)
{
    PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId("port");
    CORBA::Object_var object = poa->create_reference_with_id(id, "IDL:omg.org/CORBA/Object:1.0");
    CORBA::String_var text = orb->object_to_string(object);
    const std::string hex(text.in() + 4);
    cdrMemoryStream stream;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        stream.marshalOctet(static_cast<CORBA::Octet>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    stream.rewindInputPtr();
    stream.setByteSwapFlag(stream.unmarshalBoolean());
    IOP::IOR ior;
    ior <<= stream;
    for (CORBA::ULong i = 0; i < ior.profiles.length(); ++i) {
        if (ior.profiles[i].tag == IOP::TAG_INTERNET_IOP) {
            IIOP::ProfileBody body;
            IIOP::unmarshalProfile(ior.profiles[i], body);
            return body.address.port;
        }
    }
    throw CORBA::INTERNAL();
}

} // namespace

std::string ExceptionText(const CORBA::Exception& e)
{
    std::ostringstream text;
    text << e;
    return text.str();
}

OrbManager& OM()
{
    // Never destroyed: ORB references must not be released after the ORB library's own
    // statics are gone at exit.
    static OrbManager* const instance = new OrbManager;
    return *instance;
}

void OrbManager::Init(int& argc, char** argv, unsigned port, unsigned maxPacket)
{
    ISTD_TRACE_FNC("static void inet::OrbManager::Init(int&, char**, unsigned, unsigned)");
    // The stubs make each interface's nil reference on first use behind an unguarded test, which
    // concurrent first requests race on: made here, before the ORB serves any.
    i_NET::Application::_nil();
    i_NET::RemoteNode::_nil();
    i_NET::RemoteSignal::_nil();
    i_NET::Notification::_nil();
    i_NET::SignalReceiver::_nil();
    OM()._Init(argc, argv, port, maxPacket);
}

void OrbManager::_Init(int& argc, char** argv, unsigned port, unsigned maxPacket)
{
    ISTD_TRACE_FNC("void inet::OrbManager::_Init(int&, char**, unsigned, unsigned)");
    if (port > 65535) {
        throw istd::Exception("inet: Invalid port: " + std::to_string(port));
    }
    if (maxPacket == 0) {
        throw istd::Exception("inet: Invalid maximum packet size: 0");
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!CORBA::is_nil(m_orb)) {
        throw istd::Exception("inet: The ORB is initialised already.");
    }
    const std::string endPoint = port == 0 ? "giop:tcp::" : "giop:tcp::" + std::to_string(port);
    const std::string maxMsg = std::to_string(maxPacket);
    const std::string timeout = std::to_string(c_clientCallTimeOutMs);
    const char* options[][2] = {{"endPoint", endPoint.c_str()},
                                {"giopMaxMsgSize", maxMsg.c_str()},
                                {"clientCallTimeOutPeriod", timeout.c_str()},
                                {nullptr, nullptr}};
    CORBA::ORB_var orb;
    try {
        orb = CORBA::ORB_init(argc, argv, "omniORB4", options);
    } catch (const CORBA::Exception& e) {
        ThrowOrbError("ORB initialisation failed", e);
    }
    try {
        CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
        PortableServer::POA_var rootPoa = PortableServer::POA::_narrow(object);
        object = orb->resolve_initial_references("omniINSPOA");
        PortableServer::POA_var insPoa = PortableServer::POA::_narrow(object);
        // Activating the first manager opens the listening endpoint.
        PortableServer::POAManager_var manager = rootPoa->the_POAManager();
        manager->activate();
        manager = insPoa->the_POAManager();
        manager->activate();
        m_port = port != 0 ? port : ListeningPort(orb, insPoa);
        m_orb = orb._retn();
        m_rootPoa = rootPoa._retn();
        m_insPoa = insPoa._retn();
    } catch (const CORBA::Exception& e) {
        try {
            orb->destroy();
        } catch (...) {
            // The initialisation error is the one to report.
        }
        ThrowOrbError("ORB start on port " + std::to_string(port) + " failed", e);
    }
    ISTD_TRACE(3, "ORB listening on port " << m_port << ", maximum message size " << maxPacket);
}

unsigned OrbManager::GetPort() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (CORBA::is_nil(m_orb)) {
        throw istd::Exception("inet: GetPort: the ORB is not initialised.");
    }
    return m_port;
}

bool OrbManager::IsInitialised() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !CORBA::is_nil(m_orb);
}

CORBA::ORB_ptr OrbManager::GetORB() const
{
    return _Orb("GetORB");
}

CORBA::ORB_ptr OrbManager::_Orb(const char* operation) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (CORBA::is_nil(m_orb)) {
        throw istd::Exception(std::string("inet: ") + operation + ": the ORB is not initialised.");
    }
    return CORBA::ORB::_duplicate(m_orb);
}

PortableServer::POA_ptr OrbManager::_Poa(bool ins, const char* operation) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (CORBA::is_nil(m_orb)) {
        throw istd::Exception(std::string("inet: ") + operation + ": the ORB is not initialised.");
    }
    return PortableServer::POA::_duplicate(ins ? m_insPoa.in() : m_rootPoa.in());
}

void OrbManager::_Record(PortableServer::ServantBase* servant, PortableServer::POA_ptr poa,
                         const PortableServer::ObjectId& id)
{
    Activation activation;
    activation.poa = PortableServer::POA::_duplicate(poa);
    activation.id = new PortableServer::ObjectId(id);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_active[servant] = activation;
}

void OrbManager::ActivatePersistent(PortableServer::ServantBase* servant, const std::string& netId)
{
    ISTD_TRACE_FNC("void inet::OrbManager::ActivatePersistent(PortableServer::ServantBase*, const std::string&)");
    if (servant == nullptr) {
        throw istd::Exception("inet: ActivatePersistent: no servant.");
    }
    if (netId.empty() || netId.find('\0') != std::string::npos) {
        throw istd::Exception("inet: ActivatePersistent: invalid network id.");
    }
    PortableServer::POA_var poa = _Poa(true, "ActivatePersistent");
    PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId(netId.c_str());
    try {
        poa->activate_object_with_id(id.in(), servant);
    } catch (const PortableServer::POA::ObjectAlreadyActive&) {
        throw istd::Exception("inet: ActivatePersistent: network id " + netId + " is in use.");
    } catch (const PortableServer::POA::ServantAlreadyActive&) {
        throw istd::Exception("inet: ActivatePersistent: the servant is active already.");
    } catch (const CORBA::Exception& e) {
        ThrowOrbError("ActivatePersistent " + netId, e);
    }
    _Record(servant, poa, id.in());
    servant->_remove_ref();
    ISTD_TRACE(3, "Servant activated persistently as " << netId);
}

void OrbManager::Activate(PortableServer::ServantBase* servant)
{
    ISTD_TRACE_FNC("void inet::OrbManager::Activate(PortableServer::ServantBase*)");
    if (servant == nullptr) {
        throw istd::Exception("inet: Activate: no servant.");
    }
    PortableServer::POA_var poa = _Poa(false, "Activate");
    PortableServer::ObjectId_var id;
    try {
        id = poa->activate_object(servant);
    } catch (const PortableServer::POA::ServantAlreadyActive&) {
        throw istd::Exception("inet: Activate: the servant is active already.");
    } catch (const CORBA::Exception& e) {
        ThrowOrbError("Activate", e);
    }
    _Record(servant, poa, id.in());
    servant->_remove_ref();
}

bool OrbManager::Deactivate(PortableServer::ServantBase* servant)
{
    ISTD_TRACE_FNC("bool inet::OrbManager::Deactivate(PortableServer::ServantBase*)");
    Activation activation;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_active.find(servant);
        if (it == m_active.end()) {
            ISTD_TRACE(2, "inet: Deactivate: the servant is not active.");
            return false;
        }
        activation = it->second;
        m_active.erase(it);
    }
    try {
        activation.poa->deactivate_object(activation.id.in());
    } catch (const PortableServer::POA::ObjectNotActive&) {
        // The ORB is being destroyed and dropped it already.
        ISTD_TRACE(2, "inet: Deactivate: the object was not active.");
        return false;
    } catch (const CORBA::OBJECT_NOT_EXIST&) {
        // Its POA is destroyed: so is the activation.
        ISTD_TRACE(2, "inet: Deactivate: the POA is gone.");
        return false;
    } catch (const CORBA::Exception& e) {
        ThrowOrbError("Deactivate", e);
    }
    return true;
}

void OrbManager::ORBRun()
{
    ISTD_TRACE_FNC("void inet::OrbManager::ORBRun()");
    CORBA::ORB_var orb = _Orb("ORBRun");
    try {
        orb->run();
    } catch (const CORBA::Exception& e) {
        ThrowOrbError("ORBRun", e);
    }
}

void OrbManager::HoldRequests()
{
    ISTD_TRACE_FNC("void inet::OrbManager::HoldRequests()");
    PortableServer::POA_var rootPoa = _Poa(false, "HoldRequests");
    PortableServer::POA_var insPoa = _Poa(true, "HoldRequests");
    try {
        PortableServer::POAManager_var manager = rootPoa->the_POAManager();
        manager->hold_requests(true);
        manager = insPoa->the_POAManager();
        manager->hold_requests(true);
    } catch (const CORBA::Exception& e) {
        ThrowOrbError("HoldRequests", e);
    }
}

void OrbManager::ORBShutdown(bool wait)
{
    ISTD_TRACE_FNC("void inet::OrbManager::ORBShutdown(bool)");
    CORBA::ORB_var orb = _Orb("ORBShutdown");
    _RunShutdownHooks();
    try {
        orb->shutdown(wait);
    } catch (const CORBA::Exception& e) {
        ThrowOrbError("ORBShutdown", e);
    }
}

void OrbManager::ORBDestroy()
{
    ISTD_TRACE_FNC("void inet::OrbManager::ORBDestroy()");
    if (!IsInitialised()) {
        return;
    }
    _RunShutdownHooks();
    CORBA::ORB_var orb;
    {
        // Servants deleted during destroy may call Deactivate from their destructors: the
        // manager must be unlocked and already empty by then.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (CORBA::is_nil(m_orb)) {
            return;
        }
        orb = m_orb._retn();
        m_rootPoa = PortableServer::POA::_nil();
        m_insPoa = PortableServer::POA::_nil();
        m_port = 0;
        m_active.clear();
    }
    try {
        orb->destroy();
    } catch (const CORBA::Exception& e) {
        ThrowOrbError("ORBDestroy", e);
    }
}

uint64_t OrbManager::AddShutdownHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(m_hookMutex);
    m_hooks.emplace(++m_lastHook, std::move(hook));
    return m_lastHook;
}

void OrbManager::RemoveShutdownHook(uint64_t id)
{
    std::unique_lock<std::mutex> lock(m_hookMutex);
    if (m_hooks.erase(id) != 0) {
        return;
    }
    m_hookEnded.wait(lock, [&] {
        auto running = m_runningHooks.find(id);
        return running == m_runningHooks.end() || running->second == std::this_thread::get_id();
    });
}

void OrbManager::_RunShutdownHooks()
{
    ISTD_TRACE_FNC("void inet::OrbManager::_RunShutdownHooks()");
    std::unique_lock<std::mutex> lock(m_hookMutex);
    // One at a time out of the table, so that a hook removed meanwhile never runs and two
    // threads stopping the ORB at once run each hook once.
    while (!m_hooks.empty()) {
        auto first = m_hooks.begin();
        const uint64_t id = first->first;
        const std::function<void()> hook = std::move(first->second);
        m_hooks.erase(first);
        m_runningHooks.emplace(id, std::this_thread::get_id());
        lock.unlock();
        try {
            hook();
        } catch (const std::exception& e) {
            ISTD_TRACE(1, "inet: shutdown hook " << id << " failed: " << e.what());
        } catch (...) {
            ISTD_TRACE(1, "inet: shutdown hook " << id << " failed.");
        }
        lock.lock();
        m_runningHooks.erase(id);
        m_hookEnded.notify_all();
    }
}

} // namespace inet
