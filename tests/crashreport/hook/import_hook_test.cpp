// GOT interception in the test executable (linked with full RELRO) and in a
// shared library (lazy binding, one function imported through two cells).
#include "crashreport/hook/elf_imports.h"
#include "crashreport/hook/hook_engine.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

extern "C" {
long itl_call_getppid();
void* itl_getppid_address();
long itl_call_getpgrp();
long itl_call_getpid();
long itl_call_alias_getpid();
}

using namespace crashreport::hook;

namespace {

pid_t FakeGetppid() { return 4242; }
pid_t FakeGetpgrp() { return 4343; }
pid_t FakeGetpid() { return 4444; }

// Called through this executable's PLT; noinline keeps the call in one place.
__attribute__((noinline)) pid_t ExecutableGetppid() { return getppid(); }

std::vector<void**> CellsOf(const char* module, const char* symbol)
{
    kernel::TModuleImage m;
    TModuleImports imports;
    std::vector<void**> cells;
    if (kernel::FindModuleByName(module, m) && ReadModuleImports(m, imports))
        for (const auto& c : imports.Cells)
            if (std::string(c.SymbolName) == symbol) cells.push_back(c.Cell);
    return cells;
}

class ImportHook : public ::testing::Test {
protected:
    void SetUp() override { StartHookEngine(); }
    void TearDown() override { ShutdownHookEngine(); }
    const pid_t parent_ = static_cast<pid_t>(syscall(SYS_getppid));
};

TEST_F(ImportHook, ExecutableGotUnderFullRelro)
{
    ASSERT_EQ(ExecutableGetppid(), parent_);
    const auto cells = CellsOf("", "getppid");
    ASSERT_FALSE(cells.empty());
    kernel::TMemoryRegion before;
    ASSERT_TRUE(kernel::QueryMemory(cells[0], before, true));
    EXPECT_EQ(before.Protection & PROT_WRITE, 0) << "the test executable is linked with -z now -z relro";

    void* real = nullptr;
    EXPECT_TRUE(
        InterceptModuleImports({""}, "libc.so.6", false, real, reinterpret_cast<void*>(&FakeGetppid), "getppid"));
    EXPECT_NE(real, nullptr);
    EXPECT_EQ(ExecutableGetppid(), 4242);
    EXPECT_GE(ImportHookCount(), 1);

    kernel::TMemoryRegion during;
    ASSERT_TRUE(kernel::QueryMemory(cells[0], during, true));
    EXPECT_EQ(during.Protection, before.Protection) << "protection is put back after the write";

    ShutdownHookEngine();
    EXPECT_EQ(ExecutableGetppid(), parent_);
    for (void** c : cells) EXPECT_EQ(*c, real);
    StartHookEngine();
}

TEST_F(ImportHook, LibraryCellsOfOneFunctionAreAllPatched)
{
    const char* lib = "libhook_import_test_library.so";
    const auto plain = CellsOf(lib, "getpid");
    const auto alias = CellsOf(lib, "__getpid");
    ASSERT_EQ(plain.size(), 1u);
    ASSERT_EQ(alias.size(), 1u);
    ASSERT_EQ(itl_call_getpid(), getpid());
    ASSERT_EQ(itl_call_alias_getpid(), getpid());

    void* real = nullptr;
    EXPECT_TRUE(
        InterceptModuleImports({lib}, "libc.so.6", false, real, reinterpret_cast<void*>(&FakeGetpid), "getpid"));
    EXPECT_EQ(itl_call_getpid(), 4444);
    EXPECT_EQ(itl_call_alias_getpid(), 4444) << "the second import of the same function";
    EXPECT_EQ(ImportHookCount(), 2);

    // An address load of the function (GLOB_DAT) is patched too.
    EXPECT_TRUE(
        InterceptModuleImports({lib}, "libc.so.6", false, real, reinterpret_cast<void*>(&FakeGetppid), "getppid"));
    EXPECT_EQ(itl_call_getppid(), 4242);
    EXPECT_EQ(itl_getppid_address(), reinterpret_cast<void*>(&FakeGetppid));

    ShutdownHookEngine();
    EXPECT_EQ(itl_call_getpid(), getpid());
    EXPECT_EQ(itl_call_alias_getpid(), getpid());
    EXPECT_EQ(itl_call_getppid(), parent_);
    EXPECT_EQ(itl_getppid_address(), real);
    StartHookEngine();
}

TEST_F(ImportHook, LazilyBoundCellIsFoundByItsSymbol)
{
    const char* lib = "libhook_import_test_library.so";
    const auto lazy = CellsOf(lib, "getpgrp");
    ASSERT_EQ(lazy.size(), 1u);
    kernel::TModuleImage m;
    ASSERT_TRUE(kernel::FindModuleByName(lib, m));
    ASSERT_TRUE(m.Contains(*lazy[0])) << "the cell still points at the PLT (the library is linked -z lazy)";

    void* real = nullptr;
    EXPECT_TRUE(
        InterceptModuleImports({lib}, "libc.so.6", false, real, reinterpret_cast<void*>(&FakeGetpgrp), "getpgrp"));
    EXPECT_EQ(itl_call_getpgrp(), 4343);
    ShutdownHookEngine();
    EXPECT_EQ(*lazy[0], real);
    EXPECT_EQ(itl_call_getpgrp(), getpgrp());
    StartHookEngine();
}

TEST_F(ImportHook, LazyPltEntryIsFollowedToTheRealFunction)
{
    // The library's call to getpgrp goes to its PLT entry; find that entry
    // from the call instruction.
    const auto* code = reinterpret_cast<const std::uint8_t*>(&itl_call_getpgrp);
    void* plt = nullptr;
    for (int at = 0; at < 32 && !plt;) {
        TDecodedInstruction d;
        ASSERT_TRUE(DecodeInstruction(code + at, NativeCodeMode, d));
        if (d.Branch == TBranchKind::Near32) {
            std::int32_t displacement;
            std::memcpy(&displacement, code + at + d.BranchDisplacementOffset, 4);
            plt = const_cast<std::uint8_t*>(code + at + d.Length + displacement);
        }
        at += d.Length;
    }
    ASSERT_NE(plt, nullptr);
    EXPECT_EQ(FollowImportStub(plt), dlsym(RTLD_DEFAULT, "getpgrp"));
}

TEST_F(ImportHook, MissingEntriesAndLibraries)
{
    // A module that does not import the function: quiet gives null, loud raises.
    kernel::TModuleImage m;
    ASSERT_TRUE(kernel::FindModuleByName("libhook_import_test_library.so", m));
    void* real = reinterpret_cast<void*>(&::getuid);
    EXPECT_EQ(InterceptImport(m.Handle, "libc.so.6", real, reinterpret_cast<void*>(&FakeGetppid), false, true, "x"),
              nullptr);
    try {
        InterceptImport(m.Handle, "libc.so.6", real, reinterpret_cast<void*>(&FakeGetppid), false, false,
                        "libc.so.6.getuid");
        FAIL();
    } catch (const EHookingError& e) {
        EXPECT_EQ(e.Message, "Cannot hook the procedure \"libc.so.6.getuid\".");
    }
    // The vDSO is shared with the kernel.
    const auto vdso = static_cast<std::uintptr_t>(getauxval(AT_SYSINFO_EHDR));
    ASSERT_NE(vdso, 0u);
    try {
        InterceptImport(vdso, "libc.so.6", real, reinterpret_cast<void*>(&FakeGetppid), false, true, "x");
        FAIL();
    } catch (const ESharedArea& e) {
        EXPECT_EQ(e.Message, "Cannot hook the module \"[vdso]\" located into the shared-area.");
    }
    // A library the module does not need.
    EXPECT_EQ(InterceptImport(m.Handle, "libz.so.1", reinterpret_cast<void*>(&::getppid),
                              reinterpret_cast<void*>(&FakeGetppid), false, true, "x"),
              nullptr);
    // A function the library does not export: null real address.
    void* out = reinterpret_cast<void*>(1);
    EXPECT_THROW(
        InterceptModuleImports({""}, "libc.so.6", true, out, reinterpret_cast<void*>(&FakeGetppid), "no_such_function"),
        EProcNull);
    EXPECT_EQ(out, nullptr);
    // Names that are not loaded are skipped.
    EXPECT_FALSE(InterceptModuleImports({"libnot-loaded.so"}, "libc.so.6", false, out,
                                        reinterpret_cast<void*>(&FakeGetppid), "getppid"));
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(ImportHookCount(), 0);
}

} // namespace

// A module's GNU hash table answers what the dynamic linker answers for the
// names it defines: some version of a defined name lies at the address the
// linker binds it to (or is an indirect function), none at another
// function's; a name it does not define has no definition.
TEST(ModuleDefinitions, TheHashTableAgreesWithTheDynamicLinker)
{
    kernel::TModuleImage libc;
    ASSERT_TRUE(kernel::FindModuleByName("libc.so.6", libc));
    TModuleImports imports;
    ASSERT_TRUE(ReadModuleImports(libc, imports));
    const TSymbolIndex& index = imports.Definitions;
    ASSERT_NE(index.Buckets, nullptr) << "libc has a GNU hash table";
    // libc's own definitions: a sanitizer's runtime interposes some names
    // for the whole process.
    void* own = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(own, nullptr);
    const auto other = reinterpret_cast<std::uintptr_t>(dlsym(own, "getppid"));
    const struct {
        const char* Name;
        bool Defined;
        bool Indirect; // a version is an indirect function: any address may be its own
    } cases[] = {{"getpgrp", true, false}, {"pthread_create", true, false}, {"dlopen", true, false},
                 {"memcpy", true, true}, // a plain old version and an indirect current one
                 {"ImportHookTestNoSuchName", false, false}, {"", false, false}};
    for (const auto& c : cases) {
        const TDefinition d = FindDefinition(index, c.Name, GnuHash(c.Name));
        ASSERT_EQ(d.Defined, c.Defined) << c.Name;
        if (!d.Defined) continue;
        EXPECT_TRUE(d.MayBeAt(reinterpret_cast<std::uintptr_t>(dlsym(own, c.Name)))) << c.Name;
        EXPECT_EQ(d.MayBeAt(other), c.Indirect) << c.Name;
    }
    dlclose(own);
}
