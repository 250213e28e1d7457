// A CORBA client in its own process for the network-layer tests.
//
//   inet_test_client version <uri>         prints the Application's GetInterfaceVersion()
//   inet_test_client send <uri> <count>    sends <count> doubles to a SignalReceiver, prints "ok"
//
// <uri> is a corbaloc URI or a stringified reference. A CORBA failure prints "error: " and the
// exception as the ORB prints it, and exits with 2; a usage error exits with 1.

#include <cstdlib>
#include <iostream>
#include <string>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"

// After the ORB headers, which it needs.
#include <omniORB4/streamOperators.h>

namespace {

int Version(CORBA::Object_ptr object)
{
    i_NET::Application_var app = i_NET::Application::_narrow(object);
    if (CORBA::is_nil(app)) {
        std::cout << "error: not an Application" << std::endl;
        return 2;
    }
    CORBA::String_var version = app->GetInterfaceVersion();
    std::cout << version.in() << std::endl;
    return 0;
}

int Send(CORBA::Object_ptr object, unsigned long count)
{
    i_NET::SignalReceiver_var receiver = i_NET::SignalReceiver::_narrow(object);
    if (CORBA::is_nil(receiver)) {
        std::cout << "error: not a SignalReceiver" << std::endl;
        return 2;
    }
    i_NET::DoubleBuffer values;
    values.length(static_cast<CORBA::ULong>(count));
    for (CORBA::ULong i = 0; i < values.length(); ++i) {
        values[i] = i;
    }
    CORBA::Any any;
    any <<= values;
    receiver->Receive(any, i_NET::SignalMeta());
    std::cout << "ok" << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: inet_test_client version|send <uri> [count]" << std::endl;
        return 1;
    }
    const std::string command = argv[1];
    const std::string uri = argv[2];
    int rc = 1;
    try {
        // Large enough that only the server's own limit decides what it accepts.
        inet::OrbManager::Init(argc, argv, 0, 64u << 20);
        CORBA::ORB_var orb = inet::OM().GetORB();
        CORBA::Object_var object = orb->string_to_object(uri.c_str());
        if (command == "version") {
            rc = Version(object);
        } else if (command == "send" && argc > 3) {
            rc = Send(object, std::strtoul(argv[3], nullptr, 10));
        } else {
            std::cerr << "unknown command " << command << std::endl;
        }
    } catch (const CORBA::Exception& e) {
        std::cout << "error: " << e << std::endl;
        rc = 2;
    } catch (const std::exception& e) {
        std::cout << "error: " << e.what() << std::endl;
        rc = 2;
    }
    inet::OM().ORBDestroy();
    return rc;
}
