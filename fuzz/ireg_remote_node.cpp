// The remote-node servant's operations other than GetValue and SetValue, as a remote client calls
// them, against the registry registry-server serves (the examples' node set and a signal node).
// Input: a run of calls, each an octet that picks the operation (IDL order, GetValue and SetValue
// left out) followed by its arguments as the ORB unmarshals them: the path (a sequence of
// strings) and, for GetNameByIndex, the index (unsigned long). Each input is one client: a
// servant with a callback object, stopped at its end.
//
// A path fails with NotFound exactly when no node has it, and nothing else fails; the children
// listed agree with their count and with GetNameByIndex, which refuses the index one beyond;
// GetRemoteSignal answers a reference exactly for a node with the signal flag; after
// StopNotifications, Subscribe and Unsubscribe answer false.

#include <omniORB4/CORBA.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/example_nodes.h"
#include "fuzz_support.h"
#include "common/generated_signal.h"
#include "corba_input.h"
#include "ireg/i_remote_node_impl.h"
#include "ireg/signal_node.h"
#include "mci/mci.h"

namespace {

using fuzzsupport::Check;

// The callback object of every client; nothing changes, so nothing is sent to it.
class Callback : public POA_i_NET::Notification {
public:
    void Emit(const i_NET::NotificationData&) override {}
};

class Registry {
public:
    Registry() : m_signal("ramp", "fuzz")
    {
        using mci::factory::Create;
        const mci::Flags folderFlags = mci::enums::eReadable | mci::enums::eWritable;
        m_root = Create<ireg::RegNode>("root", folderFlags);
        auto folder = [&](const std::string& name) {
            auto node = Create<ireg::RegNode>(name, folderFlags);
            m_root->Add(node);
            return node;
        };
        m_settings.AddTo(folder("settings"));
        examples::AddTableNodes(folder("tables"));
        m_registers.AddTo(folder("registers"));
        m_control.AddUptime(folder("info"));
        m_control.AddCommand(m_root);
        m_root->Add(Create<ireg::SignalNode>("signal", &m_signal));
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node(m_root, mci::c_noRelPath));
    }
    // The tree before the parts its nodes reach.
    ~Registry()
    {
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
        mci::DestroyNode(m_root);
    }

private:
    examples::ControlNodes m_control;
    examples::GeneratedSignal m_signal;
    examples::SettingNodes m_settings;
    examples::RegisterNodes m_registers;
    mci::TreeNodePtr m_root;
};

i_NET::Notification_ptr CallbackReference()
{
    auto* callback = new Callback;
    inet::OM().Activate(callback);
    return callback->_this();
}

bool Exists(const ireg::i_RemoteNode_impl& node, const i_NET::NodePath& path)
{
    try {
        node.FindNode(path);
        return true;
    } catch (const i_NET::NotFound&) {
        return false;
    }
}

// Runs the call; true when it failed with NotFound, the only failure it may have.
template <class F>
bool NotFound(F call)
{
    try {
        call();
    } catch (const i_NET::NotFound&) {
        return true;
    }
    return false;
}

void Children(ireg::i_RemoteNode_impl& node, const i_NET::NodePath& path)
{
    i_NET::NodeNames_var names = node.GetNodes(path);
    Check(names->length() == node.GetNodeCount(path));
    Check(node.IsLeaf(path) == (names->length() == 0));
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
        CORBA::String_var name = node.GetNameByIndex(path, i);
        Check(std::strcmp(name.in(), names[i].in()) == 0);
    }
    try {
        CORBA::String_var beyond = node.GetNameByIndex(path, names->length());
        Check(false);
    } catch (const i_NET::NotFound& e) {
        Check(std::strcmp(e.message.in(), "ireg: Index out of range.") == 0);
    }
}

struct Arguments {
    CORBA::Octet operation = 0;
    i_NET::NodePath path;
    CORBA::ULong index = 0;
};

// The next call's arguments; false when the ORB would refuse them (the input ends there).
bool Read(cdrStream& in, Arguments& call)
{
    try {
        call.operation = in.unmarshalOctet() % 14;
        if (call.operation != 12) {
            call.path <<= in;
        }
        if (call.operation == 1) {
            call.index <<= in;
        }
    } catch (const CORBA::SystemException&) {
        return false;
    }
    return true;
}

void Call(ireg::i_RemoteNode_impl& node, const Arguments& call, bool& stopped)
{
    const CORBA::Octet operation = call.operation;
    const i_NET::NodePath& path = call.path;
    const CORBA::ULong index = call.index;
    if (operation == 12) {
        node.StopNotifications();
        stopped = true;
        return;
    }
    const bool exists = Exists(node, path);
    bool notFound = false;
    switch (operation) {
    case 0: notFound = NotFound([&] { CORBA::String_var name = node.GetName(path); }); break;
    case 1:
        try {
            CORBA::String_var name = node.GetNameByIndex(path, index);
            Check(index < node.GetNodeCount(path));
        } catch (const i_NET::NotFound& e) {
            notFound = std::strcmp(e.message.in(), "ireg: Index out of range.") != 0;
        }
        break;
    case 2: notFound = NotFound([&] { Children(node, path); }); break;
    case 3: notFound = NotFound([&] { node.GetNodeCount(path); }); break;
    case 4: notFound = NotFound([&] { node.IsLeaf(path); }); break;
    case 5: notFound = NotFound([&] { node.GetSize(path); }); break;
    case 6: notFound = NotFound([&] { node.GetValueType(path); }); break;
    case 7:
        notFound = NotFound([&] {
            i_NET::StringVec_var values;
            node.GetDomainValues(path, values.out());
            Check(values.operator->() != nullptr);
        });
        break;
    case 8:
        notFound = NotFound([&] {
            CORBA::String_var text;
            node.GetValidatorExpression(path, text.out());
            Check(text.in() != nullptr);
        });
        break;
    case 9: notFound = NotFound([&] { node.GetFlags(path); }); break;
    case 10:
    case 11:
        if (stopped) {
            Check(!(operation == 10 ? node.Subscribe(path) : node.Unsubscribe(path)));
            return;
        }
        notFound = NotFound([&] { operation == 10 ? node.Subscribe(path) : node.Unsubscribe(path); });
        break;
    default:
        notFound = NotFound([&] {
            i_NET::RemoteSignal_var signal = node.GetRemoteSignal(path);
            Check(CORBA::is_nil(signal) == ((node.GetFlags(path) & 0x400) == 0));
        });
        break;
    }
    Check(notFound == !exists);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::Orb();
    static Registry registry;
    static const i_NET::Notification_var callback = CallbackReference();

    auto* node = new ireg::i_RemoteNode_impl(callback.in());
    fuzzsupport::CdrInput input(data, size);
    bool stopped = false;
    Arguments call;
    while (!input.AtEnd() && Read(input.Stream(), call)) {
        Call(*node, call, stopped);
    }
    node->StopNotifications();
    node->_remove_ref();
    return 0;
}
