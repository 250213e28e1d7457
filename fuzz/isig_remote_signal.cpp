// Connect and Disconnect of a remote signal as remote clients call them, over the signal that
// registry-server serves (examples::GeneratedSignal, at a pace of 1 ms so that atoms flow while
// clients come and go). Input: a run of calls, each an octet that picks the operation (Connect,
// Disconnect, GetStatistics) and an octet that picks the receiver (one of four in this process,
// or nil), followed by Connect's arguments as the ORB unmarshals them: the client name (string)
// and the queue length (unsigned long). Each input is one servant, shut down at its end.
//
// Connect answers success while fewer than the servant's limit of connections run, failure
// beyond it, BAD_PARAM for nil; Disconnect ends every connection of its receiver and no other;
// the statistics begin with the generator's item; at the end no connection runs.

#include <omniORB4/CORBA.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "common/generated_signal.h"
#include "fuzz_support.h"
#include "corba_input.h"
#include "isig/i_remote_signal_impl.h"

namespace {

using fuzzsupport::Check;

// Takes what it is sent and forgets it.
class Receiver : public POA_i_NET::SignalReceiver {
public:
    void Receive(const CORBA::Any&, const i_NET::SignalMeta&) override {}
    void Closed(CORBA::Long) override {}
};

constexpr size_t c_receivers = 4;

std::vector<i_NET::SignalReceiver_var> MakeReceivers()
{
    std::vector<i_NET::SignalReceiver_var> receivers;
    for (size_t i = 0; i < c_receivers; ++i) {
        auto* receiver = new Receiver;
        inet::OM().Activate(receiver);
        receivers.emplace_back(receiver->_this());
    }
    return receivers;
}

struct Arguments {
    CORBA::Octet operation = 0;
    size_t receiver = 0; // c_receivers: nil
    CORBA::String_var name;
    CORBA::ULong length = 0;
};

// The next call's arguments; false when the ORB would refuse them (the input ends there).
bool Read(cdrStream& in, Arguments& call)
{
    try {
        call.operation = in.unmarshalOctet() % 3;
        call.receiver = in.unmarshalOctet() % (c_receivers + 1);
        if (call.operation == 0) {
            call.name = in.unmarshalString();
            call.length <<= in;
        }
    } catch (const CORBA::SystemException&) {
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::Orb();
    static examples::GeneratedSignal signal("ramp", "fuzz", std::chrono::milliseconds(1));
    static const std::vector<i_NET::SignalReceiver_var> receivers = MakeReceivers();

    auto* servant = new isig::i_RemoteSignal_impl(&signal);
    fuzzsupport::CdrInput input(data, size);
    std::map<size_t, size_t> running; // connections by receiver
    size_t total = 0;
    Arguments call;
    while (!input.AtEnd() && Read(input.Stream(), call)) {
        const i_NET::SignalReceiver_ptr receiver =
            call.receiver < c_receivers ? receivers[call.receiver].in() : i_NET::SignalReceiver::_nil();
        if (call.operation == 0) {
            try {
                const CORBA::Long result = servant->Connect(receiver, call.name.in(), call.length);
                const bool room = total < isig::i_RemoteSignal_impl::c_maxConnections;
                Check(result == (room ? isig::eSuccess : isig::eFailure));
                running[call.receiver] += room ? 1 : 0;
                total += room ? 1 : 0;
            } catch (const CORBA::BAD_PARAM&) {
                Check(call.receiver == c_receivers);
            }
        } else if (call.operation == 1) {
            servant->Disconnect(receiver);
            total -= running[call.receiver];
            running[call.receiver] = 0;
        } else {
            i_NET::SignalStats_var stats = servant->GetStatistics();
            Check(stats->length() >= 1 && std::strcmp(stats[0].name.in(), "generator") == 0);
        }
        Check(servant->ConnectionCount() == total);
    }
    servant->ShutDown();
    Check(servant->ConnectionCount() == 0);
    servant->_remove_ref();
    return 0;
}
