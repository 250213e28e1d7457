#include "iapp/features/local_timing_sync.h"

#include <exception>
#include <system_error>

#include "iapp/kavrel_application.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_node.h"
#include "ireg/validators.h"
#include "isig/signal_repository.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace ifeature {

namespace {

// Readable, writable and hidden.
constexpr mci::Flags c_syncFlags = 0x46;

// Runs hold (which stops several things in turn); when it throws, release runs before the
// exception goes on, so that what hold stopped before it failed does not stay stopped.
template <class H, class R>
void _Hold(H hold, R release, const char* what)
{
    try {
        hold();
    } catch (...) {
        try {
            release();
        } catch (...) {
            ISTD_TRACE(1, "Releasing the " << what << " after a failed hold failed too.");
        }
        throw;
    }
}

} // namespace

LocalTimingSync::LocalTimingSync(iapp::KavrelBoard& board, const std::string& name, isig::KavrelEventStream* stream,
                                 HistoryBuffer* historyBuffer)
    : LocalTiming(board, name, stream),
      m_board(board),
      m_historyBuffer(historyBuffer),
      m_eventStream(stream),
      m_validator(ireg::Expr<ireg::expr::Range<uint64_t, uint64_t>>(c_min_syncLMT, c_max_syncLMT))
{
    ISTD_TRACE_FNC("ifeature::LocalTimingSync::LocalTimingSync(iapp::KavrelBoard&, const std::string&, "
                   "isig::KavrelEventStream*, ifeature::HistoryBuffer*)");
    if (historyBuffer == nullptr) {
        throw istd::Exception("ifeature: " + name + ": a machine-time synchronisation needs a history buffer", true);
    }
}

LocalTimingSync::~LocalTimingSync()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " LocalTimingSync");
}

void LocalTimingSync::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("virtual void ifeature::LocalTimingSync::OnRegistryAdd(mci::TreeNodePtr&)");
    m_node = mci::factory::Create<ireg::RegFncNode<uint64_t>>(m_validator, "synchronize_lmt", this,
                                                              &LocalTimingSync::_SetSynchronizeLMT,
                                                              &LocalTimingSync::_GetSynchronizeLMT, c_syncFlags);
    node->Add(m_node);
}

iapp::KavrelApplication* LocalTimingSync::_Application() const
{
    return dynamic_cast<iapp::KavrelApplication*>(&m_board.GetApplication());
}

void LocalTimingSync::AnnounceSync(uint64_t lmt)
{
    ISTD_TRACE_FNC("void ifeature::LocalTimingSync::AnnounceSync(uint64_t)");
    if (m_node) {
        m_node->Set(lmt, 0, mci::c_noRelPath);
        return;
    }
    if (!m_validator->Evaluate(lmt)) {
        throw ireg::ValidationError(m_validator, ireg::ValueText(lmt));
    }
    _SetSynchronizeLMT(lmt);
}

bool LocalTimingSync::_SetSynchronizeLMT(const uint64_t& lmt)
{
    ISTD_TRACE_FNC("bool ifeature::LocalTimingSync::_SetSynchronizeLMT(const uint64_t&)");
    ISTD_TRACE(1, "Synchronize LMT of board " << m_board.GetName() << " to - " << lmt << ".");
    m_board.OnAnnounceSync();
    if (iapp::KavrelApplication* application = _Application()) {
        application->OnSyncAnnounced(*this);
    }
    {
        std::lock_guard<std::mutex> lock(m_lmtMutex);
        m_synchronizedLMT = c_unsynchronizedLMT;
        m_newLMT = lmt;
        ++m_announcements;
    }
    OnAnnounced();
    return true;
}

bool LocalTimingSync::_GetSynchronizeLMT(uint64_t& lmt) const
{
    std::lock_guard<std::mutex> lock(m_lmtMutex);
    lmt = m_synchronizedLMT;
    return true;
}

bool LocalTimingSync::IsUnsynchronized() const
{
    std::lock_guard<std::mutex> lock(m_lmtMutex);
    return m_newLMT == c_unsynchronizedLMT || m_synchronizedLMT == c_unsynchronizedLMT;
}

uint64_t LocalTimingSync::GetNewLMT() const
{
    std::lock_guard<std::mutex> lock(m_lmtMutex);
    return m_newLMT;
}

void LocalTimingSync::SetSynchronized()
{
    {
        std::lock_guard<std::mutex> lock(m_lmtMutex);
        m_synchronizedLMT = m_newLMT;
    }
    if (m_node) {
        m_node->Emit();
    }
}

bool LocalTimingSync::_SetSynchronized(uint64_t lmt, uint64_t announcement)
{
    {
        std::lock_guard<std::mutex> lock(m_lmtMutex);
        if (announcement != m_announcements) {
            ISTD_TRACE(1, "LMT of board " << m_board.GetName() << " was announced again during the adjustment to "
                                          << lmt << ": " << m_newLMT << " stays pending.");
            return false;
        }
        m_synchronizedLMT = lmt;
    }
    if (m_node) {
        m_node->Emit();
    }
    return true;
}

void LocalTimingSync::OnAnnounced() {}
void LocalTimingSync::OnStartAdjustment() {}
void LocalTimingSync::OnStopAdjustment(bool) {}

void LocalTimingSync::Synchronize(isig::EventIdType event, uint64_t timestamp)
{
    ISTD_TRACE_FNC("void ifeature::LocalTimingSync::Synchronize(isig::EventIdType, uint64_t)");
    // The announcement this adjustment is for: a later one must not be marked done by it.
    uint64_t lmt = 0;
    uint64_t announcement = 0;
    {
        std::lock_guard<std::mutex> lock(m_lmtMutex);
        if (m_newLMT != c_unsynchronizedLMT && m_synchronizedLMT != c_unsynchronizedLMT) {
            return;
        }
        lmt = m_newLMT;
        announcement = m_announcements;
    }
    DisableEvent(event);
    try {
        _Adjust(event, timestamp, lmt, announcement);
    } catch (const istd::Exception& e) {
        ISTD_TRACE(1, "Unexpected exception is fired during synchronization before trigger event is re-enabled. "
                          << e.what());
    } catch (...) {
        ISTD_TRACE(1, "Unexpected exception is fired during synchronization before trigger event is re-enabled.");
    }
    EnableEvent(event);
}

void LocalTimingSync::_Adjust(isig::EventIdType event, uint64_t timestamp, uint64_t lmt, uint64_t announcement)
{
    const std::string& owner = m_board.GetName();
    _Hold([this] { m_historyBuffer->Disable(); }, [this] { m_historyBuffer->AssureEnable(); }, "history buffer");
    try {
        _Hold([&owner] { isig::RandomAccessBufferRepository::Pause(owner); },
              [&owner] { isig::RandomAccessBufferRepository::Resume(owner); }, "random access signal buffers");
        try {
            OnStartAdjustment();
            bool success = false;
            try {
                isig::SignalRepository::NotifyAnnouncedTimestampChange(owner);
                try {
                    const int64_t offset = static_cast<int64_t>(lmt - timestamp);
                    ISTD_TRACE(1, "Adjusting local MT of board " << owner << " for offset " << offset << " (from "
                                                                 << timestamp << " to " << lmt << ").");
                    if (m_eventStream == nullptr) {
                        throw istd::Exception("ifeature: " + GetName() + ": no event stream", true);
                    }
                    m_eventStream->AdjustMachineTime(offset);
                    m_eventStream->SetSyncEvent(event);
                    bool adjustedNotified = false;
                    try {
                        isig::SignalRepository::NotifyAdjustedTimestamp(offset, lmt, owner);
                        adjustedNotified = true;
                        m_board.OnAdjustedTimestamp(offset, lmt);
                        _SetSynchronized(lmt, announcement);
                        if (iapp::KavrelApplication* application = _Application()) {
                            application->OnSynchronized(*this);
                        }
                        success = true;
                    } catch (...) {
                        ISTD_TRACE(1, "Unexpected exception is fired during synchronization while adopting signal "
                                      "source to change timing scale");
                        // The signals that did not learn the offset learn it now; those that did must not
                        // shift their time stamps twice.
                        if (!adjustedNotified) {
                            isig::SignalRepository::NotifyAdjustedTimestamp(offset, lmt, owner);
                        }
                    }
                } catch (...) {
                    ISTD_TRACE(1, "Unexpected exception is fired while adjusting timestamps.");
                }
            } catch (...) {
                ISTD_TRACE(1, "Unexpected exception while annoncing signals about timestamp change");
            }
            OnStopAdjustment(success);
        } catch (const istd::Exception& e) {
            ISTD_TRACE(1, "Unexpected exception is fired during synchronization before re-enabling random access "
                          "signal buffer. "
                              << e.what());
        } catch (const std::system_error& e) {
            ISTD_TRACE(1, "Error: " << e.code().message());
        } catch (const std::exception& e) {
            ISTD_TRACE(1, "Error: " << e.what());
        } catch (...) {
            ISTD_TRACE(1, "Unexpected exception is fired during synchronization before re-enabling random access "
                          "signal buffer.");
        }
        isig::RandomAccessBufferRepository::Resume(owner);
    } catch (const istd::Exception& e) {
        ISTD_TRACE(1, "Unexpected exception is fired during synchronization before re-enabling history buffer. "
                          << e.what());
    } catch (...) {
        ISTD_TRACE(1, "Unexpected exception is fired during synchronization before re-enabling history buffer.");
    }
    m_historyBuffer->AssureEnable();
}

} // namespace ifeature
