#include "inet/remote_path.h"

namespace mci {

Path RemoteNodeNamesToPath(const i_NET::NodeNames& names)
{
    Path path;
    const CORBA::ULong length = names.length();
    path.reserve(length);
    for (CORBA::ULong i = 0; i < length; ++i) {
        path.emplace_back(static_cast<const char*>(names[i]));
    }
    return path;
}

i_NET::NodeNames PathToRemoteNodeNames(const Path& path)
{
    i_NET::NodeNames names;
    names.length(static_cast<CORBA::ULong>(path.size()));
    for (size_t i = 0; i < path.size(); ++i) {
        names[static_cast<CORBA::ULong>(i)] = path[i].c_str();
    }
    return names;
}

} // namespace mci
