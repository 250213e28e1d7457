// A process that keeps trying to open HPI sessions without a daemon: OpenHPI's client would
// abort it after about a thousand tries, so board management stops at 500 with an error of its
// own. A program of its own: afterwards this process can open no session at all.

#include <gtest/gtest.h>

#include <string>

#include "istd/trace_capture.h"
#include "bmc/board_pool.h"
#include "bmc/hpi_connection.h"
#include "common/host_commands.h"
#include "common/hpi_seam.h"
#include "tests/support/error_of.h"

namespace {

TEST(HpiSessionLimit, AfterFiveHundredOpensEveryFurtherOpenIsRefused)
{
    bmctest::HpiSeam::Settings settings;
    settings.fake = true;
    settings.openError = SA_ERR_HPI_NO_RESPONSE;
    bmctest::HpiSeam seam(settings);
    bmc::HpiConnection connection(bmc::Uri(bmc::Uri::eAmc, 1, bmc::Uri::eInterfaceDefault));
    const std::string refused = "bmc: HPI error on open :no more sessions for this process (500 opened)";

    size_t failures = 0;
    std::string text;
    while (failures < 600 && (text = testsupport::ErrorOf([&] { connection.Open(); })) != refused) {
        EXPECT_EQ(text, "bmc: HPI error on open :NO_RESPONSE");
        ++failures;
    }
    EXPECT_EQ(failures, 500u);
    EXPECT_EQ(bmctest::HpiSeam::Calls().Get("open"), 500u);

    istd::TraceCapture trace(istd::eTraceWarning);
    EXPECT_TRUE(bmc::EnumerateHpiBoards().empty());
    EXPECT_TRUE(trace.Contains("Can't enumerate HPI boards: " + refused)) << trace.Text();
    EXPECT_EQ(bmctest::HpiSeam::Calls().Get("open"), 500u);
}

} // namespace
