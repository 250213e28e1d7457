// Crash safety of saving: a child process saves a large configuration over and over, each save
// with the next generation number in every value, and is killed at a random moment. After
// every kill the file must load, whole: every value from one generation (the old file or the
// new one), never a parse error, never a mix, never an older generation than before.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "inet/tests/support/orb_test_support.h"
#include "ireg/reg_config_node.h"
#include "ireg/reg_value_node.h"
#include "mci/factory.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr mci::Flags c_persistent = 0xE;
constexpr int c_groups = 100;
constexpr int c_nodesPerGroup = 50;
constexpr size_t c_items = 1000;
const char c_fileVariable[] = "IREG_CRASH_TEST_FILE";
const char c_firstVariable[] = "IREG_CRASH_TEST_FIRST";

struct Registry {
    icfg::Configuration document{"1.0", testsupport::TypesXsd()};
    mci::TreeNodePtr root;

    explicit Registry(const std::string& file)
    {
        root = mci::factory::Create<ireg::RegConfigNode>("root", file, &document);
        for (int g = 0; g < c_groups; ++g) {
            auto group = root->Add(mci::factory::Create<ireg::RegNode>("group" + std::to_string(g), mci::Flags(6)));
            for (int n = 0; n < c_nodesPerGroup; ++n) {
                group->Add(mci::factory::Create<ireg::RegValueNode<int64_t>>("value" + std::to_string(n), int64_t(-1),
                                                                             c_persistent));
            }
        }
        root->Add(mci::factory::Create<ireg::RegValueNode<int64_t>>("table", c_items, int64_t(-1), c_persistent));
    }

    void SetGeneration(int64_t generation)
    {
        for (const mci::TreeNodePtr& group : root->GetAllNodes()) {
            for (const mci::TreeNodePtr& node : group->GetAllNodes()) {
                node->Set(generation, 0, mci::c_noRelPath);
            }
        }
        root->GetNode("table")->Set(std::vector<int64_t>(c_items, generation), 0, mci::c_noRelPath);
    }

    // Every generation found in the values.
    std::set<int64_t> Generations() const
    {
        std::set<int64_t> found;
        for (const mci::TreeNodePtr& group : root->GetAllNodes()) {
            for (const mci::TreeNodePtr& node : group->GetAllNodes()) {
                int64_t value = 0;
                node->Get(value, 0, mci::c_noRelPath);
                found.insert(value);
            }
        }
        std::vector<int64_t> table;
        root->GetNode("table")->Get(table, 0, 0, mci::c_noRelPath);
        found.insert(table.begin(), table.end());
        return found;
    }

    bool Write() { return dynamic_cast<ireg::RegNode&>(*root).WriteConfiguration(); }
    bool Load() { return dynamic_cast<ireg::RegNode&>(*root).LoadConfiguration(); }
};

// The saver, run by the test below in a child process of this program; ctest does not run it.
TEST(RegConfigCrash, DISABLED_SavingChild)
{
    const char* file = std::getenv(c_fileVariable);
    const char* first = std::getenv(c_firstVariable);
    ASSERT_TRUE(file != nullptr && first != nullptr);
    Registry registry(file);
    for (int64_t generation = std::atoll(first);; ++generation) {
        registry.SetGeneration(generation);
        registry.Write();
    }
}

// Starts the saver on the file, its first save with the given generation; killed when the
// object goes while it still runs.
inettest::ChildProcess StartSaver(const std::string& file, int64_t first)
{
    setenv(c_fileVariable, file.c_str(), 1);
    setenv(c_firstVariable, std::to_string(first).c_str(), 1);
    return inettest::ChildProcess({"/proc/self/exe", "--gtest_filter=RegConfigCrash.DISABLED_SavingChild",
                                   "--gtest_also_run_disabled_tests"});
}

ino_t Inode(const std::string& file)
{
    struct stat st {};
    return stat(file.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(RegConfigCrash, KilledSaveLeavesTheOldOrTheNewFileWhole)
{
    testsupport::TempDir dir;
    const std::string file = dir / "app.xml";
    std::chrono::steady_clock::duration saveTime{};
    {
        Registry initial(file);
        initial.SetGeneration(0);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(initial.Write());
        saveTime = std::chrono::steady_clock::now() - start;
    }
    std::mt19937 random(20260101);
    int64_t last = 0;
    int killedAfterANewFile = 0;
    constexpr int c_runs = 40;
    for (int run = 0; run < c_runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const ino_t before = Inode(file);
        inettest::ChildProcess saver = StartSaver(file, last + 1);
        // Most kills land at a random point of a save after the child has replaced the file at
        // least once; some land anywhere from its start on.
        if (run % 4 != 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (Inode(file) == before && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        std::uniform_int_distribution<int64_t> delay(0, std::chrono::duration_cast<std::chrono::microseconds>(saveTime).count() * 2);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        saver.Kill(SIGKILL);
        const int status = saver.Wait();
        ASSERT_EQ(status, -SIGKILL) << "the saver ended on its own: " << status;
        killedAfterANewFile += Inode(file) != before ? 1 : 0;

        Registry loaded(file);
        ASSERT_NO_THROW(EXPECT_TRUE(loaded.Load()));
        const std::set<int64_t> generations = loaded.Generations();
        ASSERT_EQ(generations.size(), 1u) << "a file of mixed generations";
        EXPECT_GE(*generations.begin(), last);
        last = *generations.begin();
    }
    EXPECT_GT(killedAfterANewFile, c_runs / 2);
}

} // namespace
