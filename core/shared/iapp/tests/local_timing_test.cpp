// The local-timing feature on a simulated board's event device: the commands it sends, and its
// client opened for each command only.

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "common/board_streams.h"
#include "iapp/features/local_timing.h"
#include "isig/event_stream.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;

namespace {

using Request = sim::EventStreamDevice::Request;

class LocalTimingTest : public iapptest::EventBoard {
protected:
    void SetUp() override { StartBoard(); }

    std::vector<std::pair<unsigned long, uint64_t>> Requests() const
    {
        std::vector<std::pair<unsigned long, uint64_t>> requests;
        for (const Request& r : devices->event.GetRequests()) {
            EXPECT_EQ(r.error, 0);
            requests.emplace_back(r.request, r.argument);
        }
        return requests;
    }
};

TEST_F(LocalTimingTest, EachCommandOpensTheClientSendsAndClosesIt)
{
    auto* timing = iapp::Create<ifeature::LocalTiming>(*board, "local_timing", eventStream.get());
    // The constructor sent the default configuration already.
    EXPECT_EQ(Requests(), (decltype(Requests()){{isig::c_eventSetDefaultRequest, isig::c_allEventMask}}));
    EXPECT_EQ(devices->event.GetOpenCount(), 1u);
    EXPECT_EQ(devices->event.GetOpenDescriptorCount(), 0u);
    EXPECT_FALSE(eventStream->IsInputOpen());

    struct Step {
        std::function<void()> command;
        unsigned long request;
        uint64_t argument;
    };
    const Step steps[] = {
        {[&] { timing->EnableEvent(5); }, isig::c_eventEnableRequest, 5},
        {[&] { timing->DisableEvent(5); }, isig::c_eventDisableRequest, 5},
        {[&] { timing->DisableEvent(63); }, isig::c_eventDisableRequest, 63},
        {[&] { timing->IncrementLMT(1000); }, isig::c_eventIncrementTimeRequest, 1000},
        {[&] { timing->IncrementLMT(~uint64_t{0}); }, isig::c_eventIncrementTimeRequest, ~uint64_t{0}},
        {[&] { timing->SetDefault(); }, isig::c_eventSetDefaultRequest, isig::c_allEventMask},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        steps[i].command();
        const auto requests = Requests();
        ASSERT_EQ(requests.size(), i + 2);
        EXPECT_EQ(requests.back(), std::make_pair(steps[i].request, steps[i].argument)) << i;
        // The command went through the client's own opening of the device, closed again.
        EXPECT_EQ(devices->event.GetOpenCount(), i + 2) << i;
        EXPECT_EQ(devices->event.GetOpenDescriptorCount(), 0u) << i;
    }
    // Two increments: 1000 and 2^64 - 1, so 999 modulo 2^64.
    EXPECT_EQ(devices->event.GetTimeOffset(), 999u);
    EXPECT_EQ(devices->event.GetEnabledMask(), isig::c_allEventMask);
    EXPECT_EQ(eventStream->GetRecord().commands, std::size(steps) + 1);
}

TEST_F(LocalTimingTest, WithoutAClientTheCommandsDoNothing)
{
    // No stream at all.
    auto* none = iapp::Create<ifeature::LocalTiming>(*board, "none", nullptr);
    none->EnableEvent(1);
    none->IncrementLMT(5);

    // A device that does not open: constructing sends nothing and does not fail.
    devices->event.SetOpenFailure(ENODEV);
    auto* timing = iapp::Create<ifeature::LocalTiming>(*board, "local_timing", eventStream.get());
    timing->DisableEvent(2);
    devices->event.SetOpenFailure(0);

    // A stream that is shut down takes no client again.
    eventStream->ShutDown();
    timing->DisableEvent(2);
    timing->SetDefault();
    EXPECT_TRUE(devices->event.GetRequests().empty());
    EXPECT_EQ(devices->event.GetOpenCount(), 0u);
}

TEST_F(LocalTimingTest, ARefusedCommandThrowsAndLeavesTheClientClosed)
{
    auto* timing = iapp::Create<ifeature::LocalTiming>(*board, "local_timing", eventStream.get());
    devices->event.SetRequestFailure(EIO);
    EXPECT_EQ(ErrorOf([&] { timing->EnableEvent(3); }), "isig: pax3.event: EnableEvent failed: Input/output error");
    EXPECT_EQ(devices->event.GetOpenDescriptorCount(), 0u);
    EXPECT_EQ(ErrorOf([&] { timing->EnableEvent(64); }), "isig: pax3.event: EnableEvent: event id 64 is above 63");
    devices->event.SetRequestFailure(0);
    timing->EnableEvent(3);
    EXPECT_EQ(devices->event.GetRequests().back().request, isig::c_eventEnableRequest);
    EXPECT_EQ(devices->event.GetRequests().back().error, 0);
    EXPECT_EQ(devices->event.GetOpenDescriptorCount(), 0u);
}

} // namespace
