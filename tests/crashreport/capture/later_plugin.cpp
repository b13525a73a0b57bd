// A library that a test loads with dlopen after the capture started: its
// throws must be seen at their raise like those of the modules present at
// start-up.
#include <stdexcept>

extern "C" __attribute__((visibility("default"), noinline)) int TavrelLog_TestPluginThrowAndCatch(int times)
{
    int caught = 0;
    for (int i = 0; i < times; ++i) try {
            throw std::runtime_error("thrown in the plugin");
        } catch (const std::exception&) {
            ++caught;
        }
    return caught;
}

extern "C" __attribute__((visibility("default"), noinline)) void TavrelLog_TestPluginThrow()
{
    throw std::runtime_error("uncaught in the plugin");
}
