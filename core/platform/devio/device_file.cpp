#include "devio/device_file.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <unordered_map>

#include "istd/exception.h"
#include "istd/trace.h"

namespace devio {

namespace {

struct Area {
    size_t length;
    DeviceHandlerPtr handler;
};

// Which calls go to a simulator. Handlers are called outside the lock so that they may use devio
// themselves (claim register ranges for a mapping, for example).
struct DeviceTable {
    std::mutex mutex;
    std::unordered_map<std::string, DeviceHandlerPtr> paths;
    std::unordered_map<int, DeviceHandlerPtr> descriptors;
    std::map<uintptr_t, Area> areas; // by first address
};

DeviceTable& _Table()
{
    // Never destroyed: descriptors may be closed from static destructors of other libraries.
    static DeviceTable* table = new DeviceTable;
    return *table;
}

DeviceHandlerPtr _HandlerOf(int fd)
{
    DeviceTable& table = _Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.descriptors.find(fd);
    return it == table.descriptors.end() ? nullptr : it->second;
}

} // namespace

int DeviceHandler::OnIoctl(int, unsigned long, void*)
{
    errno = ENOTTY;
    return -1;
}

void* DeviceHandler::OnMmap(int, void*, size_t, int, int, off_t)
{
    errno = ENODEV;
    return MAP_FAILED;
}

int DeviceHandler::OnMunmap(void* address, size_t length)
{
    return ::munmap(address, length);
}

int DeviceHandler::OnClose(int fd)
{
    return ::close(fd);
}

ssize_t DeviceHandler::OnRead(int fd, void* buffer, size_t bytes)
{
    return ::read(fd, buffer, bytes);
}

void ClaimDevice(const std::string& path, DeviceHandlerPtr handler)
{
    ISTD_TRACE_FNC("void devio::ClaimDevice(const std::string&, devio::DeviceHandlerPtr)");
    if (path.empty()) {
        throw istd::Exception("devio: cannot claim a device without a path");
    }
    if (!handler) {
        throw istd::Exception("devio: device " + path + " claimed without a handler");
    }
    DeviceTable& table = _Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (!table.paths.emplace(path, std::move(handler)).second) {
        throw istd::Exception("devio: device " + path + " is already claimed");
    }
}

bool ReleaseDevice(const std::string& path)
{
    ISTD_TRACE_FNC("bool devio::ReleaseDevice(const std::string&)");
    DeviceHandlerPtr handler; // dropped after the lock, should its destructor use devio
    DeviceTable& table = _Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.paths.find(path);
    if (it == table.paths.end()) {
        return false;
    }
    handler = std::move(it->second);
    table.paths.erase(it);
    return true;
}

int Open(const std::string& path, int flags, mode_t mode)
{
    ISTD_TRACE_FNC("int devio::Open(const std::string&, int, mode_t)");
    DeviceTable& table = _Table();
    DeviceHandlerPtr handler;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.paths.find(path);
        if (it != table.paths.end()) {
            handler = it->second;
        }
    }
    if (!handler) {
        return ::open(path.c_str(), flags, mode);
    }
    const int fd = handler->OnOpen(path, flags);
    if (fd >= 0) {
        std::lock_guard<std::mutex> lock(table.mutex);
        table.descriptors[fd] = std::move(handler);
    }
    return fd;
}

int Ioctl(int fd, unsigned long request, void* argument)
{
    ISTD_TRACE_FNC("int devio::Ioctl(int, unsigned long, void*)");
    if (DeviceHandlerPtr handler = _HandlerOf(fd)) {
        return handler->OnIoctl(fd, request, argument);
    }
    return ::ioctl(fd, request, argument);
}

void* Mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset)
{
    ISTD_TRACE_FNC("void* devio::Mmap(void*, size_t, int, int, int, off_t)");
    DeviceHandlerPtr handler = _HandlerOf(fd);
    if (!handler) {
        return ::mmap(address, length, protection, flags, fd, offset);
    }
    void* area = handler->OnMmap(fd, address, length, protection, flags, offset);
    if (area != MAP_FAILED) {
        DeviceTable& table = _Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        table.areas[reinterpret_cast<uintptr_t>(area)] = Area{length, std::move(handler)};
    }
    return area;
}

int Munmap(void* address, size_t length)
{
    ISTD_TRACE_FNC("int devio::Munmap(void*, size_t)");
    const auto a = reinterpret_cast<uintptr_t>(address);
    DeviceHandlerPtr handler;
    {
        DeviceTable& table = _Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.areas.upper_bound(a);
        if (it != table.areas.begin()) {
            --it;
            if (a == it->first) {
                // Forgotten before the handler unmaps, so that a new area at the same address is
                // never taken for this one.
                handler = std::move(it->second.handler);
                table.areas.erase(it);
            } else if (a < it->first + it->second.length) {
                // A simulated area is released whole, by the address that Mmap gave.
                errno = EINVAL;
                return -1;
            }
        }
    }
    if (handler) {
        return handler->OnMunmap(address, length);
    }
    return ::munmap(address, length);
}

int Close(int fd)
{
    ISTD_TRACE_FNC("int devio::Close(int)");
    DeviceHandlerPtr handler;
    {
        DeviceTable& table = _Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.descriptors.find(fd);
        if (it != table.descriptors.end()) {
            // Forgotten before the handler closes it, so that a real file opened under the freed
            // number at once is never routed to the handler.
            handler = std::move(it->second);
            table.descriptors.erase(it);
        }
    }
    if (handler) {
        return handler->OnClose(fd);
    }
    return ::close(fd);
}

ssize_t Read(int fd, void* buffer, size_t bytes)
{
    // No trace scope: a stream device is read for every group of atoms.
    if (DeviceHandlerPtr handler = _HandlerOf(fd)) {
        return handler->OnRead(fd, buffer, bytes);
    }
    return ::read(fd, buffer, bytes);
}

int Poll(struct pollfd* fds, nfds_t count, int timeoutMs)
{
    return ::poll(fds, count, timeoutMs);
}

} // namespace devio
