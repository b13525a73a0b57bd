#pragma once
// Helpers shared by the codec tests: scratch folders, peer tools, data.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/run_command.h"

namespace codecs_test {

// A fresh folder under the temporary folder, removed with its files.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

using testing_support::RunShell;
using testing_support::ShellQuote;
using testing_support::TCommandResult;

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string Hex(const uint8_t* bytes, size_t count);

// The sizes the checks against peers run on: the block edges and a few MiB.
const std::vector<size_t>& PeerSizes();

} // namespace codecs_test
