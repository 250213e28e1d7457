#ifndef ISIG_EVENT_STREAM_H
#define ISIG_EVENT_STREAM_H

// The event stream of a timing board: isig::EventStruct atoms from the board's ".event" device,
// one per group, and the commands of the device (which events the board generates, their
// counters, the board's machine time).
//
//     auto* stream = new isig::KavrelEventStream(board.GetDecoratedName("event"),
//                                                board.CreateDeviceName(bmc::eEventDevice, 0),
//                                                true, board.GetName());
//     isig::KavrelEventStream::Client client(stream, "ltim_event_clt", (isig::c_maxEventId + 1) * 2);
//     if (client.Open() == isig::eSuccess) {
//         dynamic_cast<isig::KavrelEventStream&>(client.GetStream()).EnableEvent(2);
//         client.Close();
//     }
//
// Each command is an ioctl (isig/event_device.h) on the open device, or on a descriptor opened
// for the command while the stream does not dispatch. The stream also keeps a record of what it
// commanded (the events enabled, the machine-time offset, the synchronisation event) and counts
// the events it read per id since their counter's reset. A device that does not know the
// requests (ENOTTY: a FIFO or plain file standing in for it) changes only the record, and the
// machine time is then CLOCK_MONOTONIC in ns plus the recorded offset. Any other failure throws
// istd::Exception "isig: <stream>: <command> failed: <reason>" and leaves the record unchanged.

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "isig/event_device.h"
#include "isig/isig_export.h"
#include "isig/kavrel_stream.h"
#include "isig/stream_client.h"

namespace isig {

template <>
struct AtomNames<EventStruct> {
    static constexpr std::array<const char*, 4> names{"id", "value", "timestamp", "reserved"};
};

using EventTraits = SignalTraits<uint64_t, EventStruct, 1u>;

// A board's machine time.
class ISIG_API KavrelMachineTime {
public:
    explicit KavrelMachineTime(uint64_t value = 0) : m_value(value) {}
    uint64_t Value() const { return m_value; }

private:
    uint64_t m_value;
};

class ISIG_API KavrelEventStream : public KavrelStream<EventTraits> {
public:
    class ISIG_API Client : public StreamClient<EventTraits> {
    public:
        // The stream may be null: Open then answers -5.
        Client(KavrelEventStream* stream, const std::string& name, unsigned queueSize);

        KavrelEventStream* GetEventStream() const { return m_eventStream; }
        // The stream, for a cast to its class; throws istd::Exception without one.
        SignalSource& GetStream() const;
        // The stream's GetCurrentMachineTime; throws istd::Exception without a stream.
        KavrelMachineTime GetCurrentMachineTime() const;

    private:
        KavrelEventStream* const m_eventStream;
    };

    // What the stream commanded, and the events it read.
    struct Record {
        uint64_t enabledMask = c_allEventMask;
        uint64_t timeOffset = 0; // the sum of increments and adjustments, modulo 2^64
        EventIdType syncEvent = 0;
        bool syncEventSet = false;
        std::array<uint64_t, c_maxEventId + 1> counters{}; // events read since the reset, by id
        uint64_t commands = 0;     // commands that succeeded
        uint64_t recordedOnly = 0; // of those, the device did not know (ENOTTY)
    };

    // onDemand: dispatching while clients are open (true, as boards make it), or continuously
    // once Start() was called (false). Group size 1.
    KavrelEventStream(const std::string& name, const std::string& devicePath, bool onDemand, const std::string& owner);
    ~KavrelEventStream() override;

    // The board generates the event (or no longer does). Ids above c_maxEventId throw.
    void EnableEvent(const EventIdType& id);
    void DisableEvent(const EventIdType& id);
    virtual void ResetEventCounter(const EventIdType& id);
    // Moves the board's machine time by the increment, or by the signed offset.
    virtual void IncrementMachineTime(const uint64_t& increment);
    virtual void AdjustMachineTime(const int64_t& offset);
    // The event, given after the offset, that synchronises the machine time.
    virtual void SetSyncEvent(const EventIdType& id);
    // The default event configuration: exactly the events of the mask are generated.
    virtual void SetDefaultEvents(const uint64_t& mask);

    KavrelMachineTime GetCurrentMachineTime() const;
    // Events since the counter's reset: the device's count, or the events read when the device
    // does not count.
    uint64_t GetEventCounter(const EventIdType& id) const;
    Record GetRecord() const;

protected:
    // Counts the events read.
    int ReadInput(ArrayType& array) override;

private:
    // Issues the request; false when the device does not know it (ENOTTY); throws otherwise.
    bool _Command(const char* what, unsigned long request, void* argument) const;
    void _CheckId(const char* what, EventIdType id) const;
    // Applies a successful command to the record.
    template <class F>
    void _Record(bool answered, F change);

    mutable std::mutex m_recordMutex; // m_record; innermost
    Record m_record;
};

} // namespace isig

#endif
