#ifndef IAPP_TESTS_COMMON_SYNC_FIXTURE_H
#define IAPP_TESTS_COMMON_SYNC_FIXTURE_H

// The machine-time synchronisation of a simulated timing board, with every party it calls
// recording into one journal: the board, the application, the event stream (which is also one
// of the board's signals), a random-access buffer of the board, the history-buffer writers and
// the feature's own hooks. The journal lists the event device's enable and disable requests in
// their place too. Any entry can be made to throw once, with an exception of a chosen kind, or to
// run an action once (another thread's announcement in the middle of an adjustment, say).
//
//     class MyTest : public iapptest::SyncBoard {};
//     TEST_F(MyTest, X) {
//         sync->AnnounceSync(1000);
//         journal.Clear();
//         sync->Synchronize(16, 400);
//         EXPECT_EQ(journal.Entries()[0], "disable-event 16");
//     }
//
// Header only: the programs that include it link kavrelsimboards.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "board_streams.h"
#include "iapp/features/history_buffer.h"
#include "iapp/features/local_timing_sync.h"
#include "iapp/kavrel_board.h"
#include "ireg/reg_node.h"
#include "isig/event_stream.h"
#include "isig/signal_repository.h"
#include "istd/exception.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "sim/fpga/history_buffer_model.h"
#include "sim_boards.h"
#include "test_application.h"

namespace iapptest {

class Journal {
public:
    enum Throw_e { eIstd, eSystemError, eStd, eInt };

    // Takes the event device's enable and disable requests into the journal as they come.
    void Follow(const sim::EventStreamDevice* device) { m_device = device; }

    // Records key + detail, then runs the action set for key (once); throws when key is the entry
    // chosen to throw (once).
    void Note(const std::string& key, const std::string& detail = std::string())
    {
        Throw_e kind;
        std::function<void()> action;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            _TakeRequests();
            m_entries.push_back(detail.empty() ? key : key + " " + detail);
            if (key == m_actionAt) {
                m_actionAt.clear();
                action = std::move(m_action);
            }
        }
        if (action) {
            action();
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (key != m_throwAt) {
                return;
            }
            m_throwAt.clear();
            kind = m_kind;
        }
        switch (kind) {
        case eIstd:
            throw istd::Exception(key + " failed");
        case eSystemError:
            throw std::system_error(std::make_error_code(std::errc::io_error));
        case eStd:
            throw std::runtime_error(key + " broke");
        case eInt:
            throw 7;
        }
    }

    void ThrowAt(const std::string& key, Throw_e kind = eIstd)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_throwAt = key;
        m_kind = kind;
    }

    // The action runs on the thread that notes key next, outside the journal's lock.
    void RunAt(const std::string& key, std::function<void()> action)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_actionAt = key;
        m_action = std::move(action);
    }

    std::vector<std::string> Entries()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        _TakeRequests();
        return m_entries;
    }

    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        _TakeRequests();
        m_entries.clear();
    }

private:
    void _TakeRequests()
    {
        if (m_device == nullptr) {
            return;
        }
        const std::vector<sim::EventStreamDevice::Request> requests = m_device->GetRequests();
        for (; m_requestsSeen < requests.size(); ++m_requestsSeen) {
            const sim::EventStreamDevice::Request& r = requests[m_requestsSeen];
            if (r.request == isig::c_eventEnableRequest || r.request == isig::c_eventDisableRequest) {
                const char* name = r.request == isig::c_eventEnableRequest ? "enable-event" : "disable-event";
                m_entries.push_back(std::string(name) + (r.error != 0 ? " (refused)" : " " + std::to_string(r.argument)));
            }
        }
    }

    std::mutex m_mutex;
    const sim::EventStreamDevice* m_device = nullptr;
    size_t m_requestsSeen = 0;
    std::vector<std::string> m_entries;
    std::string m_throwAt;
    Throw_e m_kind = eIstd;
    std::string m_actionAt;
    std::function<void()> m_action;
};

// The event stream; as a signal of the board it also hears the repository's notifications.
class RecordingEventStream : public isig::KavrelEventStream {
public:
    RecordingEventStream(Journal& journal, const std::string& name, const std::string& device, const std::string& owner)
        : KavrelEventStream(name, device, true, owner), m_journal(journal)
    {
    }
    ~RecordingEventStream() override
    {
        UnregisterSource();
        ShutDown();
    }
    void AdjustMachineTime(const int64_t& offset) override
    {
        m_journal.Note("adjust", std::to_string(offset));
        KavrelEventStream::AdjustMachineTime(offset);
    }
    void SetSyncEvent(const isig::EventIdType& id) override
    {
        m_journal.Note("sync-event", std::to_string(id));
        KavrelEventStream::SetSyncEvent(id);
    }
    void OnAnnouncedTimestampChange() override { m_journal.Note("signals-announced"); }
    void OnAdjustedTimestamp(int64_t offset, uint64_t lmt) override
    {
        m_journal.Note("signals-adjusted", std::to_string(offset) + " " + std::to_string(lmt));
    }

private:
    Journal& m_journal;
};

class RecordingBuffer : public isig::RandomAccessBuffer {
public:
    RecordingBuffer(Journal& journal, const std::string& owner) : RandomAccessBuffer(owner), m_journal(journal) {}
    ~RecordingBuffer() override { UnregisterBuffer(); }
    void OnPause() override
    {
        paused = true;
        m_journal.Note("pause");
    }
    void OnResume() override
    {
        paused = false;
        m_journal.Note("resume");
    }
    bool paused = false;

private:
    Journal& m_journal;
};

class RecordingHistoryBuffer : public ifeature::HistoryBuffer {
public:
    RecordingHistoryBuffer(iapp::KavrelObject& parent, const std::string& name, const std::vector<tControl>& controls,
                           Journal& journal)
        : HistoryBuffer(parent, name, controls), m_journal(journal)
    {
    }
    void Disable() override
    {
        HistoryBuffer::Disable();
        m_journal.Note("hb-disable");
    }
    void AssureEnable() override
    {
        HistoryBuffer::AssureEnable();
        m_journal.Note("hb-assure");
    }

private:
    Journal& m_journal;
};

class RecordingBoard : public iapp::KavrelBoard {
public:
    RecordingBoard(iapp::KavrelApplication& application, const bmc::Board* board, Journal& journal)
        : KavrelBoard(application, board), m_journal(journal)
    {
    }
    void OnAnnounceSync() override { m_journal.Note("board-announce"); }
    void OnAdjustedTimestamp(int64_t offset, uint64_t time) override
    {
        m_journal.Note("board-adjusted", std::to_string(offset) + " " + std::to_string(time));
    }

private:
    Journal& m_journal;
};

class RecordingApplication : public TestApplication {
public:
    explicit RecordingApplication(Journal& journal) : m_journal(journal) {}
    void OnSyncAnnounced(ifeature::LocalTimingSync&) override { m_journal.Note("app-announced"); }
    void OnSynchronized(ifeature::LocalTimingSync& sync) override
    {
        uint64_t lmt = 0;
        sync._GetSynchronizeLMT(lmt);
        m_journal.Note("app-synchronized", std::to_string(lmt));
    }

private:
    Journal& m_journal;
};

class RecordingSync : public ifeature::LocalTimingSync {
public:
    RecordingSync(iapp::KavrelBoard& board, const std::string& name, isig::KavrelEventStream* stream,
                  ifeature::HistoryBuffer* historyBuffer, Journal& journal)
        : LocalTimingSync(board, name, stream, historyBuffer), m_journal(journal)
    {
    }
    void OnAnnounced() override { m_journal.Note("announced", std::to_string(GetNewLMT())); }
    void OnStartAdjustment() override { m_journal.Note("start"); }
    void OnStopAdjustment(bool success) override { m_journal.Note("stop", success ? "1" : "0"); }

private:
    Journal& m_journal;
};

// pax3 under the recording application, with its event device, two history-buffer writers in
// its memory, one random-access buffer, and the feature "local_timing_sync" in the registry.
class SyncBoard : public SimBoards {
protected:
    static constexpr size_t c_hbOffset = 0x440000;
    static constexpr size_t c_writers = 2;

    void SetUp() override
    {
        Start();
        app = std::make_unique<RecordingApplication>(journal);
        board = new RecordingBoard(*app, ChassisBoard(3), journal);
        devices = std::make_unique<BoardStreamDevices>(*board->Board());
        stream = std::make_unique<RecordingEventStream>(journal, board->GetDecoratedName("event"), devices->EventPath(),
                                                        board->GetName());
        buffer = std::make_unique<RecordingBuffer>(journal, board->GetName());
        chassis->Get(3).Attach(c_hbOffset, sim::fpga::HistoryBufferModel::WindowSize(c_writers), writers);
        volatile iapp::FPGAMem_t* window =
            board->MapRegisters(c_hbOffset, sim::fpga::HistoryBufferModel::WindowSize(c_writers));
        ASSERT_NE(window, nullptr);
        using Control = ifeature::HistoryBuffer::tControl;
        hb = iapp::Create<RecordingHistoryBuffer>(
            *board, "history_buffer",
            std::vector<Control>{
                {reinterpret_cast<volatile uint64_t*>(window), ifeature::HistoryBuffer::eEnable1},
                {reinterpret_cast<volatile uint64_t*>(window + sim::fpga::HistoryBufferModel::c_stride),
                 ifeature::HistoryBuffer::eEnable4}},
            journal);
        hb->ForceEnable();
        sync = iapp::Create<RecordingSync>(*board, "local_timing_sync", stream.get(), hb, journal);
        sync->AddRegistry(top);
        lmtNode = mci::Node(sync->GetRegistryNode(), {"synchronize_lmt"});
        journal.Follow(&devices->event);
        journal.Clear();
    }

    void TearDown() override
    {
        if (app) {
            app->Shutdown();
        }
        app.reset();
        buffer.reset();
        stream.reset();
        devices.reset();
        SimBoards::TearDown();
    }

    uint64_t ReadLMT() const
    {
        uint64_t lmt = 0;
        lmtNode.Get(lmt);
        return lmt;
    }
    bool WritersRun() const { return writers->IsRunning(0) && writers->IsRunning(1); }

    Journal journal;
    std::unique_ptr<RecordingApplication> app;
    RecordingBoard* board = nullptr;
    std::unique_ptr<BoardStreamDevices> devices;
    std::unique_ptr<RecordingEventStream> stream;
    std::unique_ptr<RecordingBuffer> buffer;
    std::shared_ptr<sim::fpga::HistoryBufferModel> writers =
        std::make_shared<sim::fpga::HistoryBufferModel>(c_writers);
    RecordingHistoryBuffer* hb = nullptr;
    RecordingSync* sync = nullptr;
    mci::TreeNodePtr top = mci::factory::Create<ireg::RegNode>("registry");
    mci::Node lmtNode;
};

} // namespace iapptest

#endif
