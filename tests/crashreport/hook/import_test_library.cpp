// A shared library that imports libc functions in the ways a real module
// does: an address load (GLOB_DAT), one function under two names (getpid and
// its alias __getpid: two cells that hold the same address), and a PLT call
// that is still lazily bound when it is hooked.
#include <unistd.h>

extern "C" pid_t __getpid(void);

extern "C" {

__attribute__((visibility("default"))) long itl_call_getppid() { return getppid(); }

__attribute__((visibility("default"))) void* itl_getppid_address() { return reinterpret_cast<void*>(&getppid); }

__attribute__((visibility("default"))) long itl_call_getpid() { return getpid(); }

__attribute__((visibility("default"))) long itl_call_alias_getpid() { return __getpid(); }

__attribute__((visibility("default"))) long itl_call_getpgrp() { return getpgrp(); }
}
