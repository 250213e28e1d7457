#ifndef ISIG_KAVREL_STREAM_H
#define ISIG_KAVREL_STREAM_H

// A signal stream (isig::Stream) whose input is a board's stream device file: the device is open
// exactly while the stream dispatches (opened by the first client, closed when dispatching
// stops or the stream is destroyed), and its dispatch thread reads whole atoms from it in groups.
//
//     using ZoltTraits = isig::SignalTraits<int64_t, ZoltStruct, 1u>;
//     isig::KavrelStream<ZoltTraits> stream(board.GetDecoratedName("zolt"), board.GetName(),
//                                           board.CreateDeviceName(bmc::eStreamDevice, 0), 32);
//
// A read that fails ends dispatching: every client reads the failure code (-1) and the device is
// closed; the next first client opens it again. The owner deletes the stream at shutdown, which
// cancels every client with -5.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "devio/device_file.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "isig/stream.h"
#include "isig/stream_device.h"

namespace isig {

template <class STREAM_TRAITS>
class KavrelStream : public Stream<STREAM_TRAITS> {
public:
    using StreamBase = Stream<STREAM_TRAITS>;
    using typename StreamBase::ArrayType;
    using typename StreamBase::Traits;

    // The device stays closed until the first client opens.
    KavrelStream(const std::string& name, const std::string& owner, const std::string& device,
                 unsigned groupSize = 1, DispatchMode_e mode = eDispatchOnDemand)
        : StreamBase(name, owner, Traits(groupSize), mode), m_device(device)
    {
    }
    // Shuts down first, so that the device is closed by this class's CloseInput.
    ~KavrelStream() override
    {
        this->UnregisterSource();
        this->ShutDown();
    }

    const std::string& GetDevice() const { return m_device; }
    bool IsInputOpen() const { return m_fd.load() >= 0; }

    // The device's statistics while it is open ("device": atoms read, partial reads); else none.
    SignalStats GetStatistics() const override
    {
        SignalStats stats;
        std::lock_guard<std::mutex> lock(this->InputMutex());
        const int fd = m_fd.load();
        if (fd >= 0) {
            GetKavrelDeviceStatistics(fd, this->AtomSize(), stats);
        }
        return stats;
    }

protected:
    void OpenInput() override
    {
        if (m_fd.load() >= 0) {
            ISTD_TRACE(4, "File: " << m_device << " already open.");
            return;
        }
        m_fd = OpenKavrelStreamDevice(m_device, this->AtomSize(), this->GroupSize());
    }

    void InterruptInput() override
    {
        const int fd = m_fd.load();
        if (fd >= 0) {
            InterruptKavrelStreamDevice(fd);
        }
    }

    void CloseInput() override
    {
        const int fd = m_fd.load();
        if (fd >= 0) {
            ISTD_TRACE(2, "Closing file: " << m_device);
            m_fd = -1;
            CloseKavrelStreamDevice(fd);
        }
    }

    // A burst that is ready on the device is read at once, up to 64 groups and 32 KiB; groups of
    // more than 4 KiB are read one at a time and handed on without a copy.
    unsigned InputGroups() const override
    {
        constexpr size_t c_maxGroups = 64;
        constexpr size_t c_maxBytes = 32 * 1024;
        constexpr size_t c_maxCopiedGroupBytes = 4 * 1024;
        const size_t groupBytes = size_t{this->GroupSize()} * this->AtomSize();
        if (groupBytes == 0 || groupBytes > c_maxCopiedGroupBytes) {
            return 1;
        }
        return static_cast<unsigned>(std::clamp<size_t>(c_maxBytes / groupBytes, 1, c_maxGroups));
    }

    // Whole atoms, at most the array's length; the array's length is set to the atoms read,
    // whatever the result, so nothing unread is ever dispatched.
    int ReadInput(ArrayType& array) override
    {
        const unsigned bytes = array.GetLength() * this->AtomSize();
        if (bytes == 0) {
            array.Resize(0);
            return eFailure;
        }
        unsigned atoms = 0;
        const int result = KavrelStreamRead(m_fd.load(), array.Data(), bytes, this->AtomSize(), atoms);
        array.Resize(std::min(atoms, array.GetLength()));
        return result;
    }

    // Calls f(descriptor) on the open device, or on a descriptor opened for the call when the
    // stream does not dispatch, under the input mutex (so the device cannot close meanwhile).
    // Throws istd::Exception "isig: Can't open stream device <path>: <reason>".
    template <class F>
    auto WithDevice(F&& f) const
    {
        std::lock_guard<std::mutex> lock(this->InputMutex());
        const int open = m_fd.load();
        if (open >= 0) {
            return f(open);
        }
        const int fd = devio::Open(m_device, O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            throw istd::Exception("isig: Can't open stream device " + m_device + ": " + std::strerror(errno));
        }
        struct Closer {
            int fd;
            ~Closer() { devio::Close(fd); }
        } closer{fd};
        return f(fd);
    }

private:
    const std::string m_device;
    std::atomic<int> m_fd{-1};
};

} // namespace isig

#endif
