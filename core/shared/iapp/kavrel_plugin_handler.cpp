#include "iapp/kavrel_plugin_handler.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <mutex>
#include <set>

#include "iapp/kavrel_plugins.h"
#include "ireg/reg_reference_node.h"
#include "ireg/reg_value_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"

namespace iapp {

namespace {

// The libraries open through a handler. The loader answers a library reached again under
// another path (a symbolic link, say) with the handle it already gave: that one is refused,
// so that no plug-in's entry runs twice.
std::mutex s_openMutex;
std::set<void*> s_open;

// Takes the handle as a plug-in's own; false when another handler has it.
bool Claim(void* handle)
{
    std::lock_guard<std::mutex> lock(s_openMutex);
    return s_open.insert(handle).second;
}

void Release(void* handle)
{
    std::lock_guard<std::mutex> lock(s_openMutex);
    s_open.erase(handle);
}

// The loader's last error text; empty when there is none.
std::string LoaderError()
{
    const char* text = ::dlerror();
    return text == nullptr ? std::string() : std::string(text);
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

KavrelPluginHandler::KavrelPluginHandler(KavrelPlugins& parent, const std::string& path)
    : KavrelPluginObject(parent), m_path(path)
{
    ISTD_TRACE_FNC("iapp::KavrelPluginHandler::KavrelPluginHandler(iapp::KavrelPlugins&, const std::string&)");
    Load();
}

KavrelPluginHandler::~KavrelPluginHandler()
{
    ISTD_TRACE_FNC("iapp::KavrelPluginHandler::~KavrelPluginHandler()");
    _Close();
}

void KavrelPluginHandler::_Close()
{
    if (m_handle == nullptr) {
        return;
    }
    Release(m_handle);
    ::dlclose(m_handle);
    m_handle = nullptr;
}

void KavrelPluginHandler::Load()
{
    ISTD_TRACE_FNC("void iapp::KavrelPluginHandler::Load()");
    // An entry without status (a dangling link) is no directory; the loader then says why it
    // cannot be opened.
    struct stat status {};
    const bool known = ::stat(m_path.c_str(), &status) == 0;
    if (m_handle != nullptr) {
        throw istd::Exception("Shared Library " + m_path + " is already loaded", true);
    }
    if (known && S_ISDIR(status.st_mode)) {
        throw istd::Exception("Skipping directory folder " + m_path, true);
    }
    if (!EndsWith(m_path, ".so")) {
        throw istd::Exception("Skipping executable, which is not shared library " + m_path, true);
    }
    void* handle = ::dlopen(m_path.c_str(), RTLD_NOW | RTLD_NODELETE);
    if (handle == nullptr) {
        throw istd::Exception("Failed to load " + m_path + ". Error Code: " + LoaderError(), true);
    }
    if (!Claim(handle)) {
        ::dlclose(handle);
        throw istd::Exception("Shared Library " + m_path + " is already loaded", true);
    }
    m_handle = handle;
    ::dlerror();
    void* symbol = ::dlsym(m_handle, c_pluginEntry);
    const std::string error = LoaderError();
    if (symbol == nullptr || !error.empty()) {
        _Close();
        throw istd::Exception("Invalid shared library " + m_path + " (error= " + error, true);
    }
    const auto entry = reinterpret_cast<KavrelPluginEntry_t>(symbol);
    try {
        entry(*this);
    } catch (const istd::Exception& e) {
        _Close();
        throw istd::Exception("Failed to instantiate kavrel plugin " + m_path + ": " + e.Text(), true);
    } catch (...) {
        _Close();
        throw istd::Exception("Unknown exception during instantiation of kavrel plugin " + m_path, true);
    }
    ISTD_TRACE(1, "Kavrel plugin module " << m_path << " is loaded.");
}

void KavrelPluginHandler::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::KavrelPluginHandler::OnRegistryAdd(mci::TreeNodePtr&)");
    // An empty node (the factory's failure) is refused by Add.
    const mci::Flags flags = mci::enums::eReadable;
    node->Add(mci::factory::Create<ireg::RegReferenceNode<std::string>>("version", m_version, flags));
    node->Add(mci::factory::Create<ireg::RegReferenceNode<std::string>>("file_name", m_path, flags));
    for (const auto& [key, value] : m_info) {
        node->Add(mci::factory::Create<ireg::RegValueNode<std::string>>(key, value, flags));
    }
}

const std::string& KavrelPluginHandler::OnGetName() const
{
    return m_pluginName;
}

} // namespace iapp
