// The event-receiver board's generator loaded from two threads at once, through its "apply"
// command and directly, while the table's codes change between loads: every load reaches the
// FPGA whole, never interleaved with another, and shows one table, before or after a change.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/run_together.h"
#include "common/zolt_fixture.h"

namespace {

using iboard::RelevantTriggerCodingNode;
using sim::boards::Access;

class ZoltBoardThreadsTest : public iapptest::ZoltBoardFixture {};

TEST_F(ZoltBoardThreadsTest, ConcurrentLoadsOfTheGeneratorDoNotInterleave)
{
    constexpr int c_loads = 300;
    const std::vector<uint32_t> delays = {3, 1, 4, 1, 0xFFFF};
    ASSERT_EQ(Set("rtc/generator/delay", delays), "no error");
    ASSERT_EQ(Set("rtc/generator/code", std::vector<uint32_t>(32, 0)), "no error");
    auto rtc = std::dynamic_pointer_cast<RelevantTriggerCodingNode>(Node("rtc"));
    ASSERT_TRUE(rtc);
    auto apply = Node("rtc/generator/apply");
    auto codes = Node("rtc/generator/code");
    receiver->RtcLog()->Clear();

    iapptest::RunTogether(
        c_loads, [&](int) { apply->Set(std::string("Execute"), 0, mci::c_noRelPath); },
        [&](int i) {
            codes->Set(std::vector<uint32_t>(32, static_cast<uint32_t>(i + 1)), 0, mci::c_noRelPath);
            rtc->ApplyGenerator();
        });

    std::vector<Access> writes;
    for (const Access& access : receiver->RtcLog()->Entries()) {
        if (access.kind == Access::eWrite) {
            writes.push_back(access);
        }
    }
    const size_t perLoad = 2 + 4 * delays.size();
    ASSERT_EQ(writes.size(), 2 * c_loads * perLoad);
    for (size_t load = 0; load < 2 * c_loads; ++load) {
        const Access* w = &writes[load * perLoad];
        SCOPED_TRACE(load);
        ASSERT_EQ(w[0].offset, RelevantTriggerCodingNode::c_genStart);
        ASSERT_EQ(w[0].value, 1u);
        ASSERT_EQ(w[1].offset, RelevantTriggerCodingNode::c_genStart + 4);
        const uint64_t code = w[2].value;
        for (size_t k = 0; k < delays.size(); ++k) {
            const Access* entry = w + 2 + 4 * k;
            ASSERT_EQ(entry[0].offset, RelevantTriggerCodingNode::c_genCode);
            ASSERT_EQ(entry[0].value, code) << "one table per load";
            ASSERT_EQ(entry[1].offset, RelevantTriggerCodingNode::c_genCode + 4);
            ASSERT_EQ(entry[2].offset, RelevantTriggerCodingNode::c_genDelay);
            ASSERT_EQ(entry[2].value, delays[k]);
            ASSERT_EQ(entry[3].offset, RelevantTriggerCodingNode::c_genDelay + 4);
        }
    }
}

} // namespace
