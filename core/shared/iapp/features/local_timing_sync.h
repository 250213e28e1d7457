#ifndef IAPP_FEATURES_LOCAL_TIMING_SYNC_H
#define IAPP_FEATURES_LOCAL_TIMING_SYNC_H

// Synchronisation of a timing board's local machine time (LMT) with a value announced from
// outside, in two phases:
//
//   1. A new LMT is announced: a client writes "synchronize_lmt", or the application calls
//      AnnounceSync. The board (OnAnnounceSync) and the application (OnSyncAnnounced) are told,
//      and the feature is unsynchronised: "synchronize_lmt" reads all ones.
//   2. When the synchronisation trigger event has arrived, the application calls
//      Synchronize(event, timestamp): the board's machine time moves by LMT - timestamp while the
//      trigger event, the history-buffer writers and the board's random-access signal buffers are
//      held, and the board's signals, the board (OnAdjustedTimestamp) and the application
//      (OnSynchronized) learn the offset. "synchronize_lmt" then reads the LMT.
//
//     auto* sync = iapp::Create<ifeature::LocalTimingSync>(board, "local_timing_sync", eventStream, hb);
//     sync->AnnounceSync(1000);
//     ...                                          // the trigger event arrives at machine time 400
//     sync->Synchronize(16, 400);                  // the machine time moves by +600
//
// Before the first announcement the feature is synchronised at LMT 0, and Synchronize does
// nothing until an announcement is pending. Synchronize adjusts for the LMT announced when it
// started; an announcement that arrives meanwhile stays pending for the next Synchronize. Failures
// inside the adjustment are traced and whatever was held is released again: Synchronize throws
// only when the trigger event cannot be disabled (before anything is held) or enabled again.
//
// Announcements come on any thread (serialised by the node's lock); Synchronize runs on the
// application's thread. The LMT fields are guarded by a lock of their own.

#include <cstdint>
#include <mutex>
#include <string>

#include "iapp/features/history_buffer.h"
#include "iapp/features/local_timing.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "ireg/expression.h"
#include "isig/event_stream.h"
#include "mci/types.h"

namespace iapp {
class KavrelApplication;
}

namespace ifeature {

class IAPP_API LocalTimingSync : public LocalTiming {
public:
    static constexpr uint64_t c_unsynchronizedLMT = 0xFFFFFFFFFFFFFFFFu;
    static constexpr uint64_t c_max_syncLMT = 0xFFFFFFFFFFFFFFFEu;
    static constexpr uint64_t c_min_syncLMT = 0;

    // A null history buffer is refused with istd::Exception.
    LocalTimingSync(iapp::KavrelBoard& board, const std::string& name, isig::KavrelEventStream* stream,
                    HistoryBuffer* historyBuffer);
    ~LocalTimingSync() override;

    // Sets "synchronize_lmt" to lmt, as a client's write does (validated, then notified); a
    // refused value throws as the node refuses it. Before the registry exists the value is
    // validated here and announced directly.
    void AnnounceSync(uint64_t lmt);
    // The adjustment for the pending announcement; nothing without one.
    void Synchronize(isig::EventIdType event, uint64_t timestamp);

    // True while an announcement is pending.
    bool IsUnsynchronized() const;
    // The LMT announced last is the synchronised one; "synchronize_lmt" notifies.
    void SetSynchronized();
    uint64_t GetNewLMT() const;

    // Getter and setter of "synchronize_lmt": the synchronised LMT; an announcement.
    bool _GetSynchronizeLMT(uint64_t& lmt) const;
    bool _SetSynchronizeLMT(const uint64_t& lmt);

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // For derived classes; empty here. OnAnnounced follows an announcement; OnStartAdjustment
    // and OnStopAdjustment enclose an adjustment (success: the LMT was adopted).
    virtual void OnAnnounced();
    virtual void OnStartAdjustment();
    virtual void OnStopAdjustment(bool success);

private:
    // Marks lmt synchronised unless an announcement newer than the one counted came meanwhile;
    // notifies "synchronize_lmt" when it did. False when one did.
    bool _SetSynchronized(uint64_t lmt, uint64_t announcement);
    // The adjustment itself, with the trigger event disabled.
    void _Adjust(isig::EventIdType event, uint64_t timestamp, uint64_t lmt, uint64_t announcement);
    // The board's application; null when the board hangs under something else.
    iapp::KavrelApplication* _Application() const;

    iapp::KavrelBoard& m_board;
    mutable std::mutex m_lmtMutex; // the three fields below; taken inside the node's lock
    uint64_t m_synchronizedLMT = 0;
    uint64_t m_newLMT = 0;
    uint64_t m_announcements = 0;
    mci::TreeNodePtr m_node;
    HistoryBuffer* const m_historyBuffer;
    isig::KavrelEventStream* const m_eventStream;
    const ireg::ExpressionPtr m_validator;
};

} // namespace ifeature

#endif
