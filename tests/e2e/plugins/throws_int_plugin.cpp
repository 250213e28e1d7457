// A plug-in whose entry makes a feature, then throws something that is no exception class.
#include "iapp/kavrel_plugin_handler.h"
#include "probe.h"

KAVREL_PLUGIN_ENTRY(handler)
{
    handler.SetName("throws");
    iapp::Create<testplugin::Probe>(handler, "probe", std::string("thrown probe"));
    throw 42;
}
