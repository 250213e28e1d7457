#include "isig/health_stream.h"

namespace isig {

KavrelHealthStream::KavrelHealthStream(const std::string& name, const std::string& devicePath, bool onDemand,
                                       const std::string& owner)
    : KavrelStream<HealthTraits>(name, owner, devicePath, 1, onDemand ? eDispatchOnDemand : eDispatchContinuous)
{
}

KavrelHealthStream::~KavrelHealthStream()
{
    // Before this class's part goes, so that the dispatch thread never sees it half destroyed.
    UnregisterSource();
    ShutDown();
}

} // namespace isig
