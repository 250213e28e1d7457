#ifndef IAPP_KAVREL_SIGNAL_REPOSITORY_H
#define IAPP_KAVREL_SIGNAL_REPOSITORY_H

// The application's component "signals": shows the process's signal sources
// (isig::SignalRepository) to remote clients. When the tree starts running, by which time the
// boards, features and plug-ins have made their sources, it copies the repository once, in id
// order, into the registry under its parent's node:
//
//     <name>                    plain node, flags 0x40
//     <name>/signal_<id>        one per source, the id in decimal
//     <name>/signal_<id>/name   string, the source's name then
//     <name>/signal_<id>/owner  string, its owner then
//
// Without a parent, or with a parent that has no registry node, the subtree goes under the
// registry root (with a level-1 warning). Sources registered or removed later do not change it.

#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"

namespace iapp {

class IAPP_API KavrelSignalRepository : public KavrelFeature {
public:
    KavrelSignalRepository(KavrelObject& parent, const std::string& name);
    ~KavrelSignalRepository() override;

    // Builds the subtree; node exceptions pass on, and what was attached stays. Without any
    // registry (an application whose Setup never ran) nothing is built.
    void OnStartRunning() override;
};

} // namespace iapp

#endif
