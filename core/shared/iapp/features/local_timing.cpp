#include "iapp/features/local_timing.h"

#include "iapp/open_stream_client.h"
#include "istd/trace.h"

namespace ifeature {

namespace {

// Closes the client when the command is done, also when it threw.
class CloseOnExit {
public:
    explicit CloseOnExit(isig::KavrelEventStream::Client& client) : m_client(client) {}
    ~CloseOnExit() { m_client.Close(); }
    CloseOnExit(const CloseOnExit&) = delete;
    CloseOnExit& operator=(const CloseOnExit&) = delete;

private:
    isig::KavrelEventStream::Client& m_client;
};

} // namespace

LocalTiming::LocalTiming(iapp::KavrelBoard& board, const std::string& name, isig::KavrelEventStream* stream)
    : KavrelFeature(board, name), m_client(stream, c_clientName, c_queueSize)
{
    ISTD_TRACE_FNC("ifeature::LocalTiming::LocalTiming(iapp::KavrelBoard&, const std::string&, "
                   "isig::KavrelEventStream*)");
    SetDefault();
}

LocalTiming::~LocalTiming()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " LocalTiming");
}

template <class F>
bool LocalTiming::_Command(F&& command)
{
    std::lock_guard<std::mutex> lock(m_commandLock);
    // A command that cannot reach the board is no error of the caller's.
    if (iapp::OpenStreamClient(m_client, istd::eTraceWarning) != isig::eSuccess) {
        return false;
    }
    CloseOnExit close(m_client);
    command(dynamic_cast<isig::KavrelEventStream&>(m_client.GetStream()));
    return true;
}

void LocalTiming::IncrementLMT(uint64_t increment)
{
    _Command([increment](isig::KavrelEventStream& stream) { stream.IncrementMachineTime(increment); });
}

void LocalTiming::EnableEvent(isig::EventIdType id)
{
    _Command([id](isig::KavrelEventStream& stream) { stream.EnableEvent(id); });
}

void LocalTiming::DisableEvent(isig::EventIdType id)
{
    _Command([id](isig::KavrelEventStream& stream) { stream.DisableEvent(id); });
}

void LocalTiming::SetDefault()
{
    ISTD_TRACE_FNC("void ifeature::LocalTiming::SetDefault()");
    _Command([](isig::KavrelEventStream& stream) { stream.SetDefaultEvents(isig::c_allEventMask); });
}

void LocalTiming::OnRegistryAdd(mci::TreeNodePtr&) {}

} // namespace ifeature
