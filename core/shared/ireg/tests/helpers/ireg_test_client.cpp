// A registry client in its own process for the remote-node tests.
//
//   ireg_test_client <uri>     prints the Application's interface version

#include <iostream>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: ireg_test_client <uri>" << std::endl;
        return 1;
    }
    int rc = 0;
    try {
        inet::OrbManager::Init(argc, argv, 0, 64u << 20);
        CORBA::ORB_var orb = inet::OM().GetORB();
        CORBA::Object_var object = orb->string_to_object(argv[1]);
        i_NET::Application_var app = i_NET::Application::_narrow(object);
        CORBA::String_var version = app->GetInterfaceVersion();
        std::cout << version.in() << std::endl;
    } catch (const CORBA::Exception& e) {
        std::cout << "error: " << inet::ExceptionText(e) << std::endl;
        rc = 2;
    }
    inet::OM().ORBDestroy();
    return rc;
}
