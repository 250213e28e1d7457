// The board pool on a machine without a chassis: this program runs on the real libusb, which
// finds no chassis management controller here, so the pool holds the host alone.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/board_pool.h"
#include "bmc/os_connection.h"

namespace {

TEST(PoolWithoutChassis, TheFirstUseEnumeratesTheHostAlone)
{
    istd::TraceCapture trace(istd::eTraceError);
    ::testing::internal::CaptureStdout();
    bmc::BoardPool& pool = bmc::BoardPool::Instance();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(trace.Contains("bmc: Error communicating to local KOZ: ")) << trace.Text();

    const std::vector<bmc::Uri> uris = pool.GetAllLocalBoardUris();
    ASSERT_EQ(uris.size(), 1u);
    EXPECT_EQ(uris[0].ToString(), "kvr:///os/");

    bmc::Board* host = pool.GetBoard(bmc::c_localOSUri);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->GetType(), bmc::eBoardTypeOS);
    EXPECT_EQ(host->GetName(), "os");
    const std::vector<bmc::SensorId> ids = host->GetSensorsIds();
    ASSERT_GE(ids.size(), 9u);
    EXPECT_NE(dynamic_cast<bmc::OsSensor*>(host->GetSensor(ids[3])), nullptr);
    EXPECT_TRUE(host->GetSensor(ids[0])->Read().IsValid());
    std::ostringstream text;
    text << *host;
    EXPECT_EQ(text.str(), "Board: os, name: os, type: OS (), st: Running(4)");

    // A chassis board asked for by URI cannot be reached: none.
    EXPECT_EQ(pool.GetBoard(bmc::DecomposeUri("kvr:///chassis/1")), nullptr);
    EXPECT_EQ(pool.GetAllLocalBoardUris().size(), 1u);
}

} // namespace
