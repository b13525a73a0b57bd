// A program of varied C++ code (namespaces, classes, templates, lambdas,
// operators, inlined helpers) whose stored debug data the tests compare with
// addr2line. Its output depends on its arguments so the optimiser keeps
// every function.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "tests/tools/sample_shapes.h"
#include "tools/code_map.h"
#include "tools/debug_data_encoder.h"

namespace sample {
namespace {

int Scale(int v) { return v * 3 + 1; }

} // namespace

template <typename T> T SumOf(const std::vector<T>& values)
{
    T total{};
    for (const T& v : values) total += v;
    return total;
}

class Counter {
public:
    explicit Counter(int start) : value_(start) {}
    __attribute__((noinline)) int Step(int by)
    {
        value_ += Scale(by);
        return value_;
    }
    Counter& operator+=(int by)
    {
        Step(by);
        return *this;
    }
    bool operator<(const Counter& other) const { return value_ < other.value_; }
    int Value() const { return value_; }

private:
    int value_;
};

__attribute__((noinline)) std::string Describe(const std::map<std::string, int>& counts)
{
    std::string text;
    for (const auto& [name, count] : counts) {
        text += name;
        text += '=';
        text += std::to_string(count);
        text += ';';
    }
    return text;
}

__attribute__((noinline)) int Recurse(int depth)
{
    if (depth <= 0) return 1;
    return Recurse(depth - 1) * 2 + depth;
}

} // namespace sample

static int Variadic(int count, ...) { return count * 7; }

// With "--encode MODULE" the sample runs the tool's DWARF reading and
// encoding, which links a large amount of real code into it.
static int Encode(const char* module)
{
    tools::TElfFile file = tools::OpenElfFile(module, true);
    const tools::TCodeMap map = tools::ReadCodeMap(file);
    const auto data = tools::EncodeDebugData(map, 515, "sample");
    std::printf("%zu rows, %zu bytes\n", map.Rows.size(), data.size());
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--encode") return Encode(argv[2]);
    std::vector<int> values;
    for (int i = 0; i < argc + 10; ++i) values.push_back(i * argc);
    sample::Counter counter(argc);
    counter += 5;
    std::vector<sample::Counter> counters{sample::Counter(3), counter, sample::Counter(argc)};
    std::sort(counters.begin(), counters.end());
    std::map<std::string, int> counts;
    for (int i = 1; i < argc; ++i) counts[argv[i]] += 1;
    auto twice = [&](int v) { return v * 2 + counter.Value(); };
    std::function<int(int)> f = twice;
    std::vector<std::unique_ptr<shapes::Shape>> all;
    all.push_back(shapes::MakeCircle(argc));
    all.push_back(shapes::MakeSquare(argc + 1));
    double area = 0;
    for (const auto& s : all) area += s->Area();
    std::printf("%d %d %s %d %.2f %d %d\n", sample::SumOf(values), counters.front().Value(),
                sample::Describe(counts).c_str(), f(argc), area, sample::Recurse(argc + 3), Variadic(argc, 1, 2));
    return 0;
}
