#include "crashreport/modules/cpp_name_parts.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace crashreport {
namespace {

constexpr std::string_view kAnonymous = "(anonymous namespace)";

bool IsIdentChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Length of the operator token at `at` ("operator" already matched), so its
// "<", ">", "(" and ")" are not taken for brackets.
std::size_t OperatorLength(std::string_view s, std::size_t at)
{
    std::size_t i = at + 8;                          // past "operator"
    if (i < s.size() && IsIdentChar(s[i])) return 0; // an identifier that merely starts with "operator"
    if (s.compare(i, 2, "()") == 0) return i + 2 - at;
    if (s.compare(i, 2, "[]") == 0) return i + 2 - at;
    constexpr std::string_view symbols = "<>=!+-*/%^&|~,";
    std::size_t j = i;
    while (j < s.size() && symbols.find(s[j]) != std::string_view::npos) ++j;
    if (j > i) return j - at;
    // "operator new", "operator delete[]", conversion "operator int": words
    // up to the argument list.
    while (j < s.size() && s[j] != '(') ++j;
    return j - at;
}

} // namespace

std::vector<std::string> SplitCppScopes(std::string_view s)
{
    std::vector<std::string> parts;
    std::size_t partStart = 0;
    int depth = 0;
    bool inArguments = false; // past the function's own argument list opening
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (depth == 0 && !inArguments) {
            if (s.compare(i, kAnonymous.size(), kAnonymous) == 0) {
                i += kAnonymous.size() - 1;
                continue;
            }
            if (s.compare(i, 8, "operator") == 0 && (i == 0 || !IsIdentChar(s[i - 1]))) {
                const std::size_t n = OperatorLength(s, i);
                if (n > 0) {
                    i += n - 1;
                    continue;
                }
            }
            if ((s.compare(i, 9, "decltype ") == 0 || s.compare(i, 9, "decltype(") == 0) &&
                (i == 0 || !IsIdentChar(s[i - 1]))) {
                // A return type "decltype (expression)": its parentheses are
                // no argument list; it ends at the space after them.
                int parens = 0;
                for (std::size_t j = s.find('(', i); j < s.size(); ++j) {
                    if (s[j] == '(') ++parens;
                    if (s[j] == ')' && --parens == 0) {
                        i = j;
                        break;
                    }
                }
                continue;
            }
            if (s[i] == ' ') {
                // A return type in front of a template function's name (it
                // may have scopes of its own: "ns::T* ns::f<int>()").
                parts.clear();
                partStart = i + 1;
                continue;
            }
            if (s[i] == ':' && i + 1 < s.size() && s[i + 1] == ':') {
                parts.emplace_back(s.substr(partStart, i - partStart));
                partStart = i + 2;
                ++i;
                continue;
            }
        }
        switch (s[i]) {
        case '(':
            if (depth == 0) inArguments = true;
            [[fallthrough]];
        case '<':
        case '[':
        case '{': ++depth; break;
        case ')':
        case '>':
        case ']':
        case '}':
            if (depth > 0) --depth;
            if (depth == 0 && s[i] == ')') {
                // Scopes may follow a function's arguments: "f()::{lambda()#1}".
                if (i + 2 < s.size() && s[i + 1] == ':' && s[i + 2] == ':') inArguments = false;
            }
            break;
        default: break;
        }
    }
    parts.emplace_back(s.substr(partStart));
    return parts;
}

void SplitCppClassAndProcedure(std::string_view demangled, std::string& className, std::string& procedure)
{
    const auto parts = SplitCppScopes(demangled);
    className.clear();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (i > 0) className += "::";
        className += parts[i];
    }
    procedure = parts.back();
}

std::string DemangleCppName(const char* name)
{
    if (!name) return {};
    if (name[0] != '_' || name[1] != 'Z') return name;
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && out ? std::string(out.get()) : std::string(name);
}

} // namespace crashreport
