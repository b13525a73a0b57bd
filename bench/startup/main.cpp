// The smallest program: prints a line and ends. Built twice, with and
// without the crash reporter, to measure what carrying it costs at start-up.
#include <cstdio>

int main()
{
    std::puts("started");
    return 0;
}
