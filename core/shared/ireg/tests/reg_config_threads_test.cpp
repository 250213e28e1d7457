// Saving and loading while other threads set the same persistent nodes (as remote clients do
// during start-up and shutdown): no deadlock, no race, and every file written loads whole.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ireg/reg_config_node.h"
#include "ireg/reg_value_node.h"
#include "mci/factory.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr mci::Flags c_persistent = 0xE;

struct Registry {
    icfg::Configuration document{"1.0", testsupport::TypesXsd()};
    mci::TreeNodePtr root;
    std::vector<mci::TreeNodePtr> nodes; // an int64 value and an array of eight texts in turn

    explicit Registry(const std::string& file)
    {
        root = mci::factory::Create<ireg::RegConfigNode>("root", file, &document);
        for (int g = 0; g < 4; ++g) {
            auto group = root->Add(mci::factory::Create<ireg::RegNode>("g" + std::to_string(g), mci::Flags(6)));
            nodes.push_back(
                group->Add(mci::factory::Create<ireg::RegValueNode<int64_t>>("v", int64_t(0), c_persistent)));
            nodes.push_back(group->Add(
                mci::factory::Create<ireg::RegValueNode<std::string>>("s", std::vector<std::string>(8), c_persistent)));
        }
    }
    ireg::RegNode& Config() { return dynamic_cast<ireg::RegNode&>(*root); }
};

TEST(RegConfigThreads, SetsDuringSavesAndLoads)
{
    testsupport::TempDir dir;
    icfg::Configuration::Initialize();
    Registry registry(dir / "app.xml");
    Registry reader(dir / "app.xml");
    ASSERT_TRUE(registry.Config().WriteConfiguration());

    std::atomic<bool> stop{false};
    std::vector<std::thread> setters;
    for (size_t t = 0; t < registry.nodes.size(); ++t) {
        setters.emplace_back([&, t] {
            const mci::TreeNodePtr& node = registry.nodes[t];
            for (int64_t i = 0; !stop.load(); ++i) {
                if (t % 2 == 0) {
                    node->Set(i, 0, mci::c_noRelPath);
                } else {
                    node->Set(std::vector<std::string>(8, std::to_string(i)), 0, mci::c_noRelPath);
                }
            }
        });
    }
    for (int round = 0; round < 20; ++round) {
        EXPECT_TRUE(registry.Config().WriteConfiguration());
        EXPECT_NO_THROW(EXPECT_TRUE(registry.Config().LoadConfiguration()));
        // Each array went into the file whole: the eight texts of one set.
        ASSERT_NO_THROW(ASSERT_TRUE(reader.Config().LoadConfiguration()));
        for (size_t t = 1; t < reader.nodes.size(); t += 2) {
            std::vector<std::string> texts;
            reader.nodes[t]->Get(texts, 0, 0, mci::c_noRelPath);
            EXPECT_EQ(texts, std::vector<std::string>(8, texts.front()));
        }
    }
    stop.store(true);
    for (std::thread& setter : setters) {
        setter.join();
    }
    mci::DestroyNode(registry.root);
    icfg::Configuration::Cleanup();
}

} // namespace
