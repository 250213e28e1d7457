#ifndef IAPP_KAVREL_PLUGINS_H
#define IAPP_KAVREL_PLUGINS_H

// The application's component "plugins", under which the plug-ins loaded from the plug-in
// directory hang. For now it loads none: Load finds no plug-in, and the component holds only
// the features that the application or its boards put there.

#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"

namespace iapp {

class KavrelApplication;

class IAPP_API KavrelPlugins : public KavrelFeature {
public:
    KavrelPlugins(KavrelApplication& parent, const std::string& name);
    ~KavrelPlugins() override;

    // Loads the plug-ins of the application's plug-in directory (none yet).
    void Load();
};

} // namespace iapp

#endif
