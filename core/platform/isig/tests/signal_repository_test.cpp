#include <gtest/gtest.h>

#include <memory>

#include "common/test_source.h"
#include "isig/signal_repository.h"

using isig::RandomAccessBufferRepository;
using isig::SignalRepository;
using isigtest::TestSource;

namespace {

std::vector<std::string> Names()
{
    std::vector<std::string> names;
    for (const auto& entry : SignalRepository::Instance().GetEntries()) {
        names.push_back(entry.name + "@" + entry.owner);
    }
    return names;
}

TEST(SignalRepository, SourcesAreListedByAscendingIdWhileTheyLive)
{
    const size_t before = SignalRepository::Instance().GetEntries().size();
    auto a = std::make_unique<TestSource>("a", "pax");
    auto b = std::make_unique<TestSource>("b", "zolt");
    auto c = std::make_unique<TestSource>("c", "pax");
    EXPECT_LT(a->GetId(), b->GetId());
    EXPECT_LT(b->GetId(), c->GetId());

    auto entries = SignalRepository::Instance().GetEntries();
    ASSERT_EQ(entries.size(), before + 3);
    EXPECT_EQ(entries[before].id, a->GetId());
    EXPECT_EQ(Names(), (std::vector<std::string>{"a@pax", "b@zolt", "c@pax"}));

    b.reset();
    EXPECT_EQ(Names(), (std::vector<std::string>{"a@pax", "c@pax"}));
    auto d = std::make_unique<TestSource>("d", "pax"); // ids are never reused
    EXPECT_GT(d->GetId(), c->GetId());
    EXPECT_EQ(Names(), (std::vector<std::string>{"a@pax", "c@pax", "d@pax"}));
}

TEST(SignalRepository, NotificationsReachOnlyTheOwnersSources)
{
    TestSource pax1("p1", "pax");
    TestSource zolt("z", "zolt");
    TestSource pax2("p2", "pax");

    SignalRepository::NotifyAnnouncedTimestampChange("pax");
    SignalRepository::NotifyAdjustedTimestamp(-42, 1000, "pax");
    EXPECT_EQ(pax1.announced, 1);
    EXPECT_EQ(pax2.announced, 1);
    EXPECT_EQ(pax1.lastOffset, -42);
    EXPECT_EQ(pax2.lastOffset, -42);
    EXPECT_EQ(zolt.announced, 0);
    EXPECT_EQ(zolt.lastOffset, 0);
    SignalRepository::NotifyAnnouncedTimestampChange("nobody");
    EXPECT_EQ(pax1.announced, 1);
}

// A buffer that records its pauses, and may remove another member from inside its hook.
class Buffer : public isig::RandomAccessBuffer {
public:
    using isig::RandomAccessBuffer::RandomAccessBuffer;
    ~Buffer() override { UnregisterBuffer(); }
    void OnPause() override
    {
        ++paused;
        victim.reset();
    }
    void OnResume() override { ++resumed; }

    int paused = 0;
    int resumed = 0;
    std::unique_ptr<Buffer> victim;
};

TEST(RandomAccessBufferRepository, PauseAndResumeActOnTheOwnersBuffers)
{
    Buffer a("pax");
    Buffer other("zolt");
    auto b = std::make_unique<Buffer>("pax");
    EXPECT_EQ(RandomAccessBufferRepository::Pause("pax"), 2u);
    EXPECT_EQ(RandomAccessBufferRepository::Resume("pax"), 2u);
    EXPECT_EQ(a.paused, 1);
    EXPECT_EQ(b->resumed, 1);
    EXPECT_EQ(other.paused, 0);
    EXPECT_EQ(RandomAccessBufferRepository::Pause("nobody"), 0u);

    // A hook that destroys a later buffer of the same owner: the walk skips it.
    a.victim = std::move(b);
    EXPECT_EQ(RandomAccessBufferRepository::Pause("pax"), 1u);
    EXPECT_EQ(a.paused, 2);
    EXPECT_EQ(RandomAccessBufferRepository::Resume("pax"), 1u);
}

} // namespace
