#pragma once
// Shared pieces of the delivery tests: every warning recorded while a test
// runs (through the debugger output hook), files with known bytes, and the
// check that no secret leaked into a text.
#include <string>
#include <vector>

#include "crashreport/capture/errorlog/errorlog_hooks.h"

namespace delivery_testing {

// Collects the "[WARNING] ..." lines of the debugger output while it lives.
class TWarningCollector {
public:
    TWarningCollector();
    ~TWarningCollector();
    const std::vector<std::string>& Lines() const;
    std::string All() const; // every line, joined

private:
    crashreport::TErrorLogHooks previous_;
};

// Bytes 0..255 in a pattern that depends on seed, of the given length.
std::string PatternBytes(std::size_t length, unsigned seed);

// Whether text shows the secret as it is or in base64.
bool ShowsSecret(const std::string& text, const std::string& secret);

} // namespace delivery_testing
