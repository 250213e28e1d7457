#ifndef IAPP_TESTS_COMMON_ZOLT_FIXTURE_H
#define IAPP_TESTS_COMMON_ZOLT_FIXTURE_H

// The event-receiver board on slot 2 of the simulated chassis, with the simulated timing board
// and event-receiver board behind its memory and devices, its registry made on demand, bus waits
// instant. Header only, over sim_boards.h (the programs link kavrelsimboards).
//
//     class MyTest : public iapptest::ZoltBoardFixture {};
//     TEST_F(MyTest, X) {
//         Node("rtc/generator/apply")->Set(std::string("Execute"), 0, mci::c_noRelPath);
//         receiver->RtcLog()->Entries();
//     }

#include <memory>
#include <sstream>
#include <string>

#include "bmc/bus_sleep.h"
#include "iapp/boards/zolt/zolt_board.h"
#include "ireg/reg_node.h"
#include "mci/factory.h"
#include "mci/tree_node.h"
#include "sim/boards/event_receiver_board.h"
#include "sim/boards/timing_board.h"
#include "sim_boards.h"
#include "tests/support/error_of.h"

namespace iapptest {

class ZoltBoardFixture : public SimBoards {
protected:
    static constexpr int c_slot = 2;

    void SetUp() override
    {
        Start();
        timing = std::make_unique<sim::boards::TimingBoard>(chassis->Get(c_slot));
        timing->SetMcRate(0);
        receiver = std::make_unique<sim::boards::EventReceiverBoard>(chassis->Get(c_slot), *timing);
        zolt = new iboard::ZoltBoard(*root, ChassisBoard(c_slot), iboard::PaxBoard::c_evtDesc,
                                     ifeature::PaxTriggerGeneration::c_trigConfigurations, nullptr);
    }

    void TearDown() override
    {
        // As the application: the tree shut down, the registry destroyed, then the components.
        if (root) {
            root->Shutdown();
        }
        registry.reset();
        root.reset();
        receiver.reset();
        timing.reset();
        SimBoards::TearDown();
    }

    // The board's node, its registry made on the first call.
    mci::TreeNodePtr Registry()
    {
        if (!registry) {
            registry = mci::factory::Create<ireg::RegNode>("registry");
            zolt->AddRegistry(registry);
        }
        return registry->GetNode(zolt->GetName());
    }
    // The node at the path below the board's node ("rtc/t0/code"); null when there is none.
    std::shared_ptr<ireg::RegNode> Node(const std::string& path)
    {
        mci::TreeNodePtr node = Registry();
        std::istringstream names(path);
        for (std::string name; node && std::getline(names, name, '/');) {
            node = node->GetNode(name);
        }
        return std::dynamic_pointer_cast<ireg::RegNode>(node);
    }
    template <class T>
    T Get(const std::string& path, size_t pos = 0)
    {
        T value{};
        Node(path)->Get(value, pos, mci::c_noRelPath);
        return value;
    }
    // A client's write: "no error" or the refusal's text.
    template <class T>
    std::string Set(const std::string& path, const T& value, size_t pos = 0)
    {
        return testsupport::ErrorOf([&] { Node(path)->Set(value, pos, mci::c_noRelPath); });
    }
    std::string Execute(const std::string& path) { return Set(path, std::string("Execute")); }

    // A 64-bit word of the board's memory at the byte offset.
    uint64_t Word(size_t offset) const { return chassis->Get(c_slot).ReadMemory64(offset); }

    bmc::ScopedBusSleep instant{&bmc::InstantBusSleep};
    std::unique_ptr<sim::boards::TimingBoard> timing;
    std::unique_ptr<sim::boards::EventReceiverBoard> receiver;
    iboard::ZoltBoard* zolt = nullptr;
    mci::TreeNodePtr registry;
};

} // namespace iapptest

#endif
