#include "application_fixture.h"

#include <chrono>
#include <cstdint>

#include "iapp/i_kavrel_application_impl.h"
#include "inet/orb_manager.h"
#include "ireg/reg_value_node.h"
#include "mci/mci.h"

namespace iapptest {

void LocalNotification::Emit(const i_NET::NotificationData& data)
{
    const i_NET::Int32Buffer* values = nullptr;
    CORBA::Long value = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (data.value >>= value) {
        m_values.push_back(value);
    } else if ((data.value >>= values) && values->length() > 0) {
        m_values.push_back((*values)[0]);
    }
    m_arrived.notify_all();
}

std::vector<int> LocalNotification::WaitFor(size_t count)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_arrived.wait_for(lock, std::chrono::seconds(10), [&] { return m_values.size() >= count; });
    return m_values;
}

void ApplicationTest::SetUp()
{
    inettest::OrbTest::SetUp();
    m_root = std::static_pointer_cast<ireg::RegNode>(
        mci::factory::Create<ireg::RegValueNode<int32_t>>("root", 0));
    m_value = std::static_pointer_cast<ireg::RegNode>(
        mci::factory::Create<ireg::RegValueNode<int32_t>>("value", 1));
    m_root->Add(m_value);
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node(m_root, mci::c_noRelPath));
    inet::OM().ActivatePersistent(new iapp::i_KavrelApplication_impl, inet::c_defaultNetId);
}

void ApplicationTest::TearDown()
{
    // The registry goes before the ORB, whose destruction ends the remote nodes left.
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
    mci::TreeNodePtr root = m_root;
    m_root.reset();
    m_value.reset();
    mci::DestroyNode(root);
    inettest::OrbTest::TearDown();
}

i_NET::Application_ptr ApplicationTest::Application() const
{
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(Corbaloc(inet::c_defaultNetId).c_str());
    return i_NET::Application::_narrow(object);
}

namespace {
const char c_limitedId[] = "Limited";
} // namespace

iapp::i_KavrelApplication_impl* ApplicationTest::StartLimited(const iapp::RemoteNodeLimits& limits)
{
    auto* servant = new iapp::i_KavrelApplication_impl(limits);
    try {
        inet::OM().ActivatePersistent(servant, c_limitedId);
    } catch (...) {
        servant->_remove_ref(); // not handed over
        throw;
    }
    return servant;
}

i_NET::Application_ptr ApplicationTest::Limited() const
{
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(Corbaloc(c_limitedId).c_str());
    return i_NET::Application::_narrow(object);
}

i_NET::Notification_ptr ApplicationTest::Unserved(unsigned port, const std::string& key) const
{
    CORBA::ORB_var orb = inet::OM().GetORB();
    const std::string uri = "corbaloc::127.0.0.1:" + std::to_string(port) + "/" + key;
    CORBA::Object_var object = orb->string_to_object(uri.c_str());
    return i_NET::Notification::_unchecked_narrow(object);
}

i_NET::Notification_ptr ApplicationTest::Local(LocalNotification** servant)
{
    auto* local = new LocalNotification;
    inet::OM().Activate(local);
    if (servant != nullptr) {
        *servant = local;
    }
    return local->_this();
}

} // namespace iapptest
