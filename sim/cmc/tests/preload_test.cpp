// The two ways a program reaches the simulator: preloaded into a program built on the real
// libusb, configured by the environment; and linked into a program whose libraries use libusb.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "sim/cmc/simulator.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

extern "C" int simcmc_count_devices();

namespace {

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

// Runs the probe with the simulator preloaded and the given environment; standard output and
// standard error together.
std::string RunProbe(const std::string& environment, const std::string& product,
                     const std::string& frame) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    const std::string command = "env ASAN_OPTIONS=" + Quote(asanOptions) + " LD_PRELOAD=" +
                                Quote(KAVREL_SIMCMC_LIBRARY) + " KAVREL_SIM_TIME_SCALE=0 " +
                                environment + " " + Quote(KAVREL_SIMCMC_PROBE) + " 0x6b76 " +
                                product + " " + frame + " 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "popen failed";
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    const int status = pclose(pipe);
    if (status != 0)
        output += "exit status " + std::to_string(status);
    return output;
}

const std::string c_sample = KAVREL_SOURCE_DIR "/sim/cmc/data/chassis.txt";
const std::string c_deviceId = "0600010000";

TEST(Preload, ProgramOnTheRealLibusbTalksToTheSimulator) {
    EXPECT_EQ(RunProbe("KAVREL_SIM_CHASSIS=" + Quote(c_sample), "0xabcd", c_deviceId),
              "answer 07 00 01 00 0f 2c 81 02 04 02 29 de c0 00 2c 2c 03 02 10 01 00 00 00 00 00 00 "
              "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
              "00 00 00 00 00 00 00 00 00 00\n");
}

TEST(Preload, FaultsFromTheEnvironment) {
    const std::string chassis = "KAVREL_SIM_CHASSIS=" + Quote(c_sample);
    EXPECT_EQ(RunProbe(chassis + " KAVREL_SIM_FAULTS=" + Quote("ccode 0xC3 slot=1"), "0x101", c_deviceId)
                  .substr(0, 22),
              "answer 07 00 01 c3 00 ");
    // The probe does not drain: it reads the frame waiting since the claim.
    EXPECT_EQ(RunProbe(chassis + " KAVREL_SIM_FAULTS=" + Quote("pending slot=1; ccode 0xC3"), "0x101",
                       c_deviceId)
                  .substr(0, 22),
              "answer ff ff ff ff ff ");
    EXPECT_EQ(RunProbe(chassis + " KAVREL_SIM_FAULTS=" + Quote("claim count=forever"), "0x101",
                       c_deviceId),
              "error transfer LIBUSB_ERROR_BUSY\n");
}

TEST(Preload, NoChassisMeansOnlyTheHub) {
    EXPECT_EQ(RunProbe("", "0xabcd", c_deviceId), "error open LIBUSB_ERROR_NOT_FOUND\n");
}

TEST(Preload, BadEnvironmentFailsInit) {
    EXPECT_EQ(RunProbe("KAVREL_SIM_CHASSIS=/nonexistent/chassis.txt", "0xabcd", c_deviceId),
              "kavrelsimcmc: cannot open chassis file /nonexistent/chassis.txt\n"
              "error init LIBUSB_ERROR_OTHER\n");
    EXPECT_EQ(RunProbe("KAVREL_SIM_CHASSIS=" + Quote(c_sample) + " KAVREL_SIM_FAULTS=bogus",
                       "0xabcd", c_deviceId),
              "kavrelsimcmc: fault \"bogus\": unknown fault kind \"bogus\"\n"
              "error init LIBUSB_ERROR_OTHER\n");
    EXPECT_EQ(RunProbe("KAVREL_SIM_TIME_SCALE=fast", "0xabcd", c_deviceId),
              "kavrelsimcmc: KAVREL_SIM_TIME_SCALE is not a number >= 0: fast\n"
              "error init LIBUSB_ERROR_OTHER\n");
}

TEST(Preload, EventLogFile) {
    const testsupport::TempDir dir;
    const std::string log = dir / "usb.log";
    RunProbe("KAVREL_SIM_CHASSIS=" + Quote(c_sample) + " KAVREL_SIM_LOG=" + Quote(log), "0x102",
             c_deviceId);
    const std::string lines = testsupport::ReadFile(log);
    EXPECT_NE(lines.find("init result=LIBUSB_SUCCESS\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("claim slot2 result=LIBUSB_SUCCESS\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("write slot2 result=LIBUSB_SUCCESS ep=0x2 timeout=500 bytes=0600010000"),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find("list result=4\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("read slot2 result=LIBUSB_SUCCESS ep=0x82 timeout=5000 bytes=070001000f"
                         "ad8102050200dec000adad01020204000000"),
              std::string::npos)
        << lines;
}

TEST(LinkedInPlace, LibrariesBuiltOnLibusbReachTheSimulator) {
    auto& sim = sim::cmc::Simulator::Instance();
    sim.Load(c_sample);
    EXPECT_EQ(simcmc_count_devices(), 4);
    sim.Clear();
    EXPECT_EQ(simcmc_count_devices(), 1);
}

}  // namespace
