// A program started with KAVREL_SIM_BOARDS gets the chassis and its boards' monitor devices when
// the library loads: the test runs itself again with the variable set and looks at the devices
// from inside that process.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "devio/device_file.h"
#include "sim/boards/chassis.h"
#include "sim/cmc/simulator.h"

extern char** environ;

namespace {

TEST(Environment, AProgramStartedWithTheVariableHasTheBoards)
{
    if (std::getenv("KAVREL_SIM_BOARDS") != nullptr) {
        // The child: the sample chassis is loaded and slot 3 maps 16 MiB.
        EXPECT_EQ(sim::cmc::Simulator::Instance().Slots(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
        const int fd = devio::Open("/dev/kavrel3.monitor", 0);
        ASSERT_GE(fd, 0);
        devio::MapInfo info;
        EXPECT_EQ(devio::Ioctl(fd, devio::c_mapInfoRequest, &info), 0);
        EXPECT_EQ(info.size, sim::boards::Chassis::c_memorySize);
        devio::Close(fd);
        EXPECT_LT(devio::Open("/dev/kavrel7.monitor", 0), 0);
        return;
    }
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    env.push_back("KAVREL_SIM_BOARDS=" + sim::boards::SampleChassisPath());
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=Environment.AProgramStartedWithTheVariableHasTheBoards";
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
