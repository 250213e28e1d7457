// The history-buffer writers' control registers on a simulated board: the control words each
// operation writes, and the status bit of the writers' model.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/sim_boards.h"
#include "iapp/features/history_buffer.h"
#include "istd/trace_capture.h"
#include "sim/fpga/history_buffer_model.h"
#include "tests/support/error_of.h"

using ifeature::HistoryBuffer;
using sim::boards::Access;
using sim::fpga::HistoryBufferModel;
using testsupport::ErrorOf;

namespace {

constexpr size_t c_offset = 0x440000;
constexpr size_t c_writers = 2;

// Counts the calls that reach the virtual ForceEnable.
class CountingBuffer : public HistoryBuffer {
public:
    using HistoryBuffer::HistoryBuffer;
    void ForceEnable() override
    {
        ++forced;
        HistoryBuffer::ForceEnable();
    }
    int forced = 0;
};

class HistoryBufferTest : public iapptest::SimBoards {
protected:
    void SetUp() override
    {
        Start();
        board = MakeBoard(3);
        log = chassis->Get(3).Log(c_offset, HistoryBufferModel::WindowSize(c_writers), model);
        window = board->MapRegisters(c_offset, HistoryBufferModel::WindowSize(c_writers));
        ASSERT_NE(window, nullptr);
        hb = iapp::Create<CountingBuffer>(*board, "history_buffer",
                                          std::vector<HistoryBuffer::tControl>{{Reg(0), HistoryBuffer::eEnable1},
                                                                               {Reg(1), HistoryBuffer::eEnable4}});
    }

    volatile uint64_t* Reg(size_t writer) const
    {
        return reinterpret_cast<volatile uint64_t*>(window + HistoryBufferModel::c_stride * writer);
    }

    // The writes logged since the last call, as "offset=value".
    std::vector<std::string> Writes()
    {
        std::vector<std::string> writes;
        for (const Access& access : log->Entries()) {
            if (access.kind == Access::eWrite) {
                std::ostringstream text;
                text << access.width << "+" << access.offset << "=" << access.value;
                writes.push_back(text.str());
            }
        }
        log->Clear();
        return writes;
    }

    std::shared_ptr<HistoryBufferModel> model = std::make_shared<HistoryBufferModel>(c_writers);
    iapp::KavrelBoard* board = nullptr;
    std::shared_ptr<sim::boards::AccessLog> log;
    volatile iapp::FPGAMem_t* window = nullptr;
    CountingBuffer* hb = nullptr;
};

TEST_F(HistoryBufferTest, EachOperationWritesItsControlWordsLowHalfFirst)
{
    using Words = std::vector<std::string>;
    struct Case {
        const char* what;
        std::array<bool, c_writers> runningBefore;
        std::function<void()> operation;
        Words writes;
        std::array<bool, c_writers> runningAfter;
    };
    const Case cases[] = {
        {"force enable", {false, false}, [&] { hb->ForceEnable(); },
         Words{"32+0=2", "32+4=0", "32+0=1", "32+4=0", "32+8=2", "32+12=0", "32+8=4", "32+12=0"}, {true, true}},
        {"force enable restarts running writers", {true, true}, [&] { hb->ForceEnable(); },
         Words{"32+0=2", "32+4=0", "32+0=1", "32+4=0", "32+8=2", "32+12=0", "32+8=4", "32+12=0"}, {true, true}},
        {"disable", {true, true}, [&] { hb->Disable(); }, Words{"32+0=2", "32+4=0", "32+8=2", "32+12=0"},
         {false, false}},
        {"assure enable: only the writer that is off", {false, true}, [&] { hb->AssureEnable(); },
         Words{"32+0=2", "32+4=0", "32+0=1", "32+4=0"}, {true, true}},
        {"assure enable: the second one", {true, false}, [&] { hb->AssureEnable(); },
         Words{"32+8=2", "32+12=0", "32+8=4", "32+12=0"}, {true, true}},
        {"assure enable with all on writes nothing", {true, true}, [&] { hb->AssureEnable(); }, Words{},
         {true, true}},
        {"is enabled only reads", {false, true}, [&] { EXPECT_FALSE(hb->IsEnabled()); }, Words{}, {false, true}},
    };
    for (const Case& c : cases) {
        for (size_t w = 0; w < c_writers; ++w) {
            model->SetRunning(w, c.runningBefore[w]);
        }
        log->Clear();
        c.operation();
        EXPECT_EQ(Writes(), c.writes) << c.what;
        for (size_t w = 0; w < c_writers; ++w) {
            EXPECT_EQ(model->IsRunning(w), c.runningAfter[w]) << c.what << ", writer " << w;
        }
    }
    EXPECT_EQ(model->GetMode(0), 1u);
    EXPECT_EQ(model->GetMode(1), 4u);
}

TEST_F(HistoryBufferTest, PostConfigStartsEveryWriterThroughTheVirtualForceEnable)
{
    root->PostConfig();
    EXPECT_EQ(hb->forced, 1);
    EXPECT_TRUE(model->IsRunning(0));
    EXPECT_TRUE(model->IsRunning(1));
    EXPECT_TRUE(hb->IsEnabled());
}

TEST_F(HistoryBufferTest, IsEnabledFollowsTheStatusBitOfEveryWriter)
{
    EXPECT_FALSE(hb->IsEnabled()); // both stopped
    hb->ForceEnable();
    EXPECT_TRUE(hb->IsEnabled());
    EXPECT_TRUE(hb->GetControls()[1].IsEnabled());

    // A writer that went down by itself is named with its register and value.
    model->SetRunning(1, false);
    {
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_FALSE(hb->IsEnabled());
        std::ostringstream expected;
        expected << "Not all HB writers are enabled.  Address: 0x" << std::hex
                 << reinterpret_cast<uintptr_t>(Reg(1)) << " Value: 0x4";
        EXPECT_TRUE(capture.Contains(expected.str())) << capture.Text();
    }
    EXPECT_FALSE(hb->GetControls()[1].IsEnabled());
    hb->AssureEnable();
    EXPECT_TRUE(hb->IsEnabled());

    // A writer that does not come up shows only here.
    model->SetStuck(0, true);
    hb->ForceEnable();
    EXPECT_FALSE(hb->IsEnabled());
    EXPECT_EQ(model->GetStarts(0), 2u);
    EXPECT_EQ(model->GetControl(0), 1u);
}

TEST_F(HistoryBufferTest, RefusedControlsAndNoControls)
{
    for (uint32_t mode : {0u, 2u, 3u, 5u, 0x80000001u}) {
        EXPECT_EQ(ErrorOf([&] { HistoryBuffer::tControl(Reg(0), static_cast<HistoryBuffer::flags>(mode)); }),
                  "Invalid signal enable mode: " + std::to_string(mode));
    }
    EXPECT_EQ(ErrorOf([&] { HistoryBuffer::tControl(nullptr, HistoryBuffer::eEnable1); }),
              "Invalid history buffer control register");

    auto* empty = iapp::Create<HistoryBuffer>(*board, "empty", std::vector<HistoryBuffer::tControl>{});
    log->Clear();
    empty->ForceEnable();
    empty->AssureEnable();
    empty->Disable();
    EXPECT_TRUE(empty->IsEnabled());
    EXPECT_TRUE(log->Entries().empty());
}

} // namespace
