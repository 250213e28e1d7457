#include "remote_fixture.h"

#include <algorithm>
#include <cstdint>

#include "inet/orb_manager.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_value_node.h"
#include "ireg/signal_node.h"
#include "ireg_kinds_util.h"
#include "ireg_test_util.h"
#include "mci/mci.h"
#include "tests/support/wait_until.h"

namespace iregtest {

namespace {

const std::string c_client = KAVREL_BINARY_DIR "/tests/ireg_test_client";

template <class N, class... A>
void AddNode(const std::shared_ptr<ireg::RegNode>& parent, A&&... args)
{
    parent->Add(mci::factory::Create<N>(std::forward<A>(args)...));
}

template <class T>
void AddArray(const std::shared_ptr<ireg::RegNode>& parent, const std::string& name, const std::vector<T>& values)
{
    AddNode<ireg::RegValueNode<T>>(parent, name, values, mci::Flags(6));
}

} // namespace

RegistryApplication::~RegistryApplication()
{
    for (ireg::i_RemoteNode_impl* servant : m_active) {
        servant->StopNotifications();
        inet::OM().Deactivate(servant);
    }
    for (ireg::i_RemoteNode_impl* servant : m_made) {
        servant->_remove_ref();
    }
}

i_NET::RemoteNode_ptr RegistryApplication::GetRemoteNode(i_NET::Notification_ptr callback)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (ireg::i_RemoteNode_impl* servant : m_active) {
        if (servant->Equals(callback)) {
            return servant->_this();
        }
    }
    auto* servant = new ireg::i_RemoteNode_impl(callback);
    servant->_add_ref(); // ours, for Made()
    inet::OM().Activate(servant);
    m_active.push_back(servant);
    m_made.push_back(servant);
    return servant->_this();
}

void RegistryApplication::ReleaseRemoteNode(i_NET::Notification_ptr callback)
{
    ireg::i_RemoteNode_impl* found = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_active.begin(), m_active.end(),
                               [&](ireg::i_RemoteNode_impl* servant) { return servant->Equals(callback); });
        if (it == m_active.end()) {
            return;
        }
        found = *it;
        m_active.erase(it);
    }
    found->StopNotifications();
    inet::OM().Deactivate(found);
}

std::vector<ireg::i_RemoteNode_impl*> RegistryApplication::Made() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_made;
}

void RemoteRegistryTest::SetUp()
{
    inettest::OrbTest::SetUp();
    // The generated stubs make each interface's nil reference on first use, checking a plain
    // pointer before their lock: harmless, but the thread checker reports two first requests at
    // once. Made here, before any request.
    i_NET::Application::_nil();
    i_NET::RemoteNode::_nil();
    i_NET::RemoteSignal::_nil();
    i_NET::Notification::_nil();
    i_NET::SignalReceiver::_nil();
    m_root = MakeKind<ireg::RegValueNode<int32_t>>("root", 0);
    AddNode<ireg::RegValueNode<bool>>(m_root, "bool", true);
    AddNode<ireg::RegValueNode<int32_t>>(m_root, "int32", -5);
    AddNode<ireg::RegValueNode<uint32_t>>(m_root, "uint32", 4000000000u);
    AddNode<ireg::RegValueNode<int64_t>>(m_root, "int64", int64_t(-9000000000));
    AddNode<ireg::RegValueNode<uint64_t>>(m_root, "uint64", UINT64_MAX);
    AddNode<ireg::RegValueNode<double>>(m_root, "double", 0.25);
    AddNode<ireg::RegValueNode<float>>(m_root, "float", 1.5f);
    AddNode<ireg::RegValueNode<std::string>>(m_root, "string", std::string("text"));
    AddArray<bool>(m_root, "bools", {true, false, true});
    AddArray<int32_t>(m_root, "int32s", {1, 2, 3, 4, 5});
    AddArray<uint32_t>(m_root, "uint32s", {7, 4000000000u});
    AddArray<int64_t>(m_root, "int64s", {-1, 9000000000});
    AddArray<uint64_t>(m_root, "uint64s", {1, UINT64_MAX});
    AddArray<double>(m_root, "doubles", {0.5, -2.25});
    AddArray<float>(m_root, "floats", {0.5f, 3.75f});
    AddArray<std::string>(m_root, "strings", {"a", "b", "c"});
    AddArray<int32_t>(m_root, "empty", {});
    AddNode<ireg::RegValueEnumNode<isig::AtomType_e>>(m_root, "enum", isig::eAtomInt64, mci::Flags(6));
    AddNode<ireg::RegValueEnumNode<isig::AtomType_e>>(
        m_root, "enums", std::vector<isig::AtomType_e>{isig::eAtomDouble, isig::eAtomInt32, isig::eAtomUInt8},
        mci::Flags(6));
    AddNode<ireg::RegExecNode>(m_root, "cmd", [] { return true; }, mci::Flags(2));
    auto folder = MakeKind<ireg::RegNode>("folder", mci::Flags(6));
    AddNode<ireg::RegValueNode<int32_t>>(folder, "leaf", 1);
    m_root->Add(folder);
    AddNode<ireg::RegValueNode<int32_t>>(m_root, "ro", 3, mci::Flags(2));
    AddNode<ireg::RegValueNode<int32_t>>(m_root, "const", 4, mci::Flags(0x26));
    m_root->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>(std::make_shared<RejectOne<int32_t>>(13),
                                                                   "validated", 0));
    m_root->Add(mci::factory::Create<mci::TreeNode>("plain", mci::Flags(6)));
    AddNode<ireg::SignalNode>(m_root, "signal", &m_source);
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node(m_root, mci::c_noRelPath));

    m_app = new RegistryApplication;
    inet::OM().ActivatePersistent(m_app, inet::c_defaultNetId);
}

void RemoteRegistryTest::TearDown()
{
    // The tree first, while the ORB and the signal source still live.
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
    m_root.reset();
    inettest::OrbTest::TearDown();
}

std::unique_ptr<inettest::ChildProcess> RemoteRegistryTest::StartClient(const std::vector<std::string>& commands)
{
    std::vector<std::string> args{c_client, Corbaloc(inet::c_defaultNetId)};
    args.insert(args.end(), commands.begin(), commands.end());
    return std::make_unique<inettest::ChildProcess>(args);
}

std::string RemoteRegistryTest::RunClient(const std::vector<std::string>& commands)
{
    auto client = StartClient(commands);
    const int rc = client->Wait();
    EXPECT_EQ(rc, 0) << client->Output();
    return client->Output();
}

bool RemoteRegistryTest::WaitForOutput(inettest::ChildProcess& client, const std::string& text)
{
    return testsupport::WaitUntil([&] { return client.Output().find(text) != std::string::npos; });
}

std::string Line(const std::string& command, const std::string& result)
{
    return command + " => " + result + "\n";
}

} // namespace iregtest
