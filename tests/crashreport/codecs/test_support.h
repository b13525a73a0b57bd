#pragma once
// Helpers shared by the codec tests: peer tools and data.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

namespace codecs_test {

using testing_support::RunShell;
using testing_support::ShellQuote;
using testing_support::TCommandResult;
using testing_support::TempDir;

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string Hex(const uint8_t* bytes, size_t count);

// The sizes the checks against peers run on: the block edges and a few MiB.
const std::vector<size_t>& PeerSizes();

} // namespace codecs_test
