#pragma once
// Stands in for a debugger while it lives: the error log's debugger test
// answers yes (or what SetDebugged said) and every line of debugger output,
// the "[WARNING] ..." lines among them, is recorded. Optionally it takes the
// message boxes (recorded as "caption|text|flags", answered with 1) and the
// exception address as well. The previous hooks come back, and the last
// warning is cleared, when it goes. One collector at a time.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crashreport/errorlog/errorlog_hooks.h"

namespace errorlog_testing {

class TWarningCollector {
public:
    struct TOptions {
        bool MessageBoxes = false;
        std::optional<std::uintptr_t> ExceptionAddress;
    };
    TWarningCollector() : TWarningCollector(TOptions{}) {}
    explicit TWarningCollector(const TOptions& options);
    ~TWarningCollector();
    TWarningCollector(const TWarningCollector&) = delete;
    TWarningCollector& operator=(const TWarningCollector&) = delete;

    // What the debugger test answers from now on.
    void SetDebugged(bool debugged);
    const std::vector<std::string>& Lines() const;
    std::string All() const; // every line, each ended by "\n"
    const std::vector<std::string>& Boxes() const;

private:
    crashreport::TErrorLogHooks previous_;
};

} // namespace errorlog_testing
