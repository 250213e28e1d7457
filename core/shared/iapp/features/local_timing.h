#ifndef IAPP_FEATURES_LOCAL_TIMING_H
#define IAPP_FEATURES_LOCAL_TIMING_H

// The feature through which a timing board commands its event stream: which single events the
// board generates, moves of its local machine time (LMT) and the default event configuration.
//
//     auto* timing = iapp::Create<ifeature::LocalTiming>(board, "local_timing", eventStream);
//     timing->EnableEvent(2);
//     timing->IncrementLMT(1000);
//
// Each command opens the feature's client "ltim_event_clt" on the stream (which opens the
// board's ".event" device), sends the command and closes the client again: the client never
// reads events. When the client cannot open (no stream, a stream that is shut down or whose
// device does not open) the command does nothing and reports nothing. The constructor already
// sends the default configuration.
//
// Commands of one feature are serialised by one lock, so that one command cannot close the client
// while another still sends through it. A command the device refuses throws the stream's
// istd::Exception; the client is closed all the same.

#include <cstdint>
#include <mutex>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_feature.h"
#include "isig/event_stream.h"
#include "mci/types.h"

namespace ifeature {

class IAPP_API LocalTiming : public iapp::KavrelFeature {
public:
    static constexpr const char* c_clientName = "ltim_event_clt";
    // Two events of every id.
    static constexpr unsigned c_queueSize = (isig::c_maxEventId + 1) * 2;

    // The stream may be null (the commands then do nothing).
    LocalTiming(iapp::KavrelBoard& board, const std::string& name, isig::KavrelEventStream* stream);
    ~LocalTiming() override;

    // Adds the increment to the board's machine time.
    void IncrementLMT(uint64_t increment);
    // The board generates the event, or no longer does.
    void EnableEvent(isig::EventIdType id);
    void DisableEvent(isig::EventIdType id);
    // The default event configuration: every event of isig::c_allEventMask.
    void SetDefault();

    // Adds no node.
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    // Runs command(stream) while the client is open; false, having done nothing, when it does
    // not open.
    template <class F>
    bool _Command(F&& command);

    std::mutex m_commandLock;
    isig::KavrelEventStream::Client m_client;
};

} // namespace ifeature

#endif
