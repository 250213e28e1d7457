#pragma once
// Calls on board device files, in place of the board device driver's interface.
//
// Open, Ioctl, Mmap, Munmap and Close behave as the system calls of the same names (same
// arguments, -1 or MAP_FAILED with errno set on failure), so callers keep their own error texts.
// A simulator may take over a device path at run time (ClaimDevice): opening that path then reaches
// its DeviceHandler, and every later call on a descriptor opened from it, and on an area mapped
// from such a descriptor, goes to the same handler, also after the path is released, until the
// descriptor is closed or the area unmapped. Every other path and descriptor reaches the system.
//
// A handler hands out real descriptors that it owns (a duplicate of a memory file, a pipe, an
// event descriptor), so descriptor numbers never collide with real files. Stream devices are read
// with Read and waited for with Poll: a handler that serves reads (OnRead) keeps its descriptor's
// readiness right (readable while a read would not block), so that Poll, which polls the real
// descriptors, serves simulated and real devices alike.

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "devio/devio_export.h"

namespace devio {

// The argument of the mapping request: the driver fills it; only the first word is defined.
struct DEVIO_API MapInfo {
    uint32_t size = 0;         // length in bytes of the area to map from offset 0
    uint32_t reserved[5] = {}; // not used; the driver may leave anything here
};
static_assert(sizeof(MapInfo) == 24, "the mapping request carries a 24-byte argument");

// The mapping request of a monitor device: a read request ('l', number 0) of a MapInfo, that is
// direction read (2) << 30 | size 24 << 16 | type 'l' << 8 | number 0.
constexpr unsigned long c_mapInfoRequest = 0x80186C00UL;
static_assert(c_mapInfoRequest ==
                  ((2UL << 30) | (sizeof(MapInfo) << 16) | (static_cast<unsigned long>('l') << 8)),
              "request number and argument size agree");

// A simulated device file. Each operation follows the system call's conventions: on failure
// return -1 (or MAP_FAILED from OnMmap) and set errno. Calls may come from several threads.
class DEVIO_API DeviceHandler {
public:
    virtual ~DeviceHandler() = default;

    // Returns a new descriptor that the handler owns, or -1.
    virtual int OnOpen(const std::string& path, int flags) = 0;
    // Default: the request is unknown (ENOTTY).
    virtual int OnIoctl(int fd, unsigned long request, void* argument);
    // Default: the device cannot be mapped (ENODEV).
    virtual void* OnMmap(int fd, void* address, size_t length, int protection, int flags,
                         off_t offset);
    // Called for areas that OnMmap returned, with the arguments of the Munmap call.
    // Default: the system's munmap.
    virtual int OnMunmap(void* address, size_t length);
    // Closes a descriptor that OnOpen returned. Default: the system's close.
    virtual int OnClose(int fd);
    // Reads from a descriptor that OnOpen returned: bytes read, 0 at end of file, or -1 with
    // errno (EAGAIN when opened with O_NONBLOCK and nothing is there). Default: the system's read.
    virtual ssize_t OnRead(int fd, void* buffer, size_t bytes);
};

using DeviceHandlerPtr = std::shared_ptr<DeviceHandler>;

// Routes the path to the handler. Paths are compared as given, byte for byte. Throws
// istd::Exception when the path is empty, the handler null, or the path already claimed.
DEVIO_API void ClaimDevice(const std::string& path, DeviceHandlerPtr handler);

// Ends the routing of new opens of the path; returns false when it was not claimed. Descriptors
// and areas already handed out stay with their handler.
DEVIO_API bool ReleaseDevice(const std::string& path);

DEVIO_API int Open(const std::string& path, int flags, mode_t mode = 0);
DEVIO_API int Ioctl(int fd, unsigned long request, void* argument);
DEVIO_API void* Mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset);
DEVIO_API int Munmap(void* address, size_t length);
DEVIO_API int Close(int fd);
DEVIO_API ssize_t Read(int fd, void* buffer, size_t bytes);
// The system's poll over real and simulated descriptors alike (see above).
DEVIO_API int Poll(struct pollfd* fds, nfds_t count, int timeoutMs);

} // namespace devio
