#include "iapp/kavrel_plugin_object.h"

#include "iapp/kavrel_feature.h"
#include "iapp/kavrel_plugins.h"

namespace iapp {

KavrelPluginObject::KavrelPluginObject(KavrelPlugins& parent) : KavrelObject(parent, std::string()) {}

KavrelPluginObject::~KavrelPluginObject() = default;

void KavrelPluginObject::SetVersion(const std::string& version)
{
    m_version = version;
}

void KavrelPluginObject::SetName(const std::string& name)
{
    m_pluginName = name;
}

void KavrelPluginObject::SetInfo(const Info& info)
{
    m_info = info;
}

bool KavrelPluginObject::OnQueryChild(const KavrelObject& child)
{
    return dynamic_cast<const KavrelFeature*>(&child) != nullptr;
}

} // namespace iapp
