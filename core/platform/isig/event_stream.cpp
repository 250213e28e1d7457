#include "isig/event_stream.h"

#include <time.h>

#include <cerrno>
#include <cstring>

#include "devio/device_file.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace isig {

namespace {

uint64_t _MonotonicNs()
{
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t _Bit(EventIdType id)
{
    return uint64_t{1} << id;
}

} // namespace

KavrelEventStream::Client::Client(KavrelEventStream* stream, const std::string& name, unsigned queueSize)
    : StreamClient<EventTraits>(stream, name, queueSize), m_eventStream(stream)
{
}

SignalSource& KavrelEventStream::Client::GetStream() const
{
    if (m_eventStream == nullptr) {
        throw istd::Exception("isig: " + GetName() + ": the client has no event stream.");
    }
    return *m_eventStream;
}

KavrelMachineTime KavrelEventStream::Client::GetCurrentMachineTime() const
{
    if (m_eventStream == nullptr) {
        throw istd::Exception("isig: " + GetName() + ": the client has no event stream.");
    }
    return m_eventStream->GetCurrentMachineTime();
}

KavrelEventStream::KavrelEventStream(const std::string& name, const std::string& devicePath, bool onDemand,
                                     const std::string& owner)
    : KavrelStream<EventTraits>(name, owner, devicePath, 1, onDemand ? eDispatchOnDemand : eDispatchContinuous)
{
}

KavrelEventStream::~KavrelEventStream()
{
    // Before this class's part goes: the dispatch thread calls its ReadInput.
    UnregisterSource();
    ShutDown();
}

bool KavrelEventStream::_Command(const char* what, unsigned long request, void* argument) const
{
    return WithDevice([&](int fd) {
        if (devio::Ioctl(fd, request, argument) == 0) {
            return true;
        }
        const int error = errno;
        if (error == ENOTTY) {
            ISTD_TRACE(3, GetName() << ": " << what << ": the device does not know the request; recorded only.");
            return false;
        }
        throw istd::Exception("isig: " + GetName() + ": " + what + " failed: " + std::strerror(error));
    });
}

void KavrelEventStream::_CheckId(const char* what, EventIdType id) const
{
    if (id > c_maxEventId) {
        throw istd::Exception("isig: " + GetName() + ": " + what + ": event id " + std::to_string(id) +
                              " is above " + std::to_string(c_maxEventId));
    }
}

template <class F>
void KavrelEventStream::_Record(bool answered, F change)
{
    std::lock_guard<std::mutex> lock(m_recordMutex);
    change(m_record);
    ++m_record.commands;
    m_record.recordedOnly += answered ? 0 : 1;
}

void KavrelEventStream::EnableEvent(const EventIdType& id)
{
    ISTD_TRACE_FNC("void isig::KavrelEventStream::EnableEvent(const isig::EventIdType&)");
    _CheckId("EnableEvent", id);
    EventIdType argument = id;
    const bool answered = _Command("EnableEvent", c_eventEnableRequest, &argument);
    _Record(answered, [id](Record& r) { r.enabledMask |= _Bit(id); });
}

void KavrelEventStream::DisableEvent(const EventIdType& id)
{
    ISTD_TRACE_FNC("void isig::KavrelEventStream::DisableEvent(const isig::EventIdType&)");
    _CheckId("DisableEvent", id);
    EventIdType argument = id;
    const bool answered = _Command("DisableEvent", c_eventDisableRequest, &argument);
    _Record(answered, [id](Record& r) { r.enabledMask &= ~_Bit(id); });
}

void KavrelEventStream::ResetEventCounter(const EventIdType& id)
{
    ISTD_TRACE_FNC("void isig::KavrelEventStream::ResetEventCounter(const isig::EventIdType&)");
    _CheckId("ResetEventCounter", id);
    EventIdType argument = id;
    const bool answered = _Command("ResetEventCounter", c_eventResetCounterRequest, &argument);
    _Record(answered, [id](Record& r) { r.counters[id] = 0; });
}

void KavrelEventStream::IncrementMachineTime(const uint64_t& increment)
{
    ISTD_TRACE_FNC("void isig::KavrelEventStream::IncrementMachineTime(const uint64_t&)");
    uint64_t argument = increment;
    const bool answered = _Command("IncrementMachineTime", c_eventIncrementTimeRequest, &argument);
    _Record(answered, [increment](Record& r) { r.timeOffset += increment; });
}

void KavrelEventStream::AdjustMachineTime(const int64_t& offset)
{
    ISTD_TRACE_FNC("void isig::KavrelEventStream::AdjustMachineTime(const int64_t&)");
    int64_t argument = offset;
    const bool answered = _Command("AdjustMachineTime", c_eventAdjustTimeRequest, &argument);
    // Two's complement: adding the offset's bits is adding the offset modulo 2^64.
    _Record(answered, [offset](Record& r) { r.timeOffset += static_cast<uint64_t>(offset); });
}

void KavrelEventStream::SetSyncEvent(const EventIdType& id)
{
    ISTD_TRACE_FNC("void isig::KavrelEventStream::SetSyncEvent(const isig::EventIdType&)");
    _CheckId("SetSyncEvent", id);
    EventIdType argument = id;
    const bool answered = _Command("SetSyncEvent", c_eventSetSyncRequest, &argument);
    _Record(answered, [id](Record& r) {
        r.syncEvent = id;
        r.syncEventSet = true;
    });
}

void KavrelEventStream::SetDefaultEvents(const uint64_t& mask)
{
    ISTD_TRACE_FNC("void isig::KavrelEventStream::SetDefaultEvents(const uint64_t&)");
    uint64_t argument = mask;
    const bool answered = _Command("SetDefaultEvents", c_eventSetDefaultRequest, &argument);
    _Record(answered, [mask](Record& r) { r.enabledMask = mask; });
}

KavrelMachineTime KavrelEventStream::GetCurrentMachineTime() const
{
    uint64_t now = 0;
    if (_Command("GetCurrentMachineTime", c_eventGetTimeRequest, &now)) {
        return KavrelMachineTime(now);
    }
    std::lock_guard<std::mutex> lock(m_recordMutex);
    return KavrelMachineTime(_MonotonicNs() + m_record.timeOffset);
}

uint64_t KavrelEventStream::GetEventCounter(const EventIdType& id) const
{
    _CheckId("GetEventCounter", id);
    EventCounter counter{id, 0};
    if (_Command("GetEventCounter", c_eventGetCounterRequest, &counter)) {
        return counter.count;
    }
    std::lock_guard<std::mutex> lock(m_recordMutex);
    return m_record.counters[id];
}

KavrelEventStream::Record KavrelEventStream::GetRecord() const
{
    std::lock_guard<std::mutex> lock(m_recordMutex);
    return m_record;
}

int KavrelEventStream::ReadInput(ArrayType& array)
{
    const int result = KavrelStream<EventTraits>::ReadInput(array);
    if (array.GetLength() != 0) {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        for (unsigned i = 0; i < array.GetLength(); ++i) {
            const EventIdType id = array.Data()[i].id;
            if (id <= c_maxEventId) {
                ++m_record.counters[id];
            }
        }
    }
    return result;
}

} // namespace isig
