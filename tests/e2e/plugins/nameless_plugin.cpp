// A plug-in that never names itself.
#include "iapp/kavrel_plugin_handler.h"

KAVREL_PLUGIN_ENTRY(handler)
{
    handler.SetVersion("0.0");
}
