// Address resolution: the debug data of this program, the export-name
// fallback for a library without debug data, and the name splitting.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include "crashreport/modules/cpp_name_parts.h"
#include "crashreport/stack/debug_info.h"
#include "crashreport/modules/modules_list.h"

namespace {

using namespace crashreport;

struct TSplit {
    const char* Name;
    std::vector<std::string> Parts;
};

TEST(CppNameParts, SplitsScopesOutsideBrackets)
{
    const TSplit cases[] = {
        {"main", {"main"}},
        {"ns::Class::method(int) const", {"ns", "Class", "method(int) const"}},
        {"std::vector<int, std::allocator<int> >::push_back(int const&)",
         {"std", "vector<int, std::allocator<int> >", "push_back(int const&)"}},
        {"void ns::f<int>(int)", {"ns", "f<int>(int)"}},
        {"ns::Node<int>* ns::Alloc<int>::make<int>(int&&)", {"ns", "Alloc<int>", "make<int>(int&&)"}},
        {"unsigned long ns::size<char>()", {"ns", "size<char>()"}},
        {"(anonymous namespace)::Helper::run()", {"(anonymous namespace)", "Helper", "run()"}},
        {"main::{lambda(int)#1}::operator()(int) const", {"main", "{lambda(int)#1}", "operator()(int) const"}},
        {"foo(int)::{lambda()#2}::operator()() const", {"foo(int)", "{lambda()#2}", "operator()() const"}},
        {"ns::T::operator<(ns::T const&) const", {"ns", "T", "operator<(ns::T const&) const"}},
        {"std::ostream::operator<<(int)", {"std", "ostream", "operator<<(int)"}},
        {"ns::T::operator->() const", {"ns", "T", "operator->() const"}},
        {"ns::T::operator bool() const", {"ns", "T", "operator bool() const"}},
        {"operator new(unsigned long)", {"operator new(unsigned long)"}},
        {"std::__cxx11::basic_string<char>::_M_data[abi:cxx11]() const",
         {"std", "__cxx11", "basic_string<char>", "_M_data[abi:cxx11]() const"}},
        {"sample::Counter::Step(int) [clone .isra.0]", {"sample", "Counter", "Step(int) [clone .isra.0]"}},
        {"decltype ((({parm#1}.base)())-(({parm#2}.base)())) std::operator-<int*>(std::move_iterator<int*> const&)",
         {"std", "operator-<int*>(std::move_iterator<int*> const&)"}},
        {"decltype (__miter_base(({parm#1}.base)())) std::__miter_base<char*>(std::move_iterator<char*>)",
         {"std", "__miter_base<char*>(std::move_iterator<char*>)"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCppScopes(c.Name), c.Parts) << c.Name;
}

TEST(ExportNames, SplitIntoUnitClassAndProcedure)
{
    std::string unit, cls, proc;
    EXPECT_EQ(SplitExportName("malloc", unit, cls, proc), dkExportName);
    EXPECT_EQ(proc, "malloc");
    EXPECT_TRUE(unit.empty() && cls.empty());
    EXPECT_EQ(SplitExportName("std::terminate()", unit, cls, proc), dkDecoratedName);
    EXPECT_EQ(unit, "std");
    EXPECT_EQ(cls, "");
    EXPECT_EQ(proc, "terminate()");
    EXPECT_EQ(SplitExportName("std::__cxx11::basic_string<char>::append(char const*)", unit, cls, proc),
              dkDecoratedName);
    EXPECT_EQ(unit, "std");
    EXPECT_EQ(cls, "__cxx11::basic_string<char>");
    EXPECT_EQ(proc, "append(char const*)");
    EXPECT_EQ(SplitExportName("", unit, cls, proc), dkModuleOnly);
}

TEST(GetDebugInfo, ResolvesThisProgramFromItsStoredData)
{
    TTavrelDebugInfo info;
    GetDebugInfo(info, reinterpret_cast<const void*>(&SplitCppScopes), 5, 1);
    EXPECT_EQ(info.DebugDetail, dkDebugLine);
    EXPECT_EQ(info.UnitName, "cpp_name_parts.cpp");
    EXPECT_EQ(info.ClassName, "crashreport");
    EXPECT_EQ(info.ProcedureName, "SplitCppScopes[abi:cxx11](std::basic_string_view<char, std::char_traits<char> >)");
    EXPECT_GT(info.Line, 0);
    EXPECT_LE(info.ProcOffsetLine, 1); // at the procedure's start: its declaration line or the next
    EXPECT_EQ(info.ThreadID, 5);
}

TEST(GetDebugInfo, FallsBackToTheExportedNamesOfALibrary)
{
    // libstdc++ carries no stored data: its exported functions name it.
    void* terminate = dlsym(RTLD_DEFAULT, "_ZSt9terminatev");
    ASSERT_NE(terminate, nullptr);
    TTavrelDebugInfo info;
    GetDebugInfo(info, static_cast<char*>(terminate) + 1, 1, 1);
    ASSERT_NE(info.ModuleInfo, nullptr);
    EXPECT_EQ(info.ModuleInfo->ModuleKind, mkRuntimePackage);
    EXPECT_EQ(info.DebugDetail, dkDecoratedName);
    EXPECT_EQ(info.UnitName, "std");
    EXPECT_EQ(info.ProcedureName, "terminate()");
    EXPECT_EQ(info.Line, 0);
}

TEST(GetDebugInfo, AnAddressOutsideEveryModuleIsUnknown)
{
    TTavrelDebugInfo info;
    GetDebugInfo(info, reinterpret_cast<const void*>(std::uintptr_t(0x10)), 1, 1);
    EXPECT_EQ(info.DebugDetail, dkUnknown);
    EXPECT_EQ(info.ModuleInfo, nullptr);
}

} // namespace
