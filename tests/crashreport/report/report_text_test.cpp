// The report text: the general part's numbering and alignment, the call
// stack, modules and CPU tables, and the exception fields.
#include <gtest/gtest.h>

#include "crashreport/report/captured_report.h"
#include "crashreport/report/log_file.h"
#include "crashreport/report/report_text.h"
#include "platform/rtl/external_exception.h"
#include "tests/crashreport/report/report_test_support.h"
#include "tests/support/faults.h"
#include "platform/rtl/strings.h"

namespace {

using namespace crashreport;
using reporttest::SplitCRLF;
using testing_support::Contains;

TEST(LogItem, HiddenItemsKeepTheirNumbersEmptySectionsVanishAndValuesAlign)
{
    TLogItem item;
    item.AddHeader("Application");
    item.AddItem("Start Date", "x", false);
    item.AddItem("Name", "Vek", true);
    item.AddItem("Parameters", "a\r\n\r\nb: c", true);
    item.AddHeader("Empty");
    item.AddItem("A", "1", false);
    item.AddHeader("Exception");
    item.AddItem("Type", "E", true);
    const std::string pad(17, ' ');
    EXPECT_EQ(item.Render(),
              "Application:\r\n" + std::string(22, '-') + "\r\n  1.2 Name      : Vek\r\n  1.3 Parameters: a\r\n" + pad +
                  " .\r\n" + pad + " b:_c\r\n\r\nException:\r\n-------------\r\n  3.1 Type: E\r\n");
}

TEST(LogItem, AllSectionsHiddenLeavesNothing)
{
    TLogItem item;
    item.AddHeader("One");
    item.AddItem("A", "1", false);
    item.AddHeader("Two");
    EXPECT_EQ(item.Render(), "");
}

TEST(ReportText, GeneralPartNumbersHiddenItemsAndDropsHiddenSections)
{
    auto sample = reporttest::MakeSample();
    TTavrelModuleOptions options("", false);
    TReportItems items = TReportItems::All();
    items.Exclude(riStartDate);
    for (unsigned i = riIPAddress; i <= riDHCP; ++i) items.Exclude(i);
    options.SetReportItems(items);
    const std::string general = BuildGeneralPart(sample->Sources, options);
    EXPECT_FALSE(Contains(general, "1.1 ")) << general;
    EXPECT_TRUE(Contains(general, "  1.2 Name/Description")) << general;
    EXPECT_FALSE(Contains(general, "Network")) << general;
    // The last visible section ends the part without a blank line.
    EXPECT_EQ(general.substr(general.size() - 4), "sh\r\n") << general;
}

TEST(ReportText, SectionsComeInOrderWithTheirLabelsAndTablesKeepTheirWidth)
{
    auto sample = reporttest::MakeSample();
    TTavrelModuleOptions options("", false);
    options.SetStackFlags({stDllFrames, stPackageFrames, stLineOffsets});
    const TErrorReport report = BuildReportText(sample->Sources, options);
    const std::string& text = report.Text;
    ASSERT_EQ(text.rfind("TavrelLog 5.1.5\r\n\r\nApplication:\r\n", 0), 0u) << text;
    const char* order[] = {"Application:",      "Exception:", "Active Controls:",        "Computer:",
                           "Operating System:", "Network:",   "Call Stack Information:", "Modules Information:",
                           "Registers:"};
    std::size_t at = 0;
    for (const char* title : order) {
        const std::size_t found = text.find(std::string("\r\n") + title + "\r\n", at);
        ASSERT_NE(found, std::string::npos) << title << "\n" << text;
        at = found + 1;
    }
    EXPECT_TRUE(Contains(text, "  2.5 Message: List index out of bounds (5).\r\n")) << text;
    EXPECT_TRUE(Contains(text, "  6.5 DNS 2     : \r\n")) << text;
    // No bare line feed and no lone carriage return anywhere.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << i;
        }
        if (text[i] == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << i;
        }
    }
    // Every row of the call-stack table is as long as its separator.
    const std::string stack = text.substr(text.find("Call Stack Information:"));
    const auto lines = SplitCRLF(stack);
    const std::size_t width = lines[1].size();
    for (std::size_t i = 1; i < lines.size() && !lines[i].empty(); ++i) EXPECT_EQ(lines[i].size(), width) << lines[i];
    EXPECT_TRUE(Contains(stack, "| Exception Thread: ID=4242; Priority=0; Class=TConvertThread ")) << stack;
    EXPECT_TRUE(Contains(stack, "| Running Thread: ID=4200; Priority=0; Class=; [Main] ")) << stack;
    // The running thread's group follows a separator row and an empty row.
    const std::size_t running = stack.find("| Running Thread");
    const std::string before = stack.substr(0, running);
    EXPECT_TRUE(Contains(before, "|" + std::string(width - 2, '-') + "|\r\n|" + std::string(width - 2, ' ') + "|\r\n"))
        << stack;
    // Lines with their offsets; line 0 stays empty; module-only frames are not shown.
    EXPECT_TRUE(Contains(stack, "|118[3]")) << stack;
    EXPECT_TRUE(Contains(stack, "|000055D0C1003000|libstdc++.so.6|std ")) << stack;
    EXPECT_FALSE(Contains(stack, "0[0]")) << stack;
    EXPECT_FALSE(Contains(stack, "000055D0C0003100")) << stack;
    // Modules: handles padded, "0.0.0.0" shown empty, date and folder.
    EXPECT_TRUE(Contains(text, "|000055D0C2000000|libc.so.6     |                    |        |370368|")) << text;
    EXPECT_TRUE(Contains(text, "|2025-12-09 12:00:00|/opt/vek/")) << text;
    EXPECT_EQ(report.LastMessage, "List index out of bounds (5).");
    EXPECT_EQ(report.GeneralPart.rfind("TavrelLog 5.1.5\r\n\r\n", 0), 0u);
    EXPECT_EQ(report.CPUPart.rfind("Registers:\r\n", 0), 0u);
}

TEST(ReportText, OffsetsOnlyWhenAskedAndOnlyDebugLinesWithoutTheFrameOptions)
{
    auto sample = reporttest::MakeSample();
    TTavrelModuleOptions options("", false);
    options.SetStackFlags({});
    const std::string stack = BuildCallStackSection(sample->Sources, options);
    EXPECT_TRUE(Contains(stack, "|118 |")) << stack;
    EXPECT_FALSE(Contains(stack, "terminate")) << stack;
}

// Inlined code: a row per inlined call before the function that holds the
// code, all at one address, each with its own unit, procedure and line; the
// inlined rows are marked, and the log file reads the table as before.
TEST(ReportText, InlinedRowsComeBeforeTheirFunctionMarked)
{
    auto sample = reporttest::MakeSample();
    reporttest::AddInlinedRows(*sample);
    TTavrelModuleOptions options("", false);
    options.SetStackFlags({stLineOffsets});
    const TErrorReport report = BuildReportText(sample->Sources, options);
    const std::string stack = BuildCallStackSection(sample->Sources, options);
    const auto lines = SplitCRLF(stack);
    std::vector<std::string> rows;
    for (const auto& line : lines)
        if (Contains(line, "|000055D0C0001234|")) rows.push_back(line);
    ASSERT_EQ(rows.size(), 3u) << stack;
    auto cells = [](const std::string& row) {
        std::vector<std::string> out;
        for (std::size_t at = 1, bar; (bar = row.find('|', at)) != std::string::npos; at = bar + 1) {
            std::string cell = row.substr(at, bar - at);
            while (!cell.empty() && cell.back() == ' ') cell.pop_back();
            out.push_back(cell);
        }
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(cells(rows[0]),
              (V{"000055D0C0001234", "vek2avi", "frame_file.h", "TFrameFile", "Decode(int) [inlined]", "40[2]"}));
    EXPECT_EQ(cells(rows[1]),
              (V{"000055D0C0001234", "vek2avi", "frame_file.cpp", "TFrameFile", "Load() [inlined]", "77[4]"}));
    EXPECT_EQ(cells(rows[2]),
              (V{"000055D0C0001234", "vek2avi", "converter.cpp", "TConverter", "ReadFrame(int)", "118[3]"}));
    for (std::size_t i = 1; i < lines.size() && !lines[i].empty(); ++i)
        EXPECT_EQ(lines[i].size(), lines[1].size()) << lines[i];
    // Still one group for the exception thread, opened by the first row.
    EXPECT_EQ(stack.find("Exception Thread"), stack.rfind("Exception Thread")) << stack;
    EXPECT_LT(stack.find("Exception Thread"), stack.find("Decode(int)")) << stack;

    TLogFile log = TLogFile::FromText(report.Text);
    ASSERT_EQ(log.Count(), 1);
    EXPECT_TRUE(Contains(log.GetCallStackPart(0), rows[0])) << log.GetCallStackPart(0);
}

TEST(ReportText, RegistersAndDumpsComeFromTheContextAndTheReadableMemory)
{
    auto sample = reporttest::MakeSample();
    TTavrelModuleOptions options("", false);
    const std::string cpu = BuildCPUSection(sample->Sources, options);
    const auto lines = SplitCRLF(cpu);
    ASSERT_EQ(lines.size(), 13u + 16u) << cpu;
    EXPECT_EQ(lines[2], "RAX: 1111111111111111   RDI: 0000000000006666");
    EXPECT_EQ(lines[4], "RCX: 0000000000003333   RSP: " + HexAddress(sample->Sources.StackPointer));
    EXPECT_EQ(lines[6], "R8 : 0000000000000008   R12: 000000000000000C");
    EXPECT_EQ(lines[9], "R11: 000000000000000B   R15: 000000000000000F");
    EXPECT_EQ(lines[10], "");
    EXPECT_EQ(lines[11], "Stack:                               Memory Dump:");
    EXPECT_EQ(lines[12], std::string(34, '-') + "   " + std::string(83, '-'));
    // Slot 1 holds bytes 8..15 (i * 7) little-endian.
    std::uint64_t slot = 0;
    for (int b = 7; b >= 0; --b) slot = (slot << 8) | static_cast<unsigned char>((8 + b) * 7);
    EXPECT_EQ(lines[14].substr(0, 34), HexAddress(sample->Sources.StackPointer + 8) + ": " + HexAddress(slot));
    EXPECT_EQ(lines[13].substr(55), "3C 62 3E 26 22 27 7B 5C 70 61 72 7D 54 5B 62 69  <b>&\"'{\\par}T[bi");
    EXPECT_EQ(lines.size(), 29u);
}

TEST(ReportText, NoContextGivesPlaceholdersAndUnreadableMemoryNoDump)
{
    auto sample = reporttest::MakeSample();
    sample->Sources.Context.reset();
    sample->Sources.StackPointer = 0x10;
    TTavrelModuleOptions options("", false);
    const auto lines = SplitCRLF(BuildCPUSection(sample->Sources, options));
    const std::string unknown = "????" + std::string(12, ' ');
    EXPECT_EQ(lines[2], "RAX: " + unknown + "   RDI: " + unknown);
    EXPECT_EQ(lines[9], "R11: " + unknown + "   R15: " + unknown);
    EXPECT_EQ(lines.size(), 13u); // titles and dashes, no dump lines
}

TEST(ReportText, SwitchedOffSectionsKeepOnlyTheirTitle)
{
    auto sample = reporttest::MakeSample();
    TTavrelModuleOptions options("", false);
    options.SetLogFlags({});
    EXPECT_EQ(BuildModulesSection(sample->Sources, options), "Modules Information:\r\n--------------------\r\n\r\n");
    EXPECT_EQ(BuildCPUSection(sample->Sources, options), "Registers:\r\n----------\r\n\r\n");
}

TEST(ReportText, CustomDataNeverHoldsTheBlankLinesThatEndAReport)
{
    auto sample = reporttest::MakeSample();
    sample->Sources.CustomData = "first\n\n\n\n\nlast\x01line";
    TTavrelModuleOptions options("", false);
    const std::string text = BuildReportText(sample->Sources, options).Text;
    EXPECT_FALSE(Contains(text, "\r\n\r\n\r\n\r\n")) << text;
    EXPECT_TRUE(
        Contains(text, "Other Information:\r\n------------------\r\nfirst\r\n.\r\n.\r\n.\r\n.\r\nlast line\r\n"))
        << text;
}

TEST(ReportText, CleaningOfTexts)
{
    EXPECT_EQ(rtl::FlattenControlChars("a\r\n\tb\x01"), "a b ");
    EXPECT_EQ(CleanMessage("a\r\n\tb"), "a\r\n b");
    EXPECT_EQ(NormalizeLineEnds("a\nb\rc\r\nd"), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(FormatItemValue("one: 1\r\n  \r\ntwo"), "one:_1\r\n .\r\n two");
}

__attribute__((noinline)) void PlaceInThisProgram() { asm volatile(""); }

TEST(ExceptionFields, AnAccessViolationIsRebuiltWithItsModule)
{
    rtl::TExceptionRecord record;
    record.ExceptionCode = 0xC0000005;
    record.NumberParameters = 2;
    record.ExceptionInformation[1] = 0x28;
    record.ExceptionAddress = reinterpret_cast<void*>(&PlaceInThisProgram);
    TCapturedException captured;
    captured.Address = record.ExceptionAddress;
    // The report names the operation as the exception's own text does.
    for (const auto& [kind, operation] : {std::pair<std::uintptr_t, const char*>{rtl::avRead, "Read"},
                                          {rtl::avWrite, "Write"},
                                          {rtl::avExecute, "Execution"}}) {
        record.ExceptionInformation[0] = kind;
        rtl::EAccessViolation violation(record, "Access violation");
        captured.Exception = ExceptionObjectOf(violation);
        EXPECT_EQ(GetExceptionMessage(captured),
                  "Access violation at address " + HexAddress(reinterpret_cast<std::uintptr_t>(&PlaceInThisProgram)) +
                      " in module 'report_text_test'. " + operation + " of address 0000000000000028.");
    }
    rtl::EAccessViolation violation(record, "Access violation");
    captured.Exception = ExceptionObjectOf(violation);
    EXPECT_EQ(GetExceptionModule(captured.Address), "report_text_test");
    EXPECT_EQ(GetExceptionType(captured), "EAccessViolation");
    EXPECT_EQ(GetExceptionAddress(nullptr), "");

    TCapturedException unknown;
    EXPECT_EQ(GetExceptionType(unknown), "Unknown exception type.");
    EXPECT_EQ(GetExceptionMessage(unknown), "Unknown error message.");
}

} // namespace
