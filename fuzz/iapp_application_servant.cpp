// GetRemoteNode and ReleaseRemoteNode of the application servant with callback references as a
// remote client, careless or hostile, sends them: made up, nil, repeated, released twice.
// Input: a run of calls, each an octet that picks the operation (even: GetRemoteNode, odd:
// ReleaseRemoteNode) and an octet that picks the reference: below 0x80 one read before (again,
// when there is one), 0x80 nil, else a new one made up of parts that follow as the ORB
// unmarshals them: its type id and host (strings), port (unsigned short) and object key (octet
// sequence). The ORB builds the reference from those parts (one IIOP profile without components)
// rather than from raw IOR bytes: its own unmarshalling of malformed IORs (omniORB 4.2) leaks,
// and allocates by counts it has not checked, before any code of ours runs. Each input is one
// application servant, destroyed at its end with every remote node it still holds.
//
// A nil reference is refused with BAD_PARAM and nothing else fails; references to one object get
// one remote node until they release it; different objects get different nodes; after a release
// the object's next request gets a new node. The fuzzer's leak check finds a node nobody ends.

#include <omniORB4/CORBA.h>
#include <omniORB4/IIOP.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "corba_input.h"
#include "fuzz_support.h"
#include "iapp/i_kavrel_application_impl.h"
#include "ireg/i_remote_node_impl.h"
#include "ireg/reg_node.h"
#include "mci/mci.h"

namespace {

using fuzzsupport::Check;

i_NET::Notification_ptr MadeUp(cdrStream& in)
{
    IOP::IOR ior;
    ior.type_id = in.unmarshalRawString();
    IIOP::ProfileBody body;
    body.version.major = 1;
    body.version.minor = 2;
    body.address.host = in.unmarshalRawString();
    body.address.port <<= in;
    body.object_key <<= in;
    ior.profiles.length(1);
    IIOP::encodeProfile(body, ior.profiles[0]);
    cdrMemoryStream stream;
    ior >>= stream;
    stream.rewindInputPtr();
    return i_NET::Notification::_unmarshalObjRef(stream);
}

struct Call {
    bool get = false;
    i_NET::Notification_var callback;
};

// The next call; false when the ORB would refuse it (the input ends there).
bool Read(cdrStream& in, const std::vector<Call>& before, Call& call)
{
    try {
        call.get = in.unmarshalOctet() % 2 == 0;
        const CORBA::Octet which = in.unmarshalOctet();
        if (which < 0x80 && !before.empty()) {
            call.callback = i_NET::Notification::_duplicate(before[which % before.size()].callback.in());
        } else if (which == 0x80) {
            call.callback = i_NET::Notification::_nil();
        } else {
            call.callback = MadeUp(in);
        }
    } catch (const CORBA::SystemException&) {
        return false;
    }
    return true;
}

// The remote nodes handed out and not released: the client's reference and its node.
struct Held {
    i_NET::Notification_var callback;
    i_NET::RemoteNode_var node;
};

void Get(iapp::i_KavrelApplication_impl& application, std::vector<Held>& held, i_NET::Notification_ptr callback)
{
    i_NET::RemoteNode_var node;
    try {
        node = application.GetRemoteNode(callback);
    } catch (const CORBA::BAD_PARAM&) {
        Check(CORBA::is_nil(callback));
        return;
    }
    Check(!CORBA::is_nil(callback) && !CORBA::is_nil(node));
    for (const Held& one : held) {
        Check(one.callback->_is_equivalent(callback) == one.node->_is_equivalent(node));
    }
    held.push_back({i_NET::Notification::_duplicate(callback), node._retn()});
}

void Release(iapp::i_KavrelApplication_impl& application, std::vector<Held>& held, i_NET::Notification_ptr callback)
{
    application.ReleaseRemoteNode(callback);
    std::vector<Held> kept;
    for (Held& one : held) {
        if (CORBA::is_nil(callback) || !one.callback->_is_equivalent(callback)) {
            kept.push_back(std::move(one));
        }
    }
    held = std::move(kept);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::Orb();
    static const bool rooted = [] {
        static const mci::TreeNodePtr root = mci::factory::Create<ireg::RegNode>("root");
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node(root, mci::c_noRelPath));
        return true;
    }();
    (void)rooted;

    auto* application = new iapp::i_KavrelApplication_impl;
    {
        fuzzsupport::CdrInput input(data, size);
        std::vector<Call> calls;
        std::vector<Held> held;
        Call call;
        while (!input.AtEnd() && Read(input.Stream(), calls, call)) {
            if (call.get) {
                Get(*application, held, call.callback.in());
            } else {
                Release(*application, held, call.callback.in());
            }
            calls.push_back(std::move(call));
            call = Call();
        }
    }
    application->_remove_ref();
    return 0;
}
