// A plug-in that loads: it names itself, reports version and info, and makes one feature.
#include "iapp/kavrel_plugin_handler.h"
#include "probe.h"

KAVREL_PLUGIN_ENTRY(handler)
{
    handler.SetName("good");
    handler.SetVersion("2.1");
    handler.SetInfo({{"author", "kavrel tests"}, {"purpose", "fixture"}});
    iapp::Create<testplugin::Probe>(handler, "probe", std::string("good probe"));
}
