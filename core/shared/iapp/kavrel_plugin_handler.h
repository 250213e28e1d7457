#ifndef IAPP_KAVREL_PLUGIN_HANDLER_H
#define IAPP_KAVREL_PLUGIN_HANDLER_H

// One loaded plug-in: a shared library of the plug-in directory, opened with every symbol bound
// at once and kept mapped after it is closed (RTLD_NOW | RTLD_NODELETE: its features' code stays
// callable while they exist), whose entry function ran once with this handler. The handler owns
// the library handle, carries what the plug-in reported (name, version, info) and is the parent
// of the plug-in's features. A plug-in is a library that exports the entry:
//
//     KAVREL_PLUGIN_ENTRY(handler)
//     {
//         handler.SetName("demo");
//         handler.SetVersion("1.0");
//         handler.SetInfo({{"author", "me"}});
//         iapp::Create<MyFeature>(handler, "settings");   // its features, under the handler
//     }
//
// The entry reports a failure by throwing; the features it made until then go with the handler.
// In the registry the handler is application/plugins/<name> with "version", "file_name" and a
// string leaf per info pair beside its features' nodes.

#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_plugin_object.h"
#include "mci/types.h"

namespace iapp {

class KavrelPluginHandler;

// The entry's name and type.
constexpr const char* c_pluginEntry = "KavrelPluginInstantiate";
using KavrelPluginEntry_t = void (*)(KavrelPluginHandler& handler);

class IAPP_API KavrelPluginHandler : public KavrelPluginObject {
public:
    // Loads the library at path (Load); its exceptions make the construction fail, and the
    // half-built handler leaves its parent again.
    KavrelPluginHandler(KavrelPlugins& parent, const std::string& path);
    // Closes the library, then the features go (their code stays mapped).
    ~KavrelPluginHandler() override;

    // Opens the library and runs its entry. Throws istd::Exception:
    //   "Shared Library <path> is already loaded"  this handler's, or another handler's library
    //                                              reached under another path (a link)
    //   "Skipping directory folder <path>"
    //   "Skipping executable, which is not shared library <path>"   a path not ending in ".so"
    //   "Failed to load <path>. Error Code: <loader's text>"
    //   "Invalid shared library <path> (error= <loader's text>"     no entry
    //   "Failed to instantiate kavrel plugin <path>: <text>"        the entry threw istd::Exception
    //   "Unknown exception during instantiation of kavrel plugin <path>"   anything else
    // The library is closed again on every failure after it was opened.
    void Load();

    const std::string& GetPath() const { return m_path; }
    bool IsLoaded() const { return m_handle != nullptr; }

    // "version", "file_name" (read live) and the info pairs (copies), flags 2.
    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    // The plug-in's name: empty until the plug-in sets it.
    const std::string& OnGetName() const override;

private:
    // Closes the library and forgets the handle.
    void _Close();

    // The referent of "file_name"; never changed.
    std::string m_path;
    void* m_handle = nullptr;
};

} // namespace iapp

// Defines the plug-in's entry, exported unmangled whatever the library's visibility.
#define KAVREL_PLUGIN_ENTRY(handler)                                                                    \
    extern "C" __attribute__((visibility("default"))) void KavrelPluginInstantiate(                     \
        iapp::KavrelPluginHandler& handler)

#endif
