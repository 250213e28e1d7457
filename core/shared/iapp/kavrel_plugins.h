#ifndef IAPP_KAVREL_PLUGINS_H
#define IAPP_KAVREL_PLUGINS_H

// The application's component "plugins": Load turns every entry of the plug-in directory
// (PluginDir) into an attempt to load a plug-in (KavrelPluginHandler). Entries that are no
// plug-in (".", "..", folders, files not ending in ".so") and plug-ins that fail are left out,
// a failed library with a warning in the log that gives the reason ("Plug-in not loaded: " and
// the handler's text, with the loader's words); none stops start-up. Afterwards the children are the handlers of the plug-ins that loaded, in
// the directory's order, and the features that the application or its boards put here.

#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"

namespace iapp {

class KavrelApplication;

class IAPP_API KavrelPlugins : public KavrelFeature {
public:
    KavrelPlugins(KavrelApplication& parent, const std::string& name);
    ~KavrelPlugins() override;

    // Scans the application's plug-in directory; a directory that cannot be opened is traced
    // (level 1) and gives no plug-in. A directory given without a closing "/" gets one.
    void Load();

    // Plug-in handlers and features.
    bool OnQueryChild(const KavrelObject& child) override;

private:
    KavrelApplication& m_application;
};

} // namespace iapp

#endif
