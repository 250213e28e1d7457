#include <omniORB4/CORBA.h>

#include "inet/orb_manager.h"

namespace inet {

// The network layer declares it; the application library answers it from the ORB it set up.
unsigned int GetMaxPacketSize()
{
    return static_cast<unsigned int>(omniORB::giopMaxMsgSize());
}

} // namespace inet
