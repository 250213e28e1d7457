#ifndef INET_REMOTE_PATH_H
#define INET_REMOTE_PATH_H

// Paths of the tree layer and the node names remote clients send. They live in the network
// layer so that the tree layer (mci) stays free of CORBA.

#include "inet/i_net.hh"
#include "inet/inet_export.h"
#include "mci/types.h"

namespace mci {

// One path element per sequence element, in order.
INET_API Path RemoteNodeNamesToPath(const i_NET::NodeNames& names);
// One sequence element per path element, in order. A CORBA string ends at the first NUL, so
// an element holding one travels cut there.
INET_API i_NET::NodeNames PathToRemoteNodeNames(const Path& path);

} // namespace mci

#endif
