// Machine-time synchronisation on a simulated timing board: announcements and their validator,
// the adjustment's stages in order with every party recording, each stage failing in turn, and
// remote writes of "synchronize_lmt".

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "common/sync_fixture.h"
#include "common/remote_servant.h"
#include "ireg/tests/common/ireg_test_util.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"

using iapptest::Journal;
using testsupport::ErrorOf;
using Entries = std::vector<std::string>;

namespace {

constexpr uint64_t c_all = std::numeric_limits<uint64_t>::max();
constexpr isig::EventIdType c_event = 16;

class Sync : public iapptest::SyncBoard {};

TEST_F(Sync, AnnounceThenSynchronizeRunsEveryStageInOrder)
{
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(lmtNode.GetTreeNode()));
    istd::TraceCapture capture(istd::eTraceError);

    sync->AnnounceSync(1000);
    EXPECT_EQ(journal.Entries(), (Entries{"board-announce", "app-announced", "announced 1000"}));
    EXPECT_TRUE(capture.Contains("Synchronize LMT of board pax3 to - 1000.")) << capture.Text();
    EXPECT_TRUE(sync->IsUnsynchronized());
    EXPECT_EQ(sync->GetNewLMT(), 1000u);
    EXPECT_EQ(ReadLMT(), c_all); // all ones until the adjustment completes

    journal.Clear();
    sync->Synchronize(c_event, 400);
    EXPECT_EQ(journal.Entries(),
              (Entries{"disable-event 16", "hb-disable", "pause", "start", "signals-announced", "adjust 600",
                       "sync-event 16", "signals-adjusted 600 1000", "board-adjusted 600 1000",
                       "app-synchronized 1000", "stop 1", "resume", "hb-assure", "enable-event 16"}));
    EXPECT_TRUE(capture.Contains("Adjusting local MT of board pax3 for offset 600 (from 400 to 1000).")) << capture.Text();
    EXPECT_FALSE(sync->IsUnsynchronized());
    EXPECT_EQ(ReadLMT(), 1000u);
    EXPECT_EQ(devices->event.GetTimeOffset(), 600u);
    EXPECT_EQ(devices->event.GetSyncEvent(), 16);
    EXPECT_EQ(devices->event.GetEnabledMask(), isig::c_allEventMask);
    EXPECT_TRUE(WritersRun());
    EXPECT_FALSE(buffer->paused);

    // Subscribers saw the announcement and then the synchronised LMT.
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(std::any_cast<uint64_t>(recorder.Received().back().value), 1000u);

    // Nothing is pending now: a second Synchronize does nothing at all.
    journal.Clear();
    sync->Synchronize(c_event, 700);
    EXPECT_TRUE(journal.Entries().empty());
    EXPECT_EQ(devices->event.GetTimeOffset(), 600u);
}

TEST_F(Sync, ANegativeOffsetAndNothingBeforeTheFirstAnnouncement)
{
    // Synchronised at 0 from the start: no announcement, no action.
    EXPECT_FALSE(sync->IsUnsynchronized());
    EXPECT_EQ(ReadLMT(), 0u);
    const size_t requests = devices->event.GetRequests().size();
    sync->Synchronize(c_event, 400);
    EXPECT_TRUE(journal.Entries().empty());
    EXPECT_EQ(devices->event.GetRequests().size(), requests);

    sync->AnnounceSync(100);
    sync->Synchronize(c_event, 400);
    EXPECT_EQ(devices->event.GetTimeOffset(), static_cast<uint64_t>(int64_t{-300}));
    const Entries entries = journal.Entries();
    EXPECT_NE(std::find(entries.begin(), entries.end(), "adjust -300"), entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), "board-adjusted -300 100"), entries.end());
    EXPECT_EQ(ReadLMT(), 100u);

    // The later of two announcements wins.
    sync->AnnounceSync(5000);
    sync->AnnounceSync(2000);
    sync->Synchronize(c_event, 1000);
    EXPECT_EQ(devices->event.GetTimeOffset(), static_cast<uint64_t>(int64_t{-300} + 1000));
    EXPECT_EQ(ReadLMT(), 2000u);
}

// The application may adopt the announced LMT without an adjustment: "synchronize_lmt" then
// reads it and notifies exactly once.
TEST_F(Sync, SetSynchronizedAdoptsTheAnnouncedLmtAndNotifiesOnce)
{
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(lmtNode.GetTreeNode()));
    sync->AnnounceSync(1000);
    ASSERT_TRUE(recorder.WaitFor(1));
    journal.Clear();

    sync->SetSynchronized();
    EXPECT_FALSE(sync->IsUnsynchronized());
    EXPECT_EQ(ReadLMT(), 1000u);
    EXPECT_TRUE(journal.Entries().empty()); // nothing adjusted, nobody else told

    // Notifications arrive in order: the next announcement comes right after SetSynchronized's
    // one, so a second one from it (or none) shows here.
    sync->AnnounceSync(2000);
    ASSERT_TRUE(recorder.WaitFor(3));
    std::vector<uint64_t> values;
    for (const auto& received : recorder.Received()) {
        values.push_back(std::any_cast<uint64_t>(received.value));
    }
    EXPECT_EQ(values, (std::vector<uint64_t>{1000, 1000, 2000}));
}

TEST_F(Sync, TheLargestLmtIsAcceptedAndAllOnesRefused)
{
    sync->AnnounceSync(ifeature::LocalTimingSync::c_max_syncLMT);
    EXPECT_EQ(sync->GetNewLMT(), 0xFFFFFFFFFFFFFFFEu);
    sync->Synchronize(c_event, 0);
    EXPECT_EQ(ReadLMT(), 0xFFFFFFFFFFFFFFFEu);

    journal.Clear();
    const std::string refusal = "ireg: synchronize_lmt: Validation failed: [0, 18446744073709551614] for 18446744073709551615";
    EXPECT_EQ(ErrorOf([&] { sync->AnnounceSync(c_all); }), refusal);
    EXPECT_EQ(ErrorOf([&] { lmtNode.Set(c_all); }), refusal);
    EXPECT_TRUE(journal.Entries().empty());
    EXPECT_FALSE(sync->IsUnsynchronized());
    EXPECT_EQ(ReadLMT(), 0xFFFFFFFFFFFFFFFEu);

    std::string validator;
    EXPECT_TRUE(lmtNode.GetValidatorExpression(validator));
    EXPECT_EQ(validator, "[0, 18446744073709551614]");
    EXPECT_EQ(lmtNode.GetFlags(), 0x46u);

    // A feature whose node does not exist yet validates the same.
    auto* early = iapp::Create<ifeature::LocalTimingSync>(*board, "early", stream.get(), hb);
    EXPECT_EQ(ErrorOf([&] { early->AnnounceSync(c_all); }),
              "Validation failed: [0, 18446744073709551614] for 18446744073709551615");
    early->AnnounceSync(12);
    EXPECT_TRUE(early->IsUnsynchronized());
    EXPECT_EQ(early->GetNewLMT(), 12u);
}

TEST_F(Sync, AFailingStageReleasesWhatWasHeldInReverseOrder)
{
    struct Case {
        const char* at;
        Journal::Throw_e kind;
        Entries entries; // after "disable-event 16"
        const char* trace;
        bool synchronised;
    };
    const char* event = "Unexpected exception is fired during synchronization before trigger event is re-enabled.";
    const char* history = "Unexpected exception is fired during synchronization before re-enabling history buffer.";
    const char* bufferStage = "Unexpected exception is fired during synchronization before re-enabling random access signal "
                         "buffer.";
    const char* announce = "Unexpected exception while annoncing signals about timestamp change";
    const char* adjust = "Unexpected exception is fired while adjusting timestamps.";
    const char* adopt = "Unexpected exception is fired during synchronization while adopting signal source to change "
                        "timing scale";
    const std::string istdText = std::string(event) + " hb-disable failed";
    const Case cases[] = {
        {"hb-disable", Journal::eIstd, {"hb-disable", "hb-assure", "enable-event 16"}, istdText.c_str(), false},
        {"pause", Journal::eInt, {"hb-disable", "pause", "resume", "hb-assure", "enable-event 16"}, history, false},
        {"start", Journal::eIstd, {"hb-disable", "pause", "start", "resume", "hb-assure", "enable-event 16"}, bufferStage,
         false},
        {"start", Journal::eSystemError, {"hb-disable", "pause", "start", "resume", "hb-assure", "enable-event 16"},
         "Error: Input/output error", false},
        {"start", Journal::eStd, {"hb-disable", "pause", "start", "resume", "hb-assure", "enable-event 16"},
         "Error: start broke", false},
        {"start", Journal::eInt, {"hb-disable", "pause", "start", "resume", "hb-assure", "enable-event 16"}, bufferStage,
         false},
        {"signals-announced", Journal::eIstd,
         {"hb-disable", "pause", "start", "signals-announced", "stop 0", "resume", "hb-assure", "enable-event 16"},
         announce, false},
        {"adjust", Journal::eIstd,
         {"hb-disable", "pause", "start", "signals-announced", "adjust 600", "stop 0", "resume", "hb-assure",
          "enable-event 16"},
         adjust, false},
        {"sync-event", Journal::eStd,
         {"hb-disable", "pause", "start", "signals-announced", "adjust 600", "sync-event 16", "stop 0", "resume",
          "hb-assure", "enable-event 16"},
         adjust, false},
        // The signals did not all learn the offset: they are told again.
        {"signals-adjusted", Journal::eIstd,
         {"hb-disable", "pause", "start", "signals-announced", "adjust 600", "sync-event 16",
          "signals-adjusted 600 1000", "signals-adjusted 600 1000", "stop 0", "resume", "hb-assure",
          "enable-event 16"},
         adopt, false},
        // They did: told once, never twice.
        {"board-adjusted", Journal::eIstd,
         {"hb-disable", "pause", "start", "signals-announced", "adjust 600", "sync-event 16",
          "signals-adjusted 600 1000", "board-adjusted 600 1000", "stop 0", "resume", "hb-assure", "enable-event 16"},
         adopt, false},
        {"app-synchronized", Journal::eInt,
         {"hb-disable", "pause", "start", "signals-announced", "adjust 600", "sync-event 16",
          "signals-adjusted 600 1000", "board-adjusted 600 1000", "app-synchronized 1000", "stop 0", "resume",
          "hb-assure", "enable-event 16"},
         adopt, true},
        {"stop", Journal::eStd,
         {"hb-disable", "pause", "start", "signals-announced", "adjust 600", "sync-event 16",
          "signals-adjusted 600 1000", "board-adjusted 600 1000", "app-synchronized 1000", "stop 1", "resume",
          "hb-assure", "enable-event 16"},
         "Error: stop broke", true},
        {"resume", Journal::eIstd,
         {"hb-disable", "pause", "start", "signals-announced", "adjust 600", "sync-event 16",
          "signals-adjusted 600 1000", "board-adjusted 600 1000", "app-synchronized 1000", "stop 1", "resume",
          "hb-assure", "enable-event 16"},
         history, true},
        {"hb-assure", Journal::eIstd,
         {"hb-disable", "pause", "start", "signals-announced", "adjust 600", "sync-event 16",
          "signals-adjusted 600 1000", "board-adjusted 600 1000", "app-synchronized 1000", "stop 1", "resume",
          "hb-assure", "enable-event 16"},
         event, true},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.at) + " (" + std::to_string(c.kind) + ")";
        sync->AnnounceSync(1000);
        journal.Clear();
        journal.ThrowAt(c.at, c.kind);
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_NO_THROW(sync->Synchronize(c_event, 400)) << what;
        Entries expected{"disable-event 16"};
        expected.insert(expected.end(), c.entries.begin(), c.entries.end());
        EXPECT_EQ(journal.Entries(), expected) << what;
        EXPECT_TRUE(capture.Contains(c.trace)) << what << "\n" << capture.Text();
        // Whatever was held runs again.
        EXPECT_TRUE(WritersRun()) << what;
        EXPECT_FALSE(buffer->paused) << what;
        EXPECT_EQ(devices->event.GetEnabledMask(), isig::c_allEventMask) << what;
        EXPECT_EQ(sync->IsUnsynchronized(), !c.synchronised) << what;
        EXPECT_EQ(ReadLMT(), c.synchronised ? 1000u : c_all) << what;

        // An announcement left pending is adjusted by the next Synchronize.
        if (!c.synchronised) {
            sync->Synchronize(c_event, 400);
            EXPECT_FALSE(sync->IsUnsynchronized()) << what;
            EXPECT_EQ(ReadLMT(), 1000u) << what;
        }
    }
}

TEST_F(Sync, ATriggerEventThatCannotBeDisabledReachesTheCallerWithNothingHeld)
{
    sync->AnnounceSync(1000);
    journal.Clear();
    devices->event.SetRequestFailure(EIO);
    EXPECT_EQ(ErrorOf([&] { sync->Synchronize(c_event, 400); }),
              "isig: pax3.event: DisableEvent failed: Input/output error");
    EXPECT_EQ(journal.Entries(), (Entries{"disable-event (refused)"}));
    EXPECT_TRUE(sync->IsUnsynchronized());
    devices->event.SetRequestFailure(0);
}

TEST_F(Sync, ANullHistoryBufferIsRefused)
{
    const size_t children = board->GetChildren().size();
    EXPECT_EQ(ErrorOf([&] { iapp::Create<ifeature::LocalTimingSync>(*board, "no_hb", stream.get(), nullptr); }),
              "ifeature: no_hb: a machine-time synchronisation needs a history buffer");
    EXPECT_EQ(board->GetChildren().size(), children);
}

// "synchronize_lmt" written by a remote client: the servant's answer to each value.
class SyncRemote : public iapptest::SyncBoard {
protected:
    void SetUp() override
    {
        SyncBoard::SetUp();
        remote = std::make_unique<iapptest::RemoteServant>(top);
    }
    void TearDown() override
    {
        remote.reset();
        SyncBoard::TearDown();
    }

    std::string Write(const CORBA::Any& value) { return remote->Write("local_timing_sync/synchronize_lmt", value); }
    template <class SEQ, class T>
    static CORBA::Any One(const T& value)
    {
        return iapptest::RemoteServant::One<SEQ>(value);
    }

    std::unique_ptr<iapptest::RemoteServant> remote;
};

TEST_F(SyncRemote, BadValuesAreRefusedWithTheirReasonAndChangeNothing)
{
    const std::string refused = "ValueException: ireg: synchronize_lmt: Validation failed: [0, 18446744073709551614] for ";
    // The node's validator takes values of the node's own type only: it refuses other numbers and
    // every text (before the text could be converted) with the type's name.
    const auto type = [](const char* name) {
        return "ValueException: ireg: synchronize_lmt: [...]: Invalid type " + std::string(name) + " in validation.";
    };
    const std::string text = type("std::string");
    struct Case {
        const char* what;
        CORBA::Any value;
        std::string answer;
    };
    const Case cases[] = {
        {"2^64 - 1", One<i_NET::UInt64Buffer>(CORBA::ULongLong(c_all)), refused + "18446744073709551615"},
        {"2^64 - 1 as text", One<i_NET::StringBuffer>("18446744073709551615"), text},
        {"negative", One<i_NET::Int64Buffer>(CORBA::LongLong(-1)), type("int64_t")},
        {"negative 32-bit", One<i_NET::Int32Buffer>(CORBA::Long(-300)), type("int32_t")},
        {"negative text", One<i_NET::StringBuffer>("-5"), text},
        {"text", One<i_NET::StringBuffer>("soon"), text},
        {"empty text", One<i_NET::StringBuffer>(""), text},
        {"number as text", One<i_NET::StringBuffer>("1000"), text},
        {"a double", One<i_NET::DoubleBuffer>(1000.0), type("double")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Write(c.value), c.answer) << c.what;
        EXPECT_FALSE(sync->IsUnsynchronized()) << c.what;
        EXPECT_EQ(sync->GetNewLMT(), 0u) << c.what;
    }
    EXPECT_TRUE(journal.Entries().empty());

    // A good value is an announcement.
    EXPECT_EQ(Write(One<i_NET::UInt64Buffer>(CORBA::ULongLong(1000))), "ok");
    EXPECT_EQ(sync->GetNewLMT(), 1000u);
    EXPECT_EQ(Write(One<i_NET::UInt64Buffer>(CORBA::ULongLong(0xFFFFFFFFFFFFFFFEu))), "ok");
    EXPECT_EQ(sync->GetNewLMT(), 0xFFFFFFFFFFFFFFFEu);
    EXPECT_TRUE(sync->IsUnsynchronized());
}

} // namespace
