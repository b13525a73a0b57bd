// A library without the crash reporter: it has no event exports.
extern "C" __attribute__((visibility("default"), noinline)) int PlainModuleCode(int v) { return v * 5 + 2; }
