// The one HPI session of a process against a real daemon: who opens it, that the last
// connection closes it, and what becomes of it when the daemon is gone, refuses discovery or
// has nothing to list. The seam counts the OpenHPI calls (and stands in for the discovery
// failure a daemon cannot be made to show); every other answer comes from the daemon.
// Nothing here makes connections of the connection pool, which would keep the session open.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "istd/log.h"
#include "istd/trace_capture.h"
#include "bmc/board_pool.h"
#include "bmc/hpi_connection.h"
#include "common/host_commands.h"
#include "common/hpi_daemon.h"
#include "common/hpi_seam.h"
#include "tests/support/error_of.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using bmc::Connection;
using bmc::HpiConnection;
using bmctest::HpiSeam;
using istd::AnyReference;

bmc::Uri Amc(int slot)
{
    return bmc::Uri(bmc::Uri::eAmc, slot, bmc::Uri::eInterfaceDefault);
}

// Command 9, or the text of its failure.
std::string Identify(Connection& connection)
{
    return testsupport::ErrorOf([&] {
        ipm_devid_ext_rsp identity{};
        connection.Execute(bmc::eCmdGetDeviceId, Connection::m_noArgs, AnyReference(identity));
    });
}

// Whether OpenHPI still holds the session: a closed one is refused as invalid.
bool SessionAlive(SaHpiSessionIdT session)
{
    return bmc::HpiFunctions::Real().discover(session) != SA_ERR_HPI_INVALID_SESSION;
}

size_t Calls(const char* function)
{
    return HpiSeam::Calls().Get(function);
}

TEST(HpiSession, TheLastConnectionClosesItAndTheNextCommandOpensANewOne)
{
    bmctest::HpiDaemon daemon;
    HpiSeam seam(HpiSeam::Settings{});
    auto first = std::make_unique<HpiConnection>(Amc(5));
    auto second = std::make_unique<HpiConnection>(Amc(6));
    auto third = std::make_unique<HpiConnection>(bmc::Uri(bmc::Uri::eMch, 1, bmc::Uri::eInterfaceDefault));
    EXPECT_EQ(Calls("open"), 0u); // connections open nothing themselves

    for (HpiConnection* connection : {first.get(), second.get(), third.get()}) {
        EXPECT_EQ(Identify(*connection), "no error");
    }
    ASSERT_EQ(HpiSeam::Opened().size(), 1u);
    const SaHpiSessionIdT session = HpiSeam::Opened()[0];
    EXPECT_EQ(Calls("discover"), 1u);

    first.reset();
    second.reset();
    EXPECT_EQ(Calls("close"), 0u);
    EXPECT_TRUE(SessionAlive(session));
    third.reset();
    EXPECT_EQ(HpiSeam::Closed(), std::vector<SaHpiSessionIdT>{session});
    EXPECT_FALSE(SessionAlive(session));

    HpiConnection later(Amc(5));
    EXPECT_EQ(Calls("open"), 1u);
    EXPECT_EQ(Identify(later), "no error");
    ASSERT_EQ(HpiSeam::Opened().size(), 2u);
    EXPECT_TRUE(SessionAlive(HpiSeam::Opened()[1]));
}

TEST(HpiSession, AnEnumerationWithNothingUsableLeavesItsSessionOpen)
{
    bmctest::HpiDaemon daemon(bmctest::HpiDaemon::c_shelfData);
    HpiSeam seam(HpiSeam::Settings{});
    istd::TraceCapture trace(istd::eTraceWarning);
    EXPECT_TRUE(bmc::EnumerateHpiBoards().empty());
    EXPECT_TRUE(trace.Contains("Ignored HPI Entity of type: 23")) << trace.Text();
    ASSERT_EQ(HpiSeam::Opened().size(), 1u);
    EXPECT_TRUE(SessionAlive(HpiSeam::Opened()[0]));

    // The next connection to go closes it.
    std::make_unique<HpiConnection>(Amc(1)).reset();
    EXPECT_EQ(HpiSeam::Closed(), HpiSeam::Opened());
}

TEST(HpiSession, AnEmptyResourceTableGivesNoBoards)
{
    bmctest::HpiDaemon daemon(KAVREL_TEST_DATA_DIR "/hpi_empty.data");
    HpiSeam seam(HpiSeam::Settings{});
    istd::TraceCapture trace(istd::eTraceError);
    EXPECT_TRUE(bmc::EnumerateHpiBoards().empty());
    EXPECT_EQ(Calls("rpt"), 1u);
    EXPECT_TRUE(trace.Contains("saHpiRptEntryGet error :NOT_PRESENT")) << trace.Text();
    std::make_unique<HpiConnection>(Amc(1)).reset();
}

// What the OpenHPI library says of a daemon that is not there ("connect failed", "cannot open
// connection to domain 0") never reaches standard error: the trace has it, and the log too when
// the program's boards are reached through HPI.
TEST(HpiSession, TheLibrarysOwnMessagesGoToTheTraceAndWhenAskedToTheLog)
{
    bmctest::HpiDaemon daemon;
    daemon.Stop();
    HpiSeam seam(HpiSeam::Settings{});
    testsupport::TempDir dir;
    const std::string log = dir / "bmc.log";
    ASSERT_TRUE(istd::Log::Init(log));
    for (const bool logged : {false, true}) {
        SCOPED_TRACE(logged ? "logged" : "traced only");
        bmc::LogHpiLibraryMessages(logged);
        const size_t before = testsupport::ReadFile(log).size();
        istd::TraceCapture trace(istd::eTraceWarning);
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(bmc::EnumerateHpiBoards().empty());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(trace.Contains("HPI library: transport: ")) << trace.Text();
        EXPECT_TRUE(trace.Contains("HPI library: baselib: ")) << trace.Text();
        const std::string written = testsupport::ReadFile(log).substr(before);
        EXPECT_EQ(written.find("WARNING HPI library: baselib: ") != std::string::npos, logged) << written;
    }
    bmc::LogHpiLibraryMessages(false);
    istd::Log::Stop();
}

TEST(HpiSession, WithoutADaemonOpeningFailsAndTheNextOpenStartsAgain)
{
    bmctest::HpiDaemon daemon;
    daemon.Stop();
    HpiSeam seam(HpiSeam::Settings{});
    HpiConnection connection(Amc(5));
    EXPECT_EQ(Identify(connection), "bmc: HPI error on open :NO_RESPONSE");
    {
        istd::TraceCapture trace(istd::eTraceWarning);
        EXPECT_TRUE(bmc::EnumerateHpiBoards().empty());
        EXPECT_TRUE(trace.Contains("Can't enumerate HPI boards: bmc: HPI error on open :NO_RESPONSE")) << trace.Text();
    }
    EXPECT_EQ(Calls("open"), 2u);
    EXPECT_EQ(Calls("discover"), 0u);

    daemon.Start();
    EXPECT_EQ(Identify(connection), "no error");
    EXPECT_EQ(Calls("open"), 3u);
    EXPECT_EQ(HpiSeam::Opened().size(), 1u);
}

TEST(HpiSession, ACloseTheDaemonCannotAnswerIsTracedAndForgotten)
{
    bmctest::HpiDaemon daemon;
    HpiSeam seam(HpiSeam::Settings{});
    auto connection = std::make_unique<HpiConnection>(Amc(5));
    EXPECT_EQ(Identify(*connection), "no error");

    daemon.Stop();
    {
        istd::TraceCapture trace(istd::eTraceError);
        connection.reset();
        EXPECT_TRUE(trace.Contains("Ignored saHpiSessionClose error :NO_RESPONSE")) << trace.Text();
    }
    EXPECT_EQ(Calls("close"), 1u);

    // The session is forgotten all the same: the next command opens a new one.
    daemon.Start();
    HpiConnection later(Amc(5));
    EXPECT_EQ(Identify(later), "no error");
    EXPECT_EQ(HpiSeam::Opened().size(), 2u);
}

TEST(HpiSession, ADiscoveryFailureClosesTheSessionBeforeTheErrorLeaves)
{
    bmctest::HpiDaemon daemon;
    HpiConnection connection(Amc(5));
    {
        HpiSeam::Settings settings;
        settings.discoverError = SA_ERR_HPI_BUSY;
        HpiSeam seam(settings);
        EXPECT_EQ(Identify(connection), "bmc: HPI error on discover :BUSY");
        ASSERT_EQ(HpiSeam::Opened().size(), 1u);
        EXPECT_EQ(HpiSeam::Closed(), HpiSeam::Opened());
        EXPECT_FALSE(SessionAlive(HpiSeam::Opened()[0]));

        istd::TraceCapture trace(istd::eTraceWarning);
        EXPECT_TRUE(bmc::EnumerateHpiBoards().empty());
        EXPECT_TRUE(trace.Contains("Can't enumerate HPI boards: bmc: HPI error on discover :BUSY")) << trace.Text();
        EXPECT_EQ(HpiSeam::Closed().size(), 2u);
    }

    // The next open starts from the beginning.
    HpiSeam seam(HpiSeam::Settings{});
    EXPECT_EQ(Identify(connection), "no error");
    EXPECT_EQ(Calls("open"), 1u);
    EXPECT_EQ(Calls("discover"), 1u);
}

} // namespace
