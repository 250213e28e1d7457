#include "isig/i_remote_signal_impl.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "inet/orb_manager.h"
#include "istd/exception.h"
#include "istd/outside_text.h"
#include "istd/trace.h"

namespace isig {

struct i_RemoteSignal_impl::Connection {
    i_NET::SignalReceiver_var receiver;
    // The forwarding thread deletes the client when it ends, so that a connection that ended
    // by itself leaves its source at once; clientMutex keeps a Close from outside off it.
    std::mutex clientMutex;
    std::unique_ptr<SignalClientBase> client;
    std::string name;
    std::thread thread;
    std::atomic<bool> finished{false};
    std::atomic<int> stopCode{eSuccess}; // set before the client is closed from outside
};

namespace {

SignalSource* Checked(SignalSource* source)
{
    if (source == nullptr) {
        throw istd::Exception("isig: Remote signal without a source.");
    }
    return source;
}

} // namespace

i_RemoteSignal_impl::i_RemoteSignal_impl(SignalSource* source)
    : m_source(Checked(source)),
      m_name(source->GetName()),
      m_orbShutdownHook(inet::OM().AddShutdownHook([this] { ShutDown(); }))
{
}

i_RemoteSignal_impl::~i_RemoteSignal_impl()
{
    ISTD_TRACE_FNC("isig::i_RemoteSignal_impl::~i_RemoteSignal_impl()");
    ShutDown();
}

void i_RemoteSignal_impl::ShutDown()
{
    ISTD_TRACE_FNC("void isig::i_RemoteSignal_impl::ShutDown()");
    // Before the serial lock: the hook may be in here on another thread, and is waited for.
    inet::OM().RemoveShutdownHook(m_orbShutdownHook);
    std::lock_guard<std::mutex> serial(m_shutDownMutex);
    Connections taken;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutDown = true;
        taken = _Take([](const Connection&, i_NET::SignalReceiver_ptr) { return true; }, i_NET::SignalReceiver::_nil());
    }
    _TearDown(std::move(taken), eTerminated);
    // A Disconnect or Connect may still be tearing down connections it took: they use the
    // source until they are deleted.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_tornDown.wait(lock, [this] { return m_inTeardown == 0; });
}

bool i_RemoteSignal_impl::IsShutDown() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shutDown;
}

size_t i_RemoteSignal_impl::ConnectionCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t count = 0;
    for (const auto& connection : m_connections) {
        // The forwarding thread resets the client under this lock, so a client that has left
        // its source is never counted.
        std::lock_guard<std::mutex> clientLock(connection->clientMutex);
        count += connection->client ? 1 : 0;
    }
    return count;
}

void i_RemoteSignal_impl::_CheckAlive() const
{
    if (m_shutDown) {
        throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
    }
}

template <class F>
auto i_RemoteSignal_impl::_Describe(const char* what, F f)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _CheckAlive();
    try {
        return f();
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "isig: " << m_name << ": " << what << " failed: " << e.what());
        throw CORBA::BAD_OPERATION(0, CORBA::COMPLETED_NO);
    }
}

char* i_RemoteSignal_impl::GetName()
{
    return _Describe("GetName", [this] { return CORBA::string_dup(m_source->GetName().c_str()); });
}

char* i_RemoteSignal_impl::GetOwner()
{
    return _Describe("GetOwner", [this] { return CORBA::string_dup(m_source->GetOwner().c_str()); });
}

CORBA::ULong i_RemoteSignal_impl::GetAtomSize()
{
    return _Describe("GetAtomSize", [this] { return CORBA::ULong(m_source->AtomSize()); });
}

CORBA::ULong i_RemoteSignal_impl::GetGroupSize()
{
    return _Describe("GetGroupSize", [this] { return CORBA::ULong(m_source->GroupSize()); });
}

CORBA::ULong i_RemoteSignal_impl::GetLength()
{
    return _Describe("GetLength", [this] { return CORBA::ULong(m_source->Length()); });
}

i_NET::StringVec* i_RemoteSignal_impl::GetComponentNames()
{
    return _Describe("GetComponentNames", [this] {
        const std::vector<std::string> names = m_source->GetComponentNames();
        auto result = std::make_unique<i_NET::StringVec>();
        result->length(static_cast<CORBA::ULong>(names.size()));
        for (size_t i = 0; i < names.size(); ++i) {
            (*result)[static_cast<CORBA::ULong>(i)] = names[i].c_str();
        }
        return result.release();
    });
}

CORBA::Long i_RemoteSignal_impl::GetAtomType()
{
    return _Describe("GetAtomType", [this] { return CORBA::Long(m_source->BaseEnumType()); });
}

CORBA::Long i_RemoteSignal_impl::GetAccessType()
{
    return _Describe("GetAccessType", [this] { return CORBA::Long(m_source->AccessType()); });
}

i_NET::SignalStats* i_RemoteSignal_impl::GetStatistics()
{
    return _Describe("GetStatistics", [this] {
        SignalStats stats = m_source->GetStatistics();
        // Each connection's own items follow (its queue's pushed and dropped atoms), so that a
        // receiver can learn what it lost.
        for (const auto& connection : m_connections) {
            std::lock_guard<std::mutex> lock(connection->clientMutex);
            if (!connection->client) {
                continue;
            }
            for (const SignalStatItem& item : connection->client->GetStatistics()) {
                if (item.name == connection->name || item.name == connection->name + "_filt") {
                    stats.push_back(item);
                }
            }
        }
        auto result = std::make_unique<i_NET::SignalStats>();
        result->length(static_cast<CORBA::ULong>(stats.size()));
        for (size_t i = 0; i < stats.size(); ++i) {
            i_NET::SignalStatItem& item = (*result)[static_cast<CORBA::ULong>(i)];
            item.name = stats[i].name.c_str();
            item.count1 = stats[i].count1;
            item.count2 = stats[i].count2;
            item.atomSize = stats[i].atomSize;
        }
        return result.release();
    });
}

CORBA::Long i_RemoteSignal_impl::Connect(i_NET::SignalReceiver_ptr receiver, const char* clientName,
                                         CORBA::ULong queueLength)
{
    ISTD_TRACE_FNC("CORBA::Long isig::i_RemoteSignal_impl::Connect(i_NET::SignalReceiver_ptr, const char*, CORBA::ULong)");
    if (CORBA::is_nil(receiver)) {
        throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    }
    const std::string name = clientName ? clientName : "";
    // The client names its queue's length; a longer one would let it make the server hold an
    // unbounded backlog for it.
    const CORBA::ULong length = std::min(queueLength, c_maxQueueLength);
    if (length != queueLength) {
        ISTD_TRACE(2, "isig: " << m_name << ": queue length " << queueLength << " of " << istd::OutsideText(name) << " clamped to "
                               << length);
    }
    SuccessCode_e result = eFailure;
    Connections finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shutDown) {
            ISTD_TRACE(2, "isig: " << m_name << ": connection of " << istd::OutsideText(name) << " refused: shut down");
            return eTerminated;
        }
        finished = _Take([](const Connection& c, i_NET::SignalReceiver_ptr) -> bool { return c.finished; }, receiver);
        try {
            if (m_connections.size() >= c_maxConnections) {
                throw istd::Exception(std::to_string(c_maxConnections) + " connections run already");
            }
            std::unique_ptr<SignalClientBase> client(m_source->NewSignalClient(name, length));
            if (!client) {
                ISTD_TRACE(1, "isig: " << m_name << ": no client for " << istd::OutsideText(name));
            } else if ((result = client->Open(eModeForward, length, 0)) != eSuccess) {
                ISTD_TRACE(2, "isig: " << m_name << ": client " << istd::OutsideText(name) << " refused: " << result);
            } else {
                auto connection = std::make_unique<Connection>();
                connection->receiver = i_NET::SignalReceiver::_duplicate(receiver);
                connection->client = std::move(client);
                connection->name = name;
                Connection& started = *connection;
                m_connections.push_back(std::move(connection));
                try {
                    started.thread = std::thread([this, &started] { _Forward(started); });
                } catch (...) {
                    m_connections.pop_back();
                    throw;
                }
                ISTD_TRACE(3, "isig: " << m_name << ": forwarding to " << istd::OutsideText(name));
            }
        } catch (const std::exception& e) {
            ISTD_TRACE(1, "isig: " << m_name << ": connection of " << istd::OutsideText(name) << " failed: " << istd::OutsideText(e.what()));
            result = eFailure;
        }
    }
    _TearDown(std::move(finished), eCancelled);
    return result;
}

void i_RemoteSignal_impl::Disconnect(i_NET::SignalReceiver_ptr receiver)
{
    ISTD_TRACE_FNC("void isig::i_RemoteSignal_impl::Disconnect(i_NET::SignalReceiver_ptr)");
    if (CORBA::is_nil(receiver)) {
        return;
    }
    Connections taken;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Finished connections go too; equivalence compares references without calling them.
        taken = _Take(
            [](const Connection& c, i_NET::SignalReceiver_ptr r) { return c.finished || c.receiver->_is_equivalent(r); },
            receiver);
    }
    _TearDown(std::move(taken), eCancelled);
}

i_RemoteSignal_impl::Connections i_RemoteSignal_impl::_Take(
    bool (*match)(const Connection&, i_NET::SignalReceiver_ptr), i_NET::SignalReceiver_ptr receiver)
{
    Connections taken;
    Connections kept;
    for (auto& connection : m_connections) {
        (match(*connection, receiver) ? taken : kept).push_back(std::move(connection));
    }
    m_connections = std::move(kept);
    m_inTeardown += taken.size();
    return taken;
}

void i_RemoteSignal_impl::_TearDown(Connections connections, SuccessCode_e code)
{
    if (connections.empty()) {
        return;
    }
    // Close them all first, so that the joins below overlap.
    for (auto& connection : connections) {
        connection->stopCode = code;
        try {
            std::lock_guard<std::mutex> lock(connection->clientMutex);
            if (connection->client) {
                connection->client->Close();
            }
        } catch (const std::exception& e) {
            ISTD_TRACE(1, "isig: " << m_name << ": closing client " << istd::OutsideText(connection->name) << " failed: " << e.what());
        }
    }
    for (auto& connection : connections) {
        if (connection->thread.joinable()) {
            connection->thread.join();
        }
    }
    const size_t count = connections.size();
    connections.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inTeardown -= count;
    m_tornDown.notify_all();
}

void i_RemoteSignal_impl::_Forward(Connection& connection)
{
    ISTD_TRACE_FNC("void isig::i_RemoteSignal_impl::_Forward(Connection&)");
    SuccessCode_e code = eSuccess;
    bool receiverFailed = false;
    try {
        while (connection.client->IsOpen()) {
            code = connection.client->ForwardTo(connection.receiver.in());
            if (code != eSuccess) {
                break;
            }
        }
    } catch (const CORBA::Exception& e) {
        ISTD_TRACE(1, "isig: " << m_name << ": receiver of " << istd::OutsideText(connection.name) << " failed: " << inet::ExceptionText(e));
        receiverFailed = true;
        code = eFailure;
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "isig: " << m_name << ": forwarding to " << istd::OutsideText(connection.name) << " ended: " << e.what());
        code = eFailure;
    } catch (...) {
        ISTD_TRACE(1, "isig: " << m_name << ": forwarding to " << istd::OutsideText(connection.name) << " ended by an unknown error.");
        code = eFailure;
    }
    try {
        std::lock_guard<std::mutex> lock(connection.clientMutex);
        connection.client->Close();
        connection.client.reset(); // it leaves the source here
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "isig: " << m_name << ": closing client " << istd::OutsideText(connection.name) << " failed: " << e.what());
        std::lock_guard<std::mutex> lock(connection.clientMutex);
        connection.client.reset();
    }
    if (connection.stopCode != eSuccess) {
        code = static_cast<SuccessCode_e>(connection.stopCode.load());
    } else if (code == eSuccess) {
        code = eTerminated; // closed by its stream
    }
    if (!receiverFailed) {
        try {
            connection.receiver->Closed(code);
        } catch (const CORBA::Exception& e) {
            ISTD_TRACE(2, "isig: " << m_name << ": Closed to " << istd::OutsideText(connection.name) << " failed: " << inet::ExceptionText(e));
        }
    }
    ISTD_TRACE(3, "isig: " << m_name << ": forwarding to " << istd::OutsideText(connection.name) << " ended: " << code);
    connection.finished = true;
}

} // namespace isig
