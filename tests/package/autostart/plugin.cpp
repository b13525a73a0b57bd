// A plugin that knows nothing of the reporter: the program loads it with
// dlopen after the reporter started, and its throw is not caught. The throw
// sits in a function of its own: at -O2 its path goes to a cold part, which
// has no exported name, so the call stack names the caller PluginRun.
#include <stdexcept>

extern "C" __attribute__((visibility("default"), noinline)) void PluginParse(int records)
{
    if (records > 0) throw std::runtime_error("the plugin failed");
}

extern "C" __attribute__((visibility("default"), noinline)) int PluginRun(int records)
{
    PluginParse(records);
    return records + 1;
}
