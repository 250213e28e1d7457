// A shared library without the plug-in entry.
extern "C" __attribute__((visibility("default"))) int KavrelPluginInstantiated()
{
    return 1;
}
