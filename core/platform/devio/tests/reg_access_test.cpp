#include "devio/reg_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "istd/exception.h"

namespace {

// Keeps its registers in a table and logs every call, in order.
class LoggingModel : public devio::RegisterModel {
public:
    uint32_t OnRead32(size_t offset) override
    {
        log.push_back("r32@" + std::to_string(offset));
        return regs[offset];
    }
    void OnWrite32(size_t offset, uint32_t value) override
    {
        log.push_back("w32@" + std::to_string(offset));
        regs[offset] = value;
    }

    std::map<size_t, uint32_t> regs;
    std::vector<std::string> log;
};

// Serves 64-bit words whole.
class WideModel : public LoggingModel {
public:
    uint64_t OnRead64(size_t offset) override
    {
        log.push_back("r64@" + std::to_string(offset));
        return wide;
    }
    void OnWrite64(size_t offset, uint64_t value) override
    {
        log.push_back("w64@" + std::to_string(offset));
        wide = value;
    }

    uint64_t wide = 0;
};

class RegAccessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (size_t i = 0; i < 16; ++i) {
            words[i] = 0x1000 + static_cast<uint32_t>(i);
        }
        ASSERT_EQ(devio::GetClaimedRangeCount(), 0u);
    }
    void TearDown() override { EXPECT_EQ(devio::GetClaimedRangeCount(), 0u); }

    alignas(8) volatile uint32_t words[16];
    std::shared_ptr<LoggingModel> model = std::make_shared<LoggingModel>();
};

TEST_F(RegAccessTest, ClaimedRangeIsServedByTheModelAndEverythingElseByMemory)
{
    EXPECT_EQ(devio::Read32(&words[5]), 0x1005u);

    devio::RangeClaim claim(&words[4], 4 * sizeof(uint32_t), model);
    EXPECT_EQ(devio::GetClaimedRangeCount(), 1u);
    model->regs[4] = 0xCAFE;

    // Words 3 and 8 border the range on either side.
    EXPECT_EQ(devio::Read32(&words[3]), 0x1003u);
    EXPECT_EQ(devio::Read32(&words[4]), 0u);
    EXPECT_EQ(devio::Read32(&words[5]), 0xCAFEu);
    EXPECT_EQ(devio::Read32(&words[8]), 0x1008u);
    devio::Write32(&words[3], 0x33);
    devio::Write32(&words[7], 0x77);
    devio::Write32(&words[8], 0x88);

    EXPECT_EQ(model->log, (std::vector<std::string>{"r32@0", "r32@4", "w32@12"}));
    EXPECT_EQ(model->regs[12], 0x77u);
    EXPECT_EQ(words[3], 0x33u);
    EXPECT_EQ(words[7], 0x1007u) << "a served write must not reach the memory";
    EXPECT_EQ(words[8], 0x88u);

    claim.Release();
    EXPECT_EQ(devio::Read32(&words[5]), 0x1005u);
    EXPECT_EQ(model->log.size(), 3u);
}

TEST_F(RegAccessTest, EachOfSeveralClaimsServesOnlyItsOwnWords)
{
    auto low = std::make_shared<LoggingModel>();
    auto high = std::make_shared<LoggingModel>();
    devio::RangeClaim lowClaim(&words[2], 8, low);
    {
        devio::RangeClaim highClaim(&words[12], 8, high);
        low->regs[4] = 0x44;
        high->regs[0] = 0x1212;
        EXPECT_EQ(devio::Read32(&words[3]), 0x44u);
        EXPECT_EQ(devio::Read32(&words[7]), 0x1007u) << "between the two claims";
        EXPECT_EQ(devio::Read32(&words[12]), 0x1212u);
    }
    // Releasing the higher claim leaves the lower one served.
    EXPECT_EQ(devio::Read32(&words[12]), 0x100Cu);
    EXPECT_EQ(devio::Read32(&words[3]), 0x44u);
    EXPECT_EQ(low->log, (std::vector<std::string>{"r32@4", "r32@4"}));
    EXPECT_EQ(high->log, (std::vector<std::string>{"r32@0"}));
}

TEST_F(RegAccessTest, WideWordsAreSplitLowHalfFirstUnlessTheModelServesThemWhole)
{
    auto* wide = reinterpret_cast<volatile uint64_t*>(words);
    {
        devio::RangeClaim claim(words, sizeof(words), model);
        model->regs[8] = 0x89ABCDEF;
        model->regs[12] = 0x01234567;
        EXPECT_EQ(devio::Read64(&wide[1]), 0x0123456789ABCDEFull);
        devio::Write64(&wide[2], 0xFEDCBA9876543210ull);
        EXPECT_EQ(model->log, (std::vector<std::string>{"r32@8", "r32@12", "w32@16", "w32@20"}));
        EXPECT_EQ(model->regs[16], 0x76543210u);
        EXPECT_EQ(model->regs[20], 0xFEDCBA98u);
    }
    auto whole = std::make_shared<WideModel>();
    devio::RangeClaim claim(words, sizeof(words), whole);
    devio::Write64(&wide[3], 0x1122334455667788ull);
    EXPECT_EQ(devio::Read64(&wide[3]), 0x1122334455667788ull);
    EXPECT_EQ(whole->log, (std::vector<std::string>{"w64@24", "r64@24"}));
}

// A value off its alignment moves byte by byte and touches only its own bytes, in memory and in a
// claimed range (through the model's default: the byte's word read, and written back with that
// byte changed); an aligned one stays one access of its width.
TEST_F(RegAccessTest, UnalignedValuesMoveByteByByteAndAlignedOnesWhole)
{
    auto* bytes = reinterpret_cast<volatile uint8_t*>(words);
    auto* odd = reinterpret_cast<volatile int32_t*>(bytes + 5);
    auto* oddDouble = reinterpret_cast<volatile double*>(bytes + 9);
    auto* even = reinterpret_cast<volatile int32_t*>(bytes + 20);

    devio::WriteUnaligned(odd, -2);
    devio::WriteUnaligned(oddDouble, 1.5);
    EXPECT_EQ(devio::ReadUnaligned(odd), -2);
    EXPECT_EQ(devio::ReadUnaligned(oddDouble), 1.5);
    const double oneAndAHalf = 1.5;
    uint8_t expected[32];
    std::memcpy(expected, const_cast<const uint32_t*>(words), 32);
    const uint8_t initial[8] = {0x00, 0x10, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00}; // words 0 and 1
    EXPECT_EQ(std::memcmp(expected, initial, 5), 0) << "the bytes before the value";
    const int32_t minusTwo = -2;
    EXPECT_EQ(std::memcmp(expected + 5, &minusTwo, 4), 0);
    EXPECT_EQ(std::memcmp(expected + 9, &oneAndAHalf, 8), 0);
    EXPECT_EQ(words[5], 0x1005u) << "the bytes after the value";

    model->regs[4] = 0x44332211;
    model->regs[8] = 0x88776655;
    devio::RangeClaim claim(words, sizeof(words), model);
    devio::WriteUnaligned(odd, 0x0A0B0C0D);
    EXPECT_EQ(model->regs[4], 0x0B0C0D11u);
    EXPECT_EQ(model->regs[8], 0x8877660Au);
    EXPECT_EQ(model->log, (std::vector<std::string>{"r32@4", "w32@4", "r32@4", "w32@4", "r32@4", "w32@4", "r32@8",
                                                    "w32@8"}));
    model->log.clear();
    EXPECT_EQ(devio::ReadUnaligned(odd), 0x0A0B0C0D);
    EXPECT_EQ(model->log, (std::vector<std::string>{"r32@4", "r32@4", "r32@4", "r32@8"}));
    EXPECT_EQ(words[1], 0xFFFFFE01u) << "a served write must not reach the memory";

    model->log.clear();
    devio::WriteUnaligned(even, 7);
    EXPECT_EQ(devio::ReadUnaligned(even), 7);
    EXPECT_EQ(model->log, (std::vector<std::string>{"w32@20", "r32@20"}));
}

TEST_F(RegAccessTest, TypedWordsTravelAsTheirBitPatterns)
{
    alignas(8) volatile double d = 0.0;
    auto* f = reinterpret_cast<volatile float*>(&words[0]);
    auto* i = reinterpret_cast<volatile int32_t*>(&words[1]);

    devio::Write(f, -1.5f);
    devio::Write(i, -2);
    devio::Write(&words[2], 3); // the word's type decides, not the literal's
    EXPECT_EQ(words[0], 0xBFC00000u);
    EXPECT_EQ(words[2], 3u);
    EXPECT_EQ(devio::Read(i), -2);

    auto whole = std::make_shared<WideModel>();
    devio::RangeClaim wideClaim(&d, sizeof(d), whole);
    devio::RangeClaim claim(words, sizeof(words), model);
    devio::Write(f, 2.5f);
    devio::Write(&d, -0.25);
    EXPECT_EQ(model->regs[0], 0x40200000u);
    EXPECT_EQ(whole->wide, 0xBFD0000000000000ull);
    EXPECT_EQ(devio::Read(f), 2.5f);
    EXPECT_EQ(devio::Read(&d), -0.25);
    EXPECT_EQ(d, 0.0) << "the double's memory is behind the model";
}

TEST_F(RegAccessTest, ClaimsThatCannotBeServedAreRefused)
{
    auto base = reinterpret_cast<uintptr_t>(&words[4]);
    devio::RangeClaim claim(&words[4], 16, model);

    struct Case {
        const char* what;
        uintptr_t first;
        size_t size;
        bool withModel;
        const char* text;
    };
    const Case cases[] = {
        {"empty", base + 32, 0, true, "devio: cannot claim an empty register range"},
        {"without model", base + 32, 4, false, "devio: register range claimed without a model"},
        {"wrapping", UINTPTR_MAX - 3, 8, true, "wraps around the address space"},
        {"same range", base, 16, true, "overlaps the claimed range"},
        {"inside", base + 4, 4, true, "overlaps the claimed range"},
        {"over its start", base - 4, 8, true, "overlaps the claimed range"},
        {"over its end", base + 12, 8, true, "overlaps the claimed range"},
        {"around it", base - 8, 32, true, "overlaps the claimed range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            devio::ClaimRange(reinterpret_cast<void*>(c.first), c.size,
                              c.withModel ? model : nullptr);
            ADD_FAILURE() << "claimed";
        } catch (const istd::Exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(devio::GetClaimedRangeCount(), 1u);

    // Neighbours on both sides touch the range without overlapping it.
    devio::RangeClaim before(&words[3], 4, model);
    devio::RangeClaim after(&words[8], 4, model);
    EXPECT_EQ(devio::GetClaimedRangeCount(), 3u);
}

TEST_F(RegAccessTest, ReleaseEndsAClaimOnceAndMovedClaimsReleaseOnce)
{
    const devio::RangeId id = devio::ClaimRange(words, 8, model);
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(devio::ReleaseRange(id));
    EXPECT_FALSE(devio::ReleaseRange(id));
    EXPECT_FALSE(devio::ReleaseRange(0));

    devio::RangeClaim outer;
    {
        devio::RangeClaim inner(words, 8, model);
        const devio::RangeId innerId = inner.GetId();
        outer = std::move(inner);
        EXPECT_EQ(outer.GetId(), innerId);
    }
    EXPECT_EQ(devio::GetClaimedRangeCount(), 1u) << "the moved-from claim released the range";
    outer = devio::RangeClaim(&words[8], 8, model);
    EXPECT_EQ(devio::GetClaimedRangeCount(), 1u) << "assignment released the old range";
    devio::Write32(&words[0], 1);
    devio::Write32(&words[8], 2);
    EXPECT_EQ(words[0], 1u);
    EXPECT_EQ(model->regs[0], 2u);
}

TEST_F(RegAccessTest, AFailingModelFailsTheAccess)
{
    class Broken : public devio::RegisterModel {
    public:
        uint32_t OnRead32(size_t) override { throw istd::Exception("bus error"); }
        void OnWrite32(size_t, uint32_t) override { throw istd::Exception("bus error"); }
    };
    devio::RangeClaim claim(words, 8, std::make_shared<Broken>());
    EXPECT_THROW(devio::Read32(&words[0]), istd::Exception);
    EXPECT_THROW(devio::Write32(&words[1], 5), istd::Exception);
    EXPECT_EQ(words[1], 0x1001u);
}

} // namespace
