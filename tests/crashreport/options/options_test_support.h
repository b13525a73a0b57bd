#pragma once
// Helpers shared by the options tests: random values for every option and a
// field-by-field comparison.
#include <random>
#include <string>

#include "crashreport/options/module_options.h"

namespace optiontest {

// A random string of 0..maxLength bytes, every byte value possible, with CR
// LF pairs mixed in.
std::string RandomString(std::mt19937& rng, std::size_t maxLength = 40);

// Sets every option, the filter lists (with `classes` and `messages`
// entries) and, through a loaded stream, all 96 texts to random values.
void Randomize(crashreport::TTavrelModuleOptions& o, std::mt19937& rng, std::size_t classes = 3,
               std::size_t messages = 3);

// Compares every option but ModuleFile, PublishChanges, UpdateDepth and
// ReporterActive; `withTexts` adds the 96 texts, `withFilters` the lists.
void ExpectSameOptions(const crashreport::TTavrelModuleOptions& expected,
                       const crashreport::TTavrelModuleOptions& actual, bool withTexts = true, bool withFilters = true);

// The running program's own file, which names the reporter's module.
std::string OwnProgramFile();

// The stream form the options save.
std::string Saved(const crashreport::TTavrelModuleOptions& o);

// A record (of the reporter's own module by default) that counts its Changed calls.
class TCountingOptions : public crashreport::TTavrelModuleOptions {
public:
    explicit TCountingOptions(const std::string& moduleFile = OwnProgramFile(), bool publish = true)
        : TTavrelModuleOptions(moduleFile, publish)
    {
    }
    void Changed() override { ++changes; }
    int changes = 0;
};

} // namespace optiontest
