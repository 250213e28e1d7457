// A plug-in that needs a function nobody defines: the loader refuses it when it binds every
// symbol at once.
#include "iapp/kavrel_plugin_handler.h"

extern "C" void KavrelTestFunctionNobodyDefines();

KAVREL_PLUGIN_ENTRY(handler)
{
    handler.SetName("unresolved");
    KavrelTestFunctionNobodyDefines();
}
