// A plugin that knows nothing of the reporter: the program loads it with
// dlopen after the reporter started, and its throw is not caught.
#include <stdexcept>

extern "C" __attribute__((visibility("default"), noinline)) int PluginRun(int records)
{
    if (records > 0) throw std::runtime_error("the plugin failed"); // the plugin's throw
    return 0;
}
