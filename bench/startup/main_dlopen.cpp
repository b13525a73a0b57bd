// Loads the libraries named on the command line, then ends: what loading a
// library after start-up costs with and without the reporter (which reads
// and intercepts the imports of every module a load brings in).
#include <dlfcn.h>
#include <cstdio>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (!dlopen(argv[i], RTLD_NOW | RTLD_LOCAL)) {
            std::fprintf(stderr, "%s\n", dlerror());
            return 1;
        }
    return 0;
}
