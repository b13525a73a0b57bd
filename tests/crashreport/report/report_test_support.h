#pragma once
// Shared by the report tests: a report made from fixed sources (two
// threads, three modules, a known register set).
#include <memory>
#include <string>
#include <vector>

#include "crashreport/report/report_text.h"

namespace reporttest {

// Owns what the sources point to.
struct TSampleReport {
    std::unique_ptr<crashreport::TTavrelStackList> Stack;
    std::vector<std::unique_ptr<crashreport::TTavrelModuleInfo>> Modules;
    std::unique_ptr<unsigned char[]> Memory; // dumped as stack and memory
    crashreport::TReportSources Sources;
};

// A report with a message, two threads (the exception thread with three
// frames, a running thread with two) and three modules. `message` goes
// into the Message item as it is.
std::unique_ptr<TSampleReport> MakeSample(const std::string& message = "List index out of bounds (5).");

// Puts two inlined rows before the sample's first row (the same address):
// Decode(int) of frame_file.h line 40, inlined into Load() of frame_file.cpp
// at line 77, inlined into ReadFrame(int), the first row.
void AddInlinedRows(TSampleReport& sample);

// The report keeps copies of the stack and module rows: after a test changed
// Stack or Modules, this copies them into Sources again.
void CopyRowsIntoSources(TSampleReport& sample);

// The text of sample report `number` (in its message and address); the
// same text for the same number.
std::string SampleReportText(int number, const crashreport::TTavrelModuleOptions& options);

std::vector<std::string> SplitCRLF(const std::string& text);

} // namespace reporttest
