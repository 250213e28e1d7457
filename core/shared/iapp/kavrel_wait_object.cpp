#include "iapp/kavrel_wait_object.h"

#include <utility>

#include "istd/trace.h"

namespace iapp {

constexpr std::chrono::milliseconds KavrelWaitObject::c_waitSlice;
constexpr std::chrono::milliseconds KavrelWaitObject::c_shutdownSlice;

// Counts a thread in for as long as it is inside WaitForData, however it leaves (an exception
// from a hook included), so that a draining OnShutdown always sees the count reach zero.
// Lives inside the owner's lock.
class KavrelWaitObject::WaiterScope {
public:
    explicit WaiterScope(KavrelWaitObject& object) : m_object(object) { ++m_object.m_waiters; }
    ~WaiterScope()
    {
        --m_object.m_waiters;
        m_object.m_leaveSignal.notify_all();
    }
    WaiterScope(const WaiterScope&) = delete;
    WaiterScope& operator=(const WaiterScope&) = delete;

private:
    KavrelWaitObject& m_object;
};

KavrelWaitObject::KavrelWaitObject(KavrelObject& parent, std::string name, std::condition_variable& dataSignal,
                                   std::mutex& lock)
    : KavrelFeature(parent, std::move(name)), m_dataSignal(dataSignal), m_lock(lock)
{
}

KavrelWaitObject::~KavrelWaitObject()
{
    ISTD_TRACE_FNC("iapp::KavrelWaitObject::~KavrelWaitObject()");
    try {
        _Drain();
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "Waiters of " << GetName() << " not drained: " << e.what());
    }
}

bool KavrelWaitObject::WaitForData(const bool* stop)
{
    ISTD_TRACE_FNC("bool iapp::KavrelWaitObject::WaitForData(const bool*)");
    std::unique_lock<std::mutex> lock(m_lock);
    WaiterScope scope(*this);
    while (!_MustLeave(stop)) {
        const auto deadline = std::chrono::steady_clock::now() + c_waitSlice;
        while (m_dataSignal.wait_until(lock, deadline) == std::cv_status::no_timeout) {
            if (_MustLeave(stop)) {
                return false;
            }
            const std::shared_ptr<KavrelObject> owner = GetParent();
            if (OnIsDataReady(owner)) {
                return OnGetData(owner);
            }
        }
    }
    return false;
}

bool KavrelWaitObject::OnGetData(std::shared_ptr<KavrelObject>)
{
    return true;
}

bool KavrelWaitObject::OnIsDataReady(std::shared_ptr<KavrelObject>)
{
    return true;
}

void KavrelWaitObject::OnShutdown()
{
    ISTD_TRACE_FNC("void iapp::KavrelWaitObject::OnShutdown()");
    _Drain();
}

void KavrelWaitObject::_Drain()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_shuttingDown = true;
    if (m_waiters == 0) {
        return;
    }
    // Waiters leave at their next wake-up; wake them now rather than at the end of a slice.
    // To the owner's other waiters this is one more spurious wake-up.
    m_dataSignal.notify_all();
    while (m_waiters != 0) {
        m_leaveSignal.wait_for(lock, c_shutdownSlice);
    }
}

} // namespace iapp
