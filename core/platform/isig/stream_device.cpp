#include "isig/stream_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "devio/device_file.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace isig {

namespace {

// A reader at the end of the device waits this long before it answers -2.
constexpr int c_endOfFileWaitMs = 100;

// What these functions keep per open descriptor.
struct Device {
    Device(const std::string& p, int f, int w, unsigned size) : path(p), fd(f), wake(w), atomSize(size) {}

    const std::string path;
    const int fd;
    const int wake; // an event descriptor, readable once interrupted
    const unsigned atomSize;

    std::mutex mutex; // everything below
    std::condition_variable left;
    std::vector<uint8_t> partial; // the start of an atom that has not arrived whole
    int pendingError = 0;         // a failure met after atoms were read, for the next read
    unsigned readers = 0;
    bool interrupted = false;
    uint64_t atomsRead = 0;
    uint64_t partialReads = 0;
};

using DevicePtr = std::shared_ptr<Device>;

struct DeviceTable {
    std::mutex mutex;
    std::unordered_map<int, DevicePtr> devices;
};

DeviceTable& _Table()
{
    // Never destroyed: devices may be closed from static destructors.
    static DeviceTable* table = new DeviceTable;
    return *table;
}

DevicePtr _Find(int fd)
{
    DeviceTable& table = _Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.devices.find(fd);
    return it == table.devices.end() ? nullptr : it->second;
}

// Marks the device interrupted and wakes its readers; the wake descriptor stays readable.
void _Interrupt(Device& device)
{
    std::lock_guard<std::mutex> lock(device.mutex);
    if (!device.interrupted) {
        device.interrupted = true;
        ::eventfd_write(device.wake, 1);
    }
}

// Counts the calling thread as a reader of the device while it lives.
class Reading {
public:
    explicit Reading(Device& device) : m_device(device) {}
    ~Reading()
    {
        std::lock_guard<std::mutex> lock(m_device.mutex);
        --m_device.readers;
        m_device.left.notify_all();
    }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

private:
    Device& m_device;
};

// After a read that brought whole atoms: reads on without waiting while the room holds more and
// the device has more ready. What stops it (nothing ready, the end) is met again by the next
// read, except a failure, which the device reports once: the next read answers it.
void _ReadReady(Device& device, uint8_t* out, size_t room, size_t& have)
{
    while (have < room) {
        const ssize_t got = devio::Read(device.fd, out + have, room - have);
        if (got > 0) {
            have += static_cast<size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            std::lock_guard<std::mutex> lock(device.mutex);
            device.pendingError = errno;
        }
        return;
    }
}

} // namespace

int OpenKavrelStreamDevice(const std::string& path, unsigned atomSize, unsigned groupSize)
{
    ISTD_TRACE_FNC("int isig::OpenKavrelStreamDevice(const std::string&, unsigned, unsigned)");
    if (atomSize == 0) {
        throw istd::Exception("isig: Can't open stream device " + path + ": the atom size is 0");
    }
    // Read and write, so that a FIFO standing in for the device never reports its end; never
    // blocking, since every read follows a poll.
    const int fd = devio::Open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throw istd::Exception("isig: Can't open stream device " + path + ": " + std::strerror(errno));
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        const int error = errno;
        devio::Close(fd);
        throw istd::Exception("isig: Can't open stream device " + path + ": " + std::strerror(error));
    }
    auto device = std::make_shared<Device>(path, fd, wake, atomSize);
    DeviceTable& table = _Table();
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        // A number still listed was closed behind these functions' back; the new device wins.
        table.devices[fd] = std::move(device);
    }
    ISTD_TRACE(3, "isig: stream device " << path << " open as " << fd << " (atoms of " << atomSize
                                         << " bytes, groups of " << groupSize << ")");
    return fd;
}

int KavrelStreamRead(int fd, void* data, unsigned bytes, unsigned atomSize, unsigned& atoms)
{
    atoms = 0;
    const DevicePtr device = _Find(fd);
    if (!device) {
        errno = EBADF;
        return eFailure;
    }
    if (atomSize != device->atomSize || bytes < atomSize) {
        ISTD_TRACE(1, "isig: " << device->path << ": a read of " << bytes << " bytes in atoms of " << atomSize
                               << " bytes (the device was opened for " << device->atomSize << ")");
        errno = EINVAL;
        return eFailure;
    }
    const size_t room = size_t{bytes} / atomSize * atomSize;
    auto* out = static_cast<uint8_t*>(data);
    size_t have = 0;
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        if (device->interrupted) {
            return eNoData;
        }
        if (device->pendingError != 0) {
            const int error = device->pendingError;
            device->pendingError = 0;
            ISTD_TRACE(2, "isig: " << device->path << ": read failed: " << std::strerror(error));
            errno = error;
            return eFailure;
        }
        ++device->readers;
        have = device->partial.size();
        if (have != 0) {
            std::memcpy(out, device->partial.data(), have);
            device->partial.clear();
        }
    }
    Reading reading(*device);
    int result = eFailure;
    int error = 0;
    for (;;) {
        struct pollfd fds[2] = {{fd, POLLIN, 0}, {device->wake, POLLIN, 0}};
        if (devio::Poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        if (fds[1].revents != 0) {
            result = eNoData;
            break;
        }
        if ((fds[0].revents & POLLNVAL) != 0) {
            error = EBADF;
            break;
        }
        const ssize_t got = devio::Read(fd, out + have, room - have);
        if (got > 0) {
            have += static_cast<size_t>(got);
            if (have >= atomSize) {
                // Everything else that is ready comes along, so that a burst costs one wake-up.
                _ReadReady(*device, out, room, have);
                atoms = static_cast<unsigned>(have / atomSize);
                result = eSuccess;
                break;
            }
            std::lock_guard<std::mutex> lock(device->mutex);
            ++device->partialReads;
            continue;
        }
        if (got == 0) {
            // The end: wait a little (an interrupt still ends the wait), then answer no data.
            struct pollfd wake = {device->wake, POLLIN, 0};
            devio::Poll(&wake, 1, c_endOfFileWaitMs);
            result = eNoData;
            break;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            continue;
        }
        error = errno;
        break;
    }
    // An atom that arrived in part waits for the rest, whatever the result.
    const size_t whole = size_t{atoms} * atomSize;
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        device->partial.assign(out + whole, out + have);
        device->atomsRead += atoms;
        if (result == eSuccess && have != whole) {
            ++device->partialReads;
        }
    }
    if (result == eFailure) {
        ISTD_TRACE(2, "isig: " << device->path << ": read failed: " << std::strerror(error));
        errno = error;
    }
    return result;
}

void InterruptKavrelStreamDevice(int fd)
{
    if (const DevicePtr device = _Find(fd)) {
        _Interrupt(*device);
    }
}

void CloseKavrelStreamDevice(int fd)
{
    ISTD_TRACE_FNC("void isig::CloseKavrelStreamDevice(int)");
    DevicePtr device;
    {
        // Taken out first: a second close finds nothing, and a descriptor that gets the number
        // after the close below is a new device.
        DeviceTable& table = _Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        const auto it = table.devices.find(fd);
        if (it == table.devices.end()) {
            return;
        }
        device = std::move(it->second);
        table.devices.erase(it);
    }
    _Interrupt(*device);
    {
        // Never closed under a reader: the number could be reused by another open at once.
        std::unique_lock<std::mutex> lock(device->mutex);
        while (!device->left.wait_for(lock, std::chrono::seconds(1), [&] { return device->readers == 0; })) {
            ISTD_TRACE(1, "isig: " << device->path << ": a read does not end; waiting for it to close the device.");
        }
    }
    ::close(device->wake);
    if (devio::Close(fd) != 0) {
        ISTD_TRACE(1, "isig: " << device->path << ": close failed: " << std::strerror(errno));
    }
    ISTD_TRACE(3, "isig: stream device " << device->path << " (" << fd << ") closed");
}

void GetKavrelDeviceStatistics(int fd, unsigned atomSize, SignalStats& stats)
{
    if (const DevicePtr device = _Find(fd)) {
        std::lock_guard<std::mutex> lock(device->mutex);
        stats.push_back({"device", device->atomsRead, device->partialReads, atomSize});
    }
}

} // namespace isig
