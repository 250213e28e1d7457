#include "iapp/kavrel_plugins.h"

#include <dirent.h>

#include "iapp/kavrel_application.h"
#include "iapp/kavrel_plugin_handler.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace.h"

namespace iapp {

namespace {

// An entry that the handler tries as a library.
bool IsLibraryName(const std::string& name)
{
    return name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0;
}

} // namespace

KavrelPlugins::KavrelPlugins(KavrelApplication& parent, const std::string& name)
    : KavrelFeature(parent, name), m_application(parent)
{
}

KavrelPlugins::~KavrelPlugins() = default;

void KavrelPlugins::Load()
{
    ISTD_TRACE_FNC("void iapp::KavrelPlugins::Load()");
    const std::string directory = m_application.PluginDir();
    // "--plugin-path /opt/plugins" names the same folder as "/opt/plugins/": without the "/"
    // every path would run the folder's name into the entry's and name nothing.
    const std::string prefix = directory.empty() || directory.back() == '/' ? directory : directory + "/";
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        ISTD_TRACE(1, "Failed to access folder " << directory << " while looking for kavrel application plugins.");
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string path = prefix + entry->d_name;
        try {
            Create<KavrelPluginHandler>(*this, path);
        } catch (const istd::Exception& e) {
            // Most entries of a folder are no plug-in (".", "..", other files); why one was
            // left out is for the diagnostic trace. A library that failed (the loader's
            // reason, a missing entry, an entry that threw) is a plug-in the operator misses.
            ISTD_TRACE(2, e.Text());
            if (IsLibraryName(entry->d_name)) {
                istd::LogWarning("Plug-in not loaded: " + e.Text());
            }
        } catch (...) {
            ISTD_TRACE(2, "Unknown exception while loading " << path);
            if (IsLibraryName(entry->d_name)) {
                istd::LogWarning("Plug-in not loaded: unknown exception while loading " + path);
            }
        }
    }
    ::closedir(dir);
}

bool KavrelPlugins::OnQueryChild(const KavrelObject& child)
{
    return dynamic_cast<const KavrelPluginHandler*>(&child) != nullptr || KavrelFeature::OnQueryChild(child);
}

} // namespace iapp
