#ifndef IAPP_KAVREL_HEALTH_MONITOR_H
#define IAPP_KAVREL_HEALTH_MONITOR_H

// A board's health stream relayed into the registry and into the board's identification block.
// The application creates the monitor under a component that accepts features:
//
//     iapp::Create<iapp::KavrelHealthMonitor>(board, "health", healthStream, 0x3u,
//         [](uint64_t status) { ... }, board.GetIdentificationBlock(), true);
//
// While enabled, a thread of its own reads the health atoms one at a time through the client
// "health_monitor_client" (a queue of 64). Each atom {counter, status} is stored, "counter" and
// then "status" notify their subscribers, the callback gets the status, and the health mask is
// written into the identification block again. When the stream ends, is cancelled or fails, the
// thread writes 0 as the health mask and ends; "enabled" still reads true then, and setting it
// to false and back to true starts a new thread.
//
// Nodes: "enabled" (bool, flags 14), "counter" and "status" (uint64, read-only).
//
// "enabled" can be changed from the configuration phase on (application state 3): before that
// its set fails. The monitor starts in OnStartRunning when enabled, and OnShutdown stops it while
// "enabled" keeps its value. Disabling cancels the client and joins the thread, so it returns
// once the thread has ended even while it waits for an atom. The callback runs on the monitor
// thread and must not change "enabled".
//
// The stream is borrowed: it must outlive the monitor, or be shut down (which ends the thread
// and makes the monitor forget it) before it goes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"
#include "isig/health_stream.h"
#include "mci/types.h"

class IdentificationBlock;

namespace iapp {

class IAPP_API KavrelHealthMonitor : public KavrelFeature {
public:
    static constexpr const char* c_clientName = "health_monitor_client";
    static constexpr unsigned c_queueLength = 64;

    // Starts no thread. The stream and the identification block may be null.
    KavrelHealthMonitor(KavrelObject& parent, const std::string& name, isig::KavrelHealthStream* stream,
                        uint32_t healthMask, std::function<void(uint64_t)> callback, IdentificationBlock* idBlock,
                        bool enabled);
    // Stops a thread that still runs and joins it.
    ~KavrelHealthMonitor() override;

    // Through the node "enabled" once it exists (validated, notified; a refusal is traced), else
    // directly.
    void SetEnabled(bool enabled);
    // The setter and getter of "enabled".
    bool _SetEnabled(const bool& value);
    bool _GetEnabled(bool& value) const;

    // The monitor thread's body.
    void MonitorFunction();

    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    void OnStartRunning() override;
    void OnShutdown() override;

    // The stream; null once a read ended while the application shut down or the stream
    // terminated the client.
    isig::KavrelHealthStream* GetStream() const { return m_stream.load(); }

private:
    // Starts the thread (joining one that ended by itself); m_controlMutex held.
    void _Start();
    // Asks the thread to stop, cancels its client and joins it; m_controlMutex held.
    void _Stop();
    // Stores a value that a node reads by reference, under that node's lock.
    void _Store(const mci::TreeNodePtr& node, uint64_t& field, uint64_t value);
    void _SetMask(uint32_t mask);

    // Written to null by the monitor thread while another thread may cancel through it.
    std::atomic<isig::KavrelHealthStream*> m_stream;
    const uint32_t m_healthMask;
    const std::function<void(uint64_t)> m_callback;
    IdentificationBlock* const m_idBlock;
    std::atomic<bool> m_enabled;
    std::thread m_thread;
    uint64_t m_counter = 0;
    uint64_t m_status = 0;
    mci::TreeNodePtr m_enabledNode;
    mci::TreeNodePtr m_statusNode;
    mci::TreeNodePtr m_counterNode;

    // Serialises enabling and disabling (also where no node lock does: before the registry,
    // OnStartRunning, the destructor) and guards m_thread.
    std::mutex m_controlMutex;
    // The stop request, which a thread that opens after the cancel still sees.
    std::mutex m_stopMutex;
    bool m_stopRequested = false;
};

} // namespace iapp

#endif
