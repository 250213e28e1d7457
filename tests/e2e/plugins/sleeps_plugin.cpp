// A plug-in whose entry takes 2 s; it logs when it begins ("Plug-in sleeper: sleeping.").
#include <chrono>
#include <thread>

#include "iapp/kavrel_plugin_handler.h"
#include "istd/log.h"

KAVREL_PLUGIN_ENTRY(handler)
{
    handler.SetName("sleeper");
    handler.SetVersion("0.1");
    istd::LogInfo("Plug-in sleeper: sleeping.");
    std::this_thread::sleep_for(std::chrono::seconds(2));
}
