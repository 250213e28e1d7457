#include "sim/devices/monitor_device.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <vector>

#include "devio/device_file.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace sim {

namespace {

std::string _SystemError(const std::string& what, int error)
{
    return "sim: " + what + ": " + std::strerror(error);
}

} // namespace

class MonitorDevice::Handler : public devio::DeviceHandler {
public:
    Handler(const std::string& path, size_t size) : m_path(path), m_size(size)
    {
        ISTD_TRACE_FNC("sim::MonitorDevice::Handler::Handler(const std::string&, size_t)");
        if (size > std::numeric_limits<uint32_t>::max()) {
            throw istd::Exception("sim: monitor device " + path +
                                  " is larger than the mapping request can report");
        }
        m_file = ::memfd_create("kavrel-monitor", MFD_CLOEXEC);
        if (m_file < 0) {
            throw istd::Exception(_SystemError("cannot make the memory of " + path, errno));
        }
        if (::ftruncate(m_file, static_cast<off_t>(size)) != 0) {
            const int error = errno;
            ::close(m_file);
            throw istd::Exception(_SystemError("cannot size the memory of " + path, error));
        }
        if (size > 0) {
            void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, m_file, 0);
            if (memory == MAP_FAILED) {
                const int error = errno;
                ::close(m_file);
                throw istd::Exception(_SystemError("cannot map the memory of " + path, error));
            }
            m_memory = static_cast<volatile uint8_t*>(memory);
        }
    }

    ~Handler() override
    {
        if (m_memory != nullptr) {
            ::munmap(const_cast<uint8_t*>(m_memory), m_size);
        }
        ::close(m_file);
    }

    const std::string& GetPath() const { return m_path; }
    size_t GetSize() const { return m_size; }

    template <typename T>
    volatile T* Word(size_t offset) const
    {
        if (offset > m_size || m_size - offset < sizeof(T) || offset % sizeof(T) != 0) {
            throw istd::Exception("sim: " + std::to_string(sizeof(T) * 8) + "-bit word at offset " +
                                  std::to_string(offset) + " is outside the " +
                                  std::to_string(m_size) + "-byte space of " + m_path +
                                  " or not aligned");
        }
        return reinterpret_cast<volatile T*>(m_memory + offset);
    }

    void AttachModel(size_t offset, size_t length, devio::RegisterModelPtr model)
    {
        ISTD_TRACE_FNC("void sim::MonitorDevice::Handler::AttachModel(size_t, size_t, "
                       "devio::RegisterModelPtr)");
        if (length == 0 || offset > m_size || m_size - offset < length || !model) {
            throw istd::Exception("sim: model window " + std::to_string(offset) + " + " +
                                  std::to_string(length) + " does not fit the " +
                                  std::to_string(m_size) + "-byte space of " + m_path);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Window& other : m_windows) {
            if (offset < other.offset + other.length && other.offset < offset + length) {
                throw istd::Exception("sim: model window " + std::to_string(offset) + " + " +
                                      std::to_string(length) + " overlaps another window of " +
                                      m_path);
            }
        }
        Window window{offset, length, std::move(model)};
        // Claimed in every mapping before anything is kept, so that a failed claim changes nothing.
        std::vector<std::pair<Area*, devio::RangeClaim>> claims;
        for (auto& [address, area] : m_areas) {
            if (_Covers(area, window)) {
                claims.emplace_back(&area, _Claim(address, area, window));
            }
        }
        for (auto& [area, claim] : claims) {
            area->claims.push_back(std::move(claim));
        }
        m_windows.push_back(std::move(window));
    }

    void SetFailure(Step_e step, int error)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failures[step] = error;
    }

    size_t GetOpenDescriptorCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_descriptors.size();
    }

    size_t GetMappedAreaCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_areas.size();
    }

    int OnOpen(const std::string&, int flags) override
    {
        ISTD_TRACE_FNC("int sim::MonitorDevice::Handler::OnOpen(const std::string&, int)");
        std::lock_guard<std::mutex> lock(m_mutex);
        if (_Fail(Step_e::eOpen)) {
            return -1;
        }
        const int fd = ::fcntl(m_file, F_DUPFD_CLOEXEC, 0);
        if (fd >= 0) {
            m_descriptors[fd] = flags;
        }
        return fd;
    }

    int OnIoctl(int, unsigned long request, void* argument) override
    {
        ISTD_TRACE_FNC("int sim::MonitorDevice::Handler::OnIoctl(int, unsigned long, void*)");
        std::lock_guard<std::mutex> lock(m_mutex);
        if (request != devio::c_mapInfoRequest) {
            errno = ENOTTY;
            return -1;
        }
        if (argument == nullptr) {
            errno = EFAULT;
            return -1;
        }
        if (_Fail(Step_e::eRequest)) {
            return -1;
        }
        devio::MapInfo info;
        info.size = static_cast<uint32_t>(m_size);
        std::memcpy(argument, &info, sizeof(info));
        return 0;
    }

    void* OnMmap(int fd, void* address, size_t length, int protection, int flags,
                 off_t offset) override
    {
        ISTD_TRACE_FNC(
            "void* sim::MonitorDevice::Handler::OnMmap(int, void*, size_t, int, int, off_t)");
        std::lock_guard<std::mutex> lock(m_mutex);
        if (_Fail(Step_e::eMap)) {
            return MAP_FAILED;
        }
        // As a driver would: only the register space can be mapped, and writable shared mappings
        // only from a descriptor opened for writing.
        if (offset < 0 || static_cast<size_t>(offset) > m_size ||
            length > m_size - static_cast<size_t>(offset)) {
            errno = EINVAL;
            return MAP_FAILED;
        }
        const int access = m_descriptors.at(fd) & O_ACCMODE;
        if ((protection & PROT_WRITE) != 0 && (flags & MAP_SHARED) != 0 && access == O_RDONLY) {
            errno = EACCES;
            return MAP_FAILED;
        }
        void* mapped = ::mmap(address, length, protection, flags, fd, offset);
        if (mapped == MAP_FAILED) {
            return MAP_FAILED;
        }
        Area area;
        area.offset = static_cast<size_t>(offset);
        area.length = length;
        try {
            for (const Window& window : m_windows) {
                if (_Covers(area, window)) {
                    area.claims.push_back(_Claim(mapped, area, window));
                }
            }
        } catch (const std::exception& e) {
            // Only a range left claimed at this address by someone else gets here.
            ISTD_TRACE(1,
                       std::string("sim: cannot serve the models of a new mapping: ") + e.what());
            ::munmap(mapped, length);
            errno = EBUSY;
            return MAP_FAILED;
        }
        m_areas.emplace(mapped, std::move(area));
        return mapped;
    }

    int OnMunmap(void* address, size_t length) override
    {
        ISTD_TRACE_FNC("int sim::MonitorDevice::Handler::OnMunmap(void*, size_t)");
        std::lock_guard<std::mutex> lock(m_mutex);
        // Released before the memory goes, so that no access to a freed address reaches a model.
        m_areas.erase(address);
        return ::munmap(address, length);
    }

    int OnClose(int fd) override
    {
        ISTD_TRACE_FNC("int sim::MonitorDevice::Handler::OnClose(int)");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_descriptors.erase(fd);
        return ::close(fd);
    }

private:
    struct Window {
        size_t offset;
        size_t length;
        devio::RegisterModelPtr model;
    };
    struct Area {
        size_t offset = 0;
        size_t length = 0;
        std::vector<devio::RangeClaim> claims;
    };

    bool _Fail(Step_e step)
    {
        const int error = m_failures[step];
        if (error != 0) {
            errno = error;
            return true;
        }
        return false;
    }

    static bool _Covers(const Area& area, const Window& window)
    {
        return window.offset >= area.offset &&
               window.offset + window.length <= area.offset + area.length;
    }

    static devio::RangeClaim _Claim(void* address, const Area& area, const Window& window)
    {
        return devio::RangeClaim(static_cast<uint8_t*>(address) + (window.offset - area.offset),
                                 window.length, window.model);
    }

    const std::string m_path;
    const size_t m_size;
    int m_file = -1;
    volatile uint8_t* m_memory = nullptr;

    mutable std::mutex m_mutex;
    std::map<int, int> m_descriptors; // open flags by descriptor
    std::map<void*, Area> m_areas;    // by mapped address
    std::vector<Window> m_windows;
    std::map<Step_e, int> m_failures;
};

MonitorDevice::MonitorDevice(const std::string& path, size_t size, uint32_t features)
    : m_handler(std::make_shared<Handler>(path, size))
{
    ISTD_TRACE_FNC("sim::MonitorDevice::MonitorDevice(const std::string&, size_t, uint32_t)");
    if (size >= c_featureOffset + sizeof(uint32_t)) {
        SetFeatures(features);
    }
    devio::ClaimDevice(path, m_handler);
}

MonitorDevice::~MonitorDevice()
{
    devio::ReleaseDevice(m_handler->GetPath());
}

const std::string& MonitorDevice::GetPath() const
{
    return m_handler->GetPath();
}
size_t MonitorDevice::GetSize() const
{
    return m_handler->GetSize();
}

uint32_t MonitorDevice::GetFeatures() const
{
    return ReadMemory32(c_featureOffset);
}
void MonitorDevice::SetFeatures(uint32_t features)
{
    WriteMemory32(c_featureOffset, features);
}

uint32_t MonitorDevice::ReadMemory32(size_t offset) const
{
    return *m_handler->Word<uint32_t>(offset);
}
uint64_t MonitorDevice::ReadMemory64(size_t offset) const
{
    return *m_handler->Word<uint64_t>(offset);
}
void MonitorDevice::WriteMemory32(size_t offset, uint32_t value)
{
    *m_handler->Word<uint32_t>(offset) = value;
}
void MonitorDevice::WriteMemory64(size_t offset, uint64_t value)
{
    *m_handler->Word<uint64_t>(offset) = value;
}

void MonitorDevice::AttachModel(size_t offset, size_t length, devio::RegisterModelPtr model)
{
    m_handler->AttachModel(offset, length, std::move(model));
}

void MonitorDevice::SetFailure(Step_e step, int error)
{
    m_handler->SetFailure(step, error);
}

size_t MonitorDevice::GetOpenDescriptorCount() const
{
    return m_handler->GetOpenDescriptorCount();
}
size_t MonitorDevice::GetMappedAreaCount() const
{
    return m_handler->GetMappedAreaCount();
}

} // namespace sim
