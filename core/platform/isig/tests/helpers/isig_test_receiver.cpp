// A signal client in its own process for the remote-signal tests.
//
//   isig_test_receiver <uri> <client name> <values>   connects, prints the description and the
//                                                     first <values> int64 values received,
//                                                     disconnects and prints the Closed code
//   isig_test_receiver <uri> <client name> hold       connects and waits to be killed
//
// Lines on standard output: "describe ...", "connect <code>", "values v1 v2 ...",
// "meta <id>=<value> ...", "closed <code>". A failure prints "error: ..." and exits with 2.

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"

namespace {

class Receiver : public POA_i_NET::SignalReceiver {
public:
    void Receive(const CORBA::Any& values, const i_NET::SignalMeta& meta) override
    {
        CORBA::TypeCode_var type = values.type();
        const i_NET::Int64Buffer* buffer = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!type->equal(i_NET::_tc_Int64Buffer) || !(values >>= buffer)) {
            m_wrongType = true;
        } else {
            for (CORBA::ULong i = 0; i < buffer->length(); ++i) {
                m_values.push_back((*buffer)[i]);
            }
            if (m_meta.empty()) {
                for (CORBA::ULong i = 0; i < meta.length(); ++i) {
                    m_meta += " " + std::to_string(meta[i].id) + "=" + std::to_string(meta[i].value);
                }
            }
        }
        m_changed.notify_all();
    }
    void Closed(CORBA::Long code) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = std::to_string(code);
        m_changed.notify_all();
    }

    template <class F>
    bool WaitUntil(F condition, int seconds)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(seconds), condition);
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<CORBA::LongLong> m_values;
    std::string m_meta;
    std::string m_closed;
    bool m_wrongType = false;
};

int Run(const std::string& uri, const std::string& name, const std::string& what)
{
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(uri.c_str());
    i_NET::RemoteSignal_var signal = i_NET::RemoteSignal::_narrow(object);
    CORBA::String_var signalName = signal->GetName();
    CORBA::String_var owner = signal->GetOwner();
    i_NET::StringVec_var components = signal->GetComponentNames();
    std::cout << "describe name=" << signalName.in() << " owner=" << owner.in() << " atom=" << signal->GetAtomSize()
              << " group=" << signal->GetGroupSize() << " length=" << signal->GetLength()
              << " type=" << signal->GetAtomType() << " access=" << signal->GetAccessType() << " components=";
    for (CORBA::ULong i = 0; i < components->length(); ++i) {
        std::cout << (i ? "," : "") << components[i].in();
    }
    std::cout << std::endl;

    auto* servant = new Receiver;
    inet::OM().Activate(servant);
    i_NET::SignalReceiver_var receiver = servant->_this();
    const CORBA::Long rc = signal->Connect(receiver, name.c_str(), 8);
    std::cout << "connect " << rc << std::endl;
    if (rc != 0) {
        return 3;
    }
    if (what == "hold") {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    const size_t wanted = std::strtoul(what.c_str(), nullptr, 10);
    if (!servant->WaitUntil([&] { return servant->m_values.size() >= wanted || servant->m_wrongType; }, 30)) {
        std::cout << "error: timed out waiting for values" << std::endl;
        return 2;
    }
    {
        std::lock_guard<std::mutex> lock(servant->m_mutex);
        if (servant->m_wrongType) {
            std::cout << "error: values of a wrong type" << std::endl;
            return 2;
        }
        std::cout << "values";
        for (CORBA::LongLong v : servant->m_values) {
            std::cout << " " << v;
        }
        std::cout << std::endl << "meta" << servant->m_meta << std::endl;
    }
    signal->Disconnect(receiver);
    servant->WaitUntil([&] { return !servant->m_closed.empty(); }, 30);
    std::lock_guard<std::mutex> lock(servant->m_mutex);
    std::cout << "closed " << servant->m_closed << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::cerr << "usage: isig_test_receiver <uri> <client name> <values>|hold" << std::endl;
        return 1;
    }
    int rc = 2;
    try {
        inet::OrbManager::Init(argc, argv, 0, 1u << 24);
        rc = Run(argv[1], argv[2], argv[3]);
    } catch (const CORBA::Exception& e) {
        std::cout << "error: " << inet::ExceptionText(e) << std::endl;
    } catch (const std::exception& e) {
        std::cout << "error: " << e.what() << std::endl;
    }
    inet::OM().ORBDestroy();
    return rc;
}
