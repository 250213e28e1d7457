// A plug-in whose entry makes a feature, then refuses with istd::Exception.
#include "iapp/kavrel_plugin_handler.h"
#include "istd/exception.h"
#include "probe.h"

KAVREL_PLUGIN_ENTRY(handler)
{
    handler.SetName("refuses");
    iapp::Create<testplugin::Probe>(handler, "probe", std::string("refused probe"));
    throw istd::Exception("no licence for this chassis", true);
}
