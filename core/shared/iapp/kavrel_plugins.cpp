#include "iapp/kavrel_plugins.h"

#include "iapp/kavrel_application.h"
#include "istd/trace.h"

namespace iapp {

KavrelPlugins::KavrelPlugins(KavrelApplication& parent, const std::string& name) : KavrelFeature(parent, name) {}

KavrelPlugins::~KavrelPlugins() = default;

void KavrelPlugins::Load()
{
    ISTD_TRACE_FNC("void iapp::KavrelPlugins::Load()");
}

} // namespace iapp
