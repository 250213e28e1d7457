#ifndef IAPP_TESTS_COMMON_COMPONENT_FIXTURE_H
#define IAPP_TESTS_COMMON_COMPONENT_FIXTURE_H

// A root for tests of components that runs without an application object: it accepts every
// child and stands in for the application's state.
//
//     std::shared_ptr<iapptest::TestRoot> root = iapptest::MakeRoot();
//     auto* feature = iapp::Create<MyFeature>(*root, "feature");
//     root->SetState(4);   // feature->GetApplicationState() == 4

#include <atomic>
#include <memory>
#include <string>

#include "iapp/kavrel_object.h"

namespace iapptest {

class TestRoot : public iapp::KavrelObject, public iapp::ApplicationStateProvider {
public:
    // Registers itself as the current application-state provider until it is destroyed.
    explicit TestRoot(const std::string& name = "root");
    ~TestRoot() override;

    bool OnQueryChild(const iapp::KavrelObject& child) override;
    int GetState() const override { return m_state.load(); }
    void SetState(int state) { m_state.store(state); }

    using iapp::KavrelObject::_RepointChildren;

private:
    std::atomic<int> m_state{0};
};

// A new root and its owning reference: the root is deleted with the last copy.
std::shared_ptr<TestRoot> MakeRoot(const std::string& name = "root");

} // namespace iapptest

#endif
