#include "sim/devices/stream_device.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "devio/device_file.h"
#include "istd/exception.h"
#include "istd/growing_ring.h"
#include "istd/trace.h"

namespace sim {

class StreamDevice::Handler : public devio::DeviceHandler {
public:
    Handler(const std::string& path, size_t atomSize) : m_path(path), m_atomSize(atomSize) {}

    const std::string& GetPath() const { return m_path; }
    size_t GetAtomSize() const { return m_atomSize; }

    int OnOpen(const std::string&, int flags) override
    {
        ISTD_TRACE_FNC("int sim::StreamDevice::Handler::OnOpen(const std::string&, int)");
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_openFailure != 0) {
            errno = m_openFailure;
            return -1;
        }
        const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd < 0) {
            return -1;
        }
        m_opens[fd].flags = flags;
        ++m_openCount;
        m_changed.notify_all();
        return fd;
    }

    ssize_t OnRead(int fd, void* buffer, size_t bytes) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_readCount;
        auto it = m_opens.find(fd);
        while (it != m_opens.end() && it->second.chunks.empty()) {
            if ((it->second.flags & O_NONBLOCK) != 0) {
                errno = EAGAIN;
                return -1;
            }
            m_changed.wait(lock);
            it = m_opens.find(fd);
        }
        if (it == m_opens.end()) {
            errno = EBADF;
            return -1;
        }
        Open& open = it->second;
        Chunk& chunk = open.chunks.front();
        if (chunk.end) {
            return 0;
        }
        if (chunk.error != 0) {
            const int error = chunk.error;
            open.chunks.pop_front();
            _UpdateReady(fd, open);
            errno = error;
            return -1;
        }
        const size_t n = std::min(bytes, chunk.bytes.size() - chunk.position);
        if (n != 0) {
            std::memcpy(buffer, chunk.bytes.data() + chunk.position, n);
        }
        chunk.position += n;
        open.unread -= n;
        if (chunk.position == chunk.bytes.size()) {
            // Its storage serves a later write.
            if (m_spare.size() < c_spareChunks && m_spareBytes + chunk.bytes.capacity() <= c_spareBytes) {
                m_spareBytes += chunk.bytes.capacity();
                m_spare.push_back(std::move(chunk.bytes));
            }
            open.chunks.pop_front();
        }
        _UpdateReady(fd, open);
        m_changed.notify_all();
        return static_cast<ssize_t>(n);
    }

    int OnIoctl(int, unsigned long request, void* argument) override
    {
        IoctlFunction handler;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            handler = m_ioctl;
        }
        if (!handler) {
            errno = ENOTTY;
            return -1;
        }
        return handler(request, argument);
    }

    int OnClose(int fd) override
    {
        ISTD_TRACE_FNC("int sim::StreamDevice::Handler::OnClose(int)");
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_opens.find(fd);
        if (it != m_opens.end()) {
            m_dropped += it->second.unread;
            m_opens.erase(it);
            ++m_closeCount;
        }
        m_changed.notify_all();
        return ::close(fd);
    }

    size_t Write(const uint8_t* data, size_t bytes)
    {
        if (bytes == 0) {
            return 0;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_opens.empty()) {
            m_dropped += bytes;
            return 0;
        }
        // The descriptors open now, in a list of this thread's that a write reuses.
        thread_local std::vector<int> targets;
        targets.clear();
        for (const auto& entry : m_opens) {
            targets.push_back(entry.first);
        }
        size_t delivered = 0;
        for (const int fd : targets) {
            auto it = m_opens.find(fd);
            // Room for the write; a descriptor holding nothing takes any write.
            while (it != m_opens.end() && it->second.unread != 0 && it->second.unread + bytes > m_capacity) {
                m_changed.wait(lock);
                it = m_opens.find(fd);
            }
            if (it == m_opens.end()) {
                m_dropped += bytes;
                continue;
            }
            Chunk chunk;
            if (!m_spare.empty()) {
                chunk.bytes = std::move(m_spare.back());
                m_spare.pop_back();
                m_spareBytes -= chunk.bytes.capacity();
            }
            chunk.bytes.assign(data, data + bytes);
            it->second.chunks.push_back(std::move(chunk));
            it->second.unread += bytes;
            _UpdateReady(fd, it->second);
            delivered = bytes;
        }
        m_changed.notify_all();
        return delivered;
    }

    void WriteMarker(bool end, int error)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& [fd, open] : m_opens) {
            Chunk chunk;
            chunk.end = end;
            chunk.error = error;
            open.chunks.push_back(std::move(chunk));
            _UpdateReady(fd, open);
        }
        m_changed.notify_all();
    }

    void SetOpenFailure(int error)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openFailure = error;
    }
    void SetCapacity(size_t bytes)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_capacity = bytes;
        m_changed.notify_all();
    }
    size_t GetCapacity() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_capacity;
    }
    void SetIoctlHandler(IoctlFunction handler)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ioctl = std::move(handler);
    }

    size_t GetOpenDescriptorCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_opens.size();
    }
    uint64_t GetOpenCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_openCount;
    }
    uint64_t GetCloseCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closeCount;
    }
    uint64_t GetDroppedBytes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_dropped;
    }
    uint64_t GetReadCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_readCount;
    }
    size_t GetUnreadBytes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return _Unread();
    }

    bool WaitForOpen(size_t count, std::chrono::milliseconds timeout) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_opens.size() >= count; });
    }
    bool WaitUntilRead(std::chrono::milliseconds timeout) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return _Unread() == 0; });
    }

private:
    struct Chunk {
        std::vector<uint8_t> bytes;
        size_t position = 0;
        bool end = false; // stays: every read from here on finds the end
        int error = 0;    // read once
    };
    struct Open {
        int flags = 0;
        istd::GrowingRing<Chunk> chunks; // steady writing and reading allocate nothing
        size_t unread = 0; // data bytes in chunks
        bool ready = false;
    };

    // The descriptor is readable exactly while a read would not wait.
    static void _UpdateReady(int fd, Open& open)
    {
        const bool ready = !open.chunks.empty();
        if (ready && !open.ready) {
            ::eventfd_write(fd, 1);
        } else if (!ready && open.ready) {
            eventfd_t value = 0;
            ::eventfd_read(fd, &value);
        }
        open.ready = ready;
    }

    size_t _Unread() const
    {
        size_t unread = 0;
        for (const auto& entry : m_opens) {
            unread += entry.second.unread;
        }
        return unread;
    }

    const std::string m_path;
    const size_t m_atomSize;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::map<int, Open> m_opens;
    size_t m_capacity = size_t{1} << 20;
    int m_openFailure = 0;
    uint64_t m_openCount = 0;
    uint64_t m_closeCount = 0;
    uint64_t m_dropped = 0;
    uint64_t m_readCount = 0;
    IoctlFunction m_ioctl;
    // Storage of chunks read, for the next writes.
    static constexpr size_t c_spareChunks = 1024;
    static constexpr size_t c_spareBytes = size_t{1} << 20;
    size_t m_spareBytes = 0; // capacity of the spare storage
    std::vector<std::vector<uint8_t>> m_spare = [] {
        std::vector<std::vector<uint8_t>> spare;
        spare.reserve(c_spareChunks);
        return spare;
    }();
};

StreamDevice::StreamDevice(const std::string& path, size_t atomSize)
{
    ISTD_TRACE_FNC("sim::StreamDevice::StreamDevice(const std::string&, size_t)");
    if (atomSize == 0) {
        throw istd::Exception("sim: stream device " + path + " with atoms of 0 bytes");
    }
    m_handler = std::make_shared<Handler>(path, atomSize);
    devio::ClaimDevice(path, m_handler);
}

StreamDevice::~StreamDevice()
{
    devio::ReleaseDevice(m_handler->GetPath());
}

const std::string& StreamDevice::GetPath() const
{
    return m_handler->GetPath();
}
size_t StreamDevice::GetAtomSize() const
{
    return m_handler->GetAtomSize();
}

size_t StreamDevice::Write(const void* data, size_t bytes)
{
    return m_handler->Write(static_cast<const uint8_t*>(data), bytes);
}

size_t StreamDevice::WriteSplit(const void* data, size_t bytes, const std::vector<size_t>& sizes)
{
    const auto* next = static_cast<const uint8_t*>(data);
    size_t left = bytes;
    size_t delivered = 0;
    for (size_t size : sizes) {
        const size_t n = std::min(size, left);
        delivered += m_handler->Write(next, n);
        next += n;
        left -= n;
    }
    delivered += m_handler->Write(next, left);
    return delivered;
}

void StreamDevice::WriteEnd()
{
    m_handler->WriteMarker(true, 0);
}

void StreamDevice::WriteError(int error)
{
    m_handler->WriteMarker(false, error);
}

void StreamDevice::SetOpenFailure(int error)
{
    m_handler->SetOpenFailure(error);
}
void StreamDevice::SetCapacity(size_t bytes)
{
    m_handler->SetCapacity(bytes);
}
size_t StreamDevice::GetCapacity() const
{
    return m_handler->GetCapacity();
}
size_t StreamDevice::GetOpenDescriptorCount() const
{
    return m_handler->GetOpenDescriptorCount();
}
uint64_t StreamDevice::GetOpenCount() const
{
    return m_handler->GetOpenCount();
}
uint64_t StreamDevice::GetCloseCount() const
{
    return m_handler->GetCloseCount();
}
uint64_t StreamDevice::GetDroppedBytes() const
{
    return m_handler->GetDroppedBytes();
}
uint64_t StreamDevice::GetReadCount() const
{
    return m_handler->GetReadCount();
}
size_t StreamDevice::GetUnreadBytes() const
{
    return m_handler->GetUnreadBytes();
}
bool StreamDevice::WaitForOpen(size_t count, std::chrono::milliseconds timeout) const
{
    return m_handler->WaitForOpen(count, timeout);
}
bool StreamDevice::WaitUntilRead(std::chrono::milliseconds timeout) const
{
    return m_handler->WaitUntilRead(timeout);
}
void StreamDevice::SetIoctlHandler(IoctlFunction handler)
{
    m_handler->SetIoctlHandler(std::move(handler));
}

// The event device's state, shared with the handler's request function: it may outlive the
// device object as long as a descriptor stays open.
struct EventStreamDevice::State {
    uint64_t Now() const { return clock() + offset; }

    // Answers one request; the caller holds the mutex.
    int Answer(unsigned long request, void* argument, uint64_t& recorded)
    {
        if (argument == nullptr) {
            return EFAULT;
        }
        if (failure != 0) {
            return failure;
        }
        auto id = [&](isig::EventIdType value) { return value <= isig::c_maxEventId; };
        uint64_t value = 0;
        switch (request) {
        case isig::c_eventEnableRequest:
        case isig::c_eventDisableRequest:
        case isig::c_eventResetCounterRequest:
        case isig::c_eventSetSyncRequest:
            std::memcpy(&value, argument, sizeof(value));
            recorded = value;
            if (!id(value)) {
                return EINVAL;
            }
            if (request == isig::c_eventEnableRequest) {
                enabled |= uint64_t{1} << value;
            } else if (request == isig::c_eventDisableRequest) {
                enabled &= ~(uint64_t{1} << value);
            } else if (request == isig::c_eventResetCounterRequest) {
                counters[value] = 0;
            } else {
                syncEvent = static_cast<int64_t>(value);
            }
            return 0;
        case isig::c_eventIncrementTimeRequest:
        case isig::c_eventAdjustTimeRequest:
            // Both add the argument's bits modulo 2^64; the signed one as two's complement.
            std::memcpy(&value, argument, sizeof(value));
            recorded = value;
            offset += value;
            return 0;
        case isig::c_eventSetDefaultRequest:
            std::memcpy(&value, argument, sizeof(value));
            recorded = value;
            enabled = value;
            return 0;
        case isig::c_eventGetTimeRequest:
            value = Now();
            std::memcpy(argument, &value, sizeof(value));
            return 0;
        case isig::c_eventGetMaskRequest:
            std::memcpy(argument, &enabled, sizeof(enabled));
            return 0;
        case isig::c_eventGetCounterRequest: {
            isig::EventCounter counter{};
            std::memcpy(&counter, argument, sizeof(counter));
            recorded = counter.id;
            if (!id(counter.id)) {
                return EINVAL;
            }
            counter.count = counters[counter.id];
            std::memcpy(argument, &counter, sizeof(counter));
            return 0;
        }
        default:
            return ENOTTY;
        }
    }

    mutable std::mutex mutex;
    std::function<uint64_t()> clock = [] {
        struct timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    };
    uint64_t offset = 0;
    uint64_t enabled = isig::c_allEventMask;
    uint64_t counters[isig::c_maxEventId + 1] = {};
    int64_t syncEvent = -1;
    int failure = 0;
    std::vector<Request> requests;
};

EventStreamDevice::EventStreamDevice(const std::string& path)
    : StreamDevice(path, sizeof(isig::EventStruct)), m_state(std::make_shared<State>())
{
    std::shared_ptr<State> state = m_state;
    SetIoctlHandler([state](unsigned long request, void* argument) {
        std::lock_guard<std::mutex> lock(state->mutex);
        uint64_t recorded = 0;
        const int error = state->Answer(request, argument, recorded);
        state->requests.push_back({request, recorded, error});
        if (error != 0) {
            errno = error;
            return -1;
        }
        return 0;
    });
}

EventStreamDevice::~EventStreamDevice() = default;

bool EventStreamDevice::WriteEvent(isig::EventIdType id, uint64_t value, uint64_t timestamp)
{
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (id <= isig::c_maxEventId) {
            if ((m_state->enabled & (uint64_t{1} << id)) == 0) {
                return false;
            }
            ++m_state->counters[id];
        }
    }
    const isig::EventStruct event{id, value, timestamp, 0};
    Write(&event, sizeof(event));
    return true;
}

bool EventStreamDevice::WriteEvent(isig::EventIdType id, uint64_t value)
{
    return WriteEvent(id, value, GetMachineTime());
}

void EventStreamDevice::SetClock(std::function<uint64_t()> clock)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->clock = std::move(clock);
}
uint64_t EventStreamDevice::GetMachineTime() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->Now();
}
uint64_t EventStreamDevice::GetTimeOffset() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->offset;
}
uint64_t EventStreamDevice::GetEnabledMask() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->enabled;
}
uint64_t EventStreamDevice::GetCounter(isig::EventIdType id) const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return id <= isig::c_maxEventId ? m_state->counters[id] : 0;
}
int64_t EventStreamDevice::GetSyncEvent() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->syncEvent;
}
std::vector<EventStreamDevice::Request> EventStreamDevice::GetRequests() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->requests;
}
void EventStreamDevice::SetRequestFailure(int error)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->failure = error;
}

} // namespace sim
