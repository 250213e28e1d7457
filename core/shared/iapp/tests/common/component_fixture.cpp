#include "component_fixture.h"

namespace iapptest {

TestRoot::TestRoot(const std::string& name) : iapp::KavrelObject(*this, name)
{
    iapp::ApplicationStateProvider::SetCurrent(this);
}

TestRoot::~TestRoot()
{
    iapp::ApplicationStateProvider::ResetCurrent(this);
}

bool TestRoot::OnQueryChild(const iapp::KavrelObject&)
{
    return true;
}

std::shared_ptr<TestRoot> MakeRoot(const std::string& name)
{
    auto* root = new TestRoot(name);
    return std::static_pointer_cast<TestRoot>(root->MakeRootHandle(std::default_delete<iapp::KavrelObject>()));
}

} // namespace iapptest
