// A program that carries the crash reporter and does nothing else for it:
// CMakeLists.txt links TavrelLog::TavrelLog and stores app-options.txt in the
// program. The reporter starts from the program's initialisation, as the
// stored options say; an exception that nothing catches, or a fault, is
// reported on standard output (a program without a display) with the
// module, unit (source file), procedure and line of every frame, read from
// the stored debug data even when the program is stripped, and kept in the
// log beside the program.
//
//   app           runs and ends normally
//   app crash     writes through a null pointer in ParseRecord()
//   app throw     throws from ReadHeader() and nothing catches it
//   app thread    the same on a thread of its own
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace app {

volatile int* g_records = nullptr;

__attribute__((noinline)) int ParseRecord(int value)
{
    g_records[value] = value; // the fault: g_records is null
    return value + 1;
}

__attribute__((noinline)) int ReadHeader(int size)
{
    if (size < 16) throw std::runtime_error("the header is too short"); // the throw
    return size;
}

} // namespace app

int main(int argc, char** argv)
{
    const char* ask = argc > 1 ? argv[1] : "";
    if (std::strcmp(ask, "crash") == 0) return app::ParseRecord(3);
    if (std::strcmp(ask, "throw") == 0) return app::ReadHeader(argc);
    if (std::strcmp(ask, "thread") == 0) {
        std::thread worker([argc] { app::ReadHeader(argc); });
        worker.join();
        return 0;
    }
    std::printf("no crash asked for\n");
    return 0;
}
