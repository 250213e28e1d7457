#ifndef IAPP_KAVREL_WAIT_OBJECT_H
#define IAPP_KAVREL_WAIT_OBJECT_H

// A feature through which threads wait for data that its owner (the parent component)
// announces on a condition variable, and which ends all such waits when the tree shuts down.
//
//     class Reader : public iapp::KavrelWaitObject {
//         bool OnIsDataReady(std::shared_ptr<iapp::KavrelObject> owner) override;   // owner's test
//         bool OnGetData(std::shared_ptr<iapp::KavrelObject> owner) override;       // take it
//     };
//     // owner: { std::lock_guard<std::mutex> l(m_mutex); push data; } m_ready.notify_all();
//     // any thread: while (reader->WaitForData(&stop)) { ... }
//
// The owner supplies the mutex and the condition variable, and both must outlive the wait
// object. Waits run in slices of 200 ms on the steady clock, so a stop flag set without a
// notification is seen within a slice. A stop flag is read under the owner's mutex: set it while
// holding that mutex. A wake-up counts as data only when the wait was notified and
// OnIsDataReady agrees; any other wake-up waits on.
//
// OnShutdown (the tree's Shutdown phase, and the destructor) marks the object as shutting down
// for good, wakes the waiters, and returns once every thread has left WaitForData; a later
// WaitForData returns false at once. A subclass that overrides the hooks calls
// KavrelWaitObject::OnShutdown in its own destructor, so that no waiter is inside a hook of a
// part already destroyed.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"

namespace iapp {

class IAPP_API KavrelWaitObject : public KavrelFeature {
public:
    static constexpr std::chrono::milliseconds c_waitSlice{200};
    static constexpr std::chrono::milliseconds c_shutdownSlice{10};

    KavrelWaitObject(KavrelObject& parent, std::string name, std::condition_variable& dataSignal,
                     std::mutex& lock);
    // Drains the waiters as OnShutdown does.
    ~KavrelWaitObject() override;

    // Blocks until the owner announces data (the result of OnGetData), the tree shuts down or
    // *stop becomes true (false). stop may be null.
    bool WaitForData(const bool* stop);

    // Takes the announced data; called with the owner's mutex held and the owner (empty when
    // the parent no longer exists). True here.
    virtual bool OnGetData(std::shared_ptr<KavrelObject> owner);
    // The owner's test that a notified wake-up brings data; called with the owner's mutex held.
    // True here: a subclass that can tell overrides it, so that a spurious wake-up waits on.
    virtual bool OnIsDataReady(std::shared_ptr<KavrelObject> owner);

    void OnShutdown() override;

    // Threads inside WaitForData now; read under the owner's mutex.
    uint32_t GetWaiterCount() const { return m_waiters; }

private:
    class WaiterScope;

    void _Drain();
    bool _MustLeave(const bool* stop) const { return m_shuttingDown || (stop != nullptr && *stop); }

    std::condition_variable& m_dataSignal;
    std::mutex& m_lock;
    std::condition_variable m_leaveSignal;
    bool m_shuttingDown = false;
    uint32_t m_waiters = 0;
};

} // namespace iapp

#endif
