#pragma once
// Simulated stream devices: a board's ".strm<n>", ".event" and ".health" device files, from which
// the signal library reads whole atoms (isig::KavrelStreamRead, through devio).
//
// A StreamDevice claims its path in devio for as long as it lives. Every open hands out a real
// descriptor of its own (an event descriptor, readable while that open has something to read),
// so the reader polls it as it would poll a driver's. A test or a feeder fills it:
//
//     sim::StreamDevice device("/dev/kavrel3.strm0", sizeof(ZoltStruct));
//     ... a client opens the stream, which opens the device ...
//     device.WaitForOpen();
//     device.WriteAtoms(atoms);                  // whole atoms
//     device.Write(bytes, 5);                    // any bytes, as one write
//     device.WriteSplit(bytes, 32, {3, 0, 29});  // the same bytes in writes of these sizes
//     device.WriteEnd();                         // reads then find the end of the device
//     device.WriteError(EIO);                    // the read that gets here fails with EIO
//
// A write reaches every descriptor open at that moment, in order; one read returns bytes of one
// write at most, so a test splits atoms where it wants. Bytes written while no descriptor is open
// are dropped and counted, as a board drops data nobody reads; so are bytes still unread when a
// descriptor closes. Each open descriptor holds at most GetCapacity() bytes: a write waits while
// one is full, until it is read or closed.
//
// EventStreamDevice adds the event device's requests (isig/event_device.h): it records every
// request, answers them from its state (events enabled, counters, machine time = a settable
// clock plus the offset moved by the requests), and generates events as a board would.
//
// Descriptors handed out stay valid after the object is destroyed, until the reader closes them;
// only new opens of the path stop reaching the simulation.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "isig/event_device.h"

namespace sim {

class StreamDevice {
public:
    // Claims the path; throws istd::Exception when it is claimed already or atomSize is 0.
    StreamDevice(const std::string& path, size_t atomSize);
    virtual ~StreamDevice();
    StreamDevice(const StreamDevice&) = delete;
    StreamDevice& operator=(const StreamDevice&) = delete;

    const std::string& GetPath() const;
    size_t GetAtomSize() const;

    // One write of the bytes to every open descriptor; the bytes delivered to each (0 when none
    // is open, or for an empty write, which writes nothing).
    size_t Write(const void* data, size_t bytes);
    // The bytes in writes of the sizes given, in order (a 0 writes nothing); bytes beyond the
    // sizes' sum go in one last write. The bytes delivered.
    size_t WriteSplit(const void* data, size_t bytes, const std::vector<size_t>& sizes);
    template <class Atom>
    size_t WriteAtoms(const std::vector<Atom>& atoms)
    {
        return Write(atoms.data(), atoms.size() * sizeof(Atom));
    }
    // Every open descriptor reads the end of the device (0) from here on, for good.
    void WriteEnd();
    // The read of every open descriptor that reaches this point fails with the error; the data
    // after it is read on as usual.
    void WriteError(int error);

    // Opens fail with the error until it is set back to 0.
    void SetOpenFailure(int error);
    // Bytes each open descriptor holds at most (default 1 MiB; a larger write is taken whole
    // when the descriptor holds nothing).
    void SetCapacity(size_t bytes);
    size_t GetCapacity() const;

    // Descriptors open now; opens, closes and reads so far; bytes dropped (written while none
    // was open, or unread at a close); bytes waiting to be read, summed over the descriptors.
    size_t GetOpenDescriptorCount() const;
    uint64_t GetOpenCount() const;
    uint64_t GetCloseCount() const;
    uint64_t GetReadCount() const;
    uint64_t GetDroppedBytes() const;
    size_t GetUnreadBytes() const;
    // Wait until `count` descriptors are open, or until every byte written has been read (or
    // dropped); false when the time ran out first.
    bool WaitForOpen(size_t count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool WaitUntilRead(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

protected:
    // Answers ioctl requests: 0, or -1 with errno. Called on the caller's thread; may be set once,
    // by a derived constructor.
    using IoctlFunction = std::function<int(unsigned long request, void* argument)>;
    void SetIoctlHandler(IoctlFunction handler);

private:
    class Handler;
    std::shared_ptr<Handler> m_handler;
};

class EventStreamDevice : public StreamDevice {
public:
    // One request as it arrived: the argument's value (the id, increment, offset or mask; the id
    // of a counter request; 0 for the other reads) and the errno it was answered with (0: done).
    struct Request {
        unsigned long request;
        uint64_t argument;
        int error;
    };

    // Every event enabled, counters 0, offset 0, the clock CLOCK_MONOTONIC in ns.
    explicit EventStreamDevice(const std::string& path);
    ~EventStreamDevice() override;

    // Generates the event as the board would: when it is enabled (ids above isig::c_maxEventId
    // always are), it is counted and written as one atom; false when it is not. Without a time
    // stamp it carries the machine time.
    bool WriteEvent(isig::EventIdType id, uint64_t value, uint64_t timestamp);
    bool WriteEvent(isig::EventIdType id, uint64_t value);

    // The clock the machine time runs on; the machine time is the clock plus the offset.
    void SetClock(std::function<uint64_t()> clock);
    uint64_t GetMachineTime() const;
    uint64_t GetTimeOffset() const;
    uint64_t GetEnabledMask() const;
    uint64_t GetCounter(isig::EventIdType id) const;
    // The synchronisation event set, or -1 when none was.
    int64_t GetSyncEvent() const;
    std::vector<Request> GetRequests() const;
    // Requests fail with the error (and are still recorded) until it is set back to 0.
    void SetRequestFailure(int error);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace sim
