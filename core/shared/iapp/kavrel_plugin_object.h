#ifndef IAPP_KAVREL_PLUGIN_OBJECT_H
#define IAPP_KAVREL_PLUGIN_OBJECT_H

// What a plug-in tells about itself: its name, its version and descriptive pairs, which its
// entry function sets on its handler (KavrelPluginHandler derives from this class). The
// component's own name is empty; the handler answers to the plug-in's name instead. It takes
// features as children: those the plug-in creates.

#include <string>
#include <utility>
#include <vector>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_object.h"

namespace iapp {

class KavrelPlugins;

class IAPP_API KavrelPluginObject : public KavrelObject {
public:
    using Info = std::vector<std::pair<std::string, std::string>>;

    explicit KavrelPluginObject(KavrelPlugins& parent);
    ~KavrelPluginObject() override;

    // Each overwrites what was set before; the info as a whole.
    void SetVersion(const std::string& version);
    void SetName(const std::string& name);
    void SetInfo(const Info& info);

    const std::string& GetVersion() const { return m_version; }
    const std::string& GetPluginName() const { return m_pluginName; }
    const Info& GetInfo() const { return m_info; }

    // Features only.
    bool OnQueryChild(const KavrelObject& child) override;

protected:
    // The version as a referent of a registry node, which reads it live.
    std::string m_version;
    std::string m_pluginName;
    Info m_info;
};

} // namespace iapp

#endif
