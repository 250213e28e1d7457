#ifndef IAPP_KAVREL_SIGNAL_REPOSITORY_H
#define IAPP_KAVREL_SIGNAL_REPOSITORY_H

// The application's component "signals", which will publish the process's signal sources in
// the registry. For now it is a plain feature: it accepts feature children and adds no node.

#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"

namespace iapp {

class IAPP_API KavrelSignalRepository : public KavrelFeature {
public:
    KavrelSignalRepository(KavrelObject& parent, const std::string& name);
    ~KavrelSignalRepository() override;
};

} // namespace iapp

#endif
