#pragma once
// Shared pieces of the delivery tests: every warning recorded while a test
// runs (the error log's collector), files with known bytes, and the check
// that no secret leaked into a text.
#include <string>
#include <vector>

#include "tests/crashreport/errorlog/warning_collector.h"

namespace delivery_testing {

using errorlog_testing::TWarningCollector;

// Bytes 0..255 in a pattern that depends on seed, of the given length.
std::string PatternBytes(std::size_t length, unsigned seed);

// Whether text shows the secret as it is or in base64.
bool ShowsSecret(const std::string& text, const std::string& secret);

} // namespace delivery_testing
