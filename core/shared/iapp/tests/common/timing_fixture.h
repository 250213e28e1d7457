#ifndef IAPP_TESTS_COMMON_TIMING_FIXTURE_H
#define IAPP_TESTS_COMMON_TIMING_FIXTURE_H

// Timing blocks and register tables on slot 3's simulated board: its component, a registry root
// for the components' nodes, and access to the board's memory. Header only, over sim_boards.h
// (the programs link kavrelsimboards).
//
//     class MyTest : public iapptest::TimingBlocks {};
//     TEST_F(MyTest, X) {
//         auto log = Memory().Log(0x400000, 0xB0);        // before the block touches it
//         auto* block = board->RegisterObject<Block>(0x400000, "block");
//         mci::TreeNodePtr node = AddRegistry(*block);    // registry/block
//         Node<ireg::RegNode>(node, "a/b")->Set(1u, 0, mci::c_noRelPath);
//     }

#include <memory>
#include <sstream>
#include <string>

#include "sim_boards.h"
#include "ireg/reg_node.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iapptest {

class TimingBlocks : public SimBoards {
protected:
    void SetUp() override
    {
        Start();
        board = MakeBoard(3);
        registry = mci::factory::Create<ireg::RegNode>("registry");
    }

    sim::boards::Board& Memory() { return chassis->Get(3); }

    // Makes the component's nodes under the registry root; its node.
    mci::TreeNodePtr AddRegistry(iapp::KavrelObject& component)
    {
        component.AddRegistry(registry);
        return registry->GetNode(component.GetName());
    }

    // The node at the path ("a/b") below from, as N; null when there is none.
    template <class N = ireg::RegNode>
    static std::shared_ptr<N> Node(mci::TreeNodePtr from, const std::string& path)
    {
        std::istringstream names(path);
        std::string name;
        while (from && std::getline(names, name, '/')) {
            from = from->GetNode(name);
        }
        return std::dynamic_pointer_cast<N>(from);
    }

    iapp::KavrelBoard* board = nullptr;
    mci::TreeNodePtr registry;
};

} // namespace iapptest

#endif
