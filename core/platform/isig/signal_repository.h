#ifndef ISIG_SIGNAL_REPOSITORY_H
#define ISIG_SIGNAL_REPOSITORY_H

// The process's signal sources, and the random-access buffers that a time-stamp adjustment of
// their owner must hold still.
//
// Both repositories call their members' hooks under one recursive mutex, so a hook may call
// the repositories again, and a source or buffer that is being destroyed on another thread
// waits in its unregistration until the hooks in progress have returned. A hook must
// therefore not wait for another thread that destroys a source or buffer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "isig/isig_export.h"
#include "isig/signal_source.h"

namespace isig {

class ISIG_API SignalRepository {
public:
    struct Entry {
        uint64_t id;
        std::string name;
        std::string owner;
    };

    static SignalRepository& Instance();

    // Every registered source, ascending by id.
    std::vector<Entry> GetEntries() const;

    // OnAnnouncedTimestampChange of every source of the owner, in id order.
    static void NotifyAnnouncedTimestampChange(const std::string& owner);
    // OnAdjustedTimestamp(offset, lmt) of every source of the owner, in id order.
    static void NotifyAdjustedTimestamp(int64_t offset, uint64_t lmt, const std::string& owner);

private:
    friend class SignalSource;
    SignalRepository() = default;
    static void _Register(SignalSource* source);
    static void _Unregister(SignalSource* source);
};

// A buffer of an owner's signal that is read at random positions (a history buffer, say). It
// registers itself for its lifetime.
class ISIG_API RandomAccessBuffer {
public:
    explicit RandomAccessBuffer(const std::string& owner);
    RandomAccessBuffer(const RandomAccessBuffer&) = delete;
    RandomAccessBuffer& operator=(const RandomAccessBuffer&) = delete;
    virtual ~RandomAccessBuffer();

    const std::string& GetOwner() const { return m_owner; }

    // Stop changing: the owner's time stamps are about to move.
    virtual void OnPause() = 0;
    // Go on.
    virtual void OnResume() = 0;

protected:
    // Leaves the repository now (a derived destructor calls it first); again: nothing.
    void UnregisterBuffer();

private:
    const std::string m_owner;
};

class ISIG_API RandomAccessBufferRepository {
public:
    // OnPause, or OnResume, of every registered buffer of the owner, in registration order;
    // the number of buffers reached.
    static size_t Pause(const std::string& owner);
    static size_t Resume(const std::string& owner);
};

} // namespace isig

#endif
