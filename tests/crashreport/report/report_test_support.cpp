#include "tests/crashreport/report/report_test_support.h"

#include <cstring>

#include "platform/rtl/format.h"

namespace reporttest {

using namespace crashreport;

std::unique_ptr<TSampleReport> MakeSample(const std::string& message)
{
    auto sample = std::make_unique<TSampleReport>();
    const char* names[] = {"vek2avi", "libstdc++.so.6", "libc.so.6"};
    const char* descriptions[] = {"Vek to avi Converter", "", ""};
    const char* versions[] = {"1.2.0.7", "6.0.30.0", "0.0.0.0"};
    const char* folders[] = {"/opt/vek/", "/usr/lib/x86_64-linux-gnu/", "/usr/lib/x86_64-linux-gnu/"};
    for (int i = 0; i < 3; ++i) {
        auto m = std::make_unique<TTavrelModuleInfo>();
        m->Handle = 0x55d0c0000000ull + 0x1000000ull * i;
        m->FileName = std::string(folders[i]) + names[i];
        m->Description = descriptions[i];
        m->Version = versions[i];
        m->FileSize = 123456u * (i + 1);
        m->LastModified = 46000.5 + i; // 2025-12-09 12:00:00 and on
        sample->Modules.push_back(std::move(m));
    }
    sample->Stack = std::make_unique<TTavrelStackList>();
    struct TFrame {
        std::uintptr_t Address;
        int Thread;
        int Running;
        int Module;
        const char *Unit, *Class, *Proc;
        int Line, Offset;
        std::uint8_t Detail;
    } frames[] = {
        {0x55d0c0001234, 4242, 1, 0, "converter.cpp", "TConverter", "ReadFrame(int)", 118, 3, dkDebugLine},
        {0x55d0c0002000, 4242, 1, 0, "converter.cpp", "TConverter", "Run()", 90, 12, dkDebugLine},
        {0x55d0c1003000, 4242, 1, 1, "std", "", "terminate()", 0, 0, dkDecoratedName},
        {0x55d0c0003000, 4200, 1, 0, "main.cpp", "", "main", 31, 5, dkDebugLine},
        {0x55d0c0003100, 4200, 1, 2, "", "", "", 0, 0, dkModuleOnly},
        {0x55d0c0003200, 4200, 1, 0, "app.cpp", "TApplication", "Run()", 54, 2, dkDebugLine},
    };
    for (const TFrame& f : frames) {
        auto e = std::make_unique<TTavrelDebugInfo>();
        e->Addr = reinterpret_cast<void*>(f.Address);
        e->ThreadID = f.Thread;
        e->RunningThread = static_cast<std::uint8_t>(f.Running);
        e->ModuleInfo = sample->Modules[static_cast<std::size_t>(f.Module)].get();
        e->UnitName = f.Unit;
        e->ClassName = f.Class;
        e->ProcedureName = f.Proc;
        e->Line = f.Line;
        e->ProcOffsetLine = f.Offset;
        e->DebugDetail = f.Detail;
        sample->Stack->Add(std::move(e));
    }
    CopyRowsIntoSources(*sample);
    sample->Sources.Threads[4242] = {"0", "TConvertThread", false};
    sample->Sources.Threads[4200] = {"0", "", true};

    auto& items = sample->Sources.Items;
    items[riStartDate] = "Tue, 8 Dec 2026 07:00:00 +0000";
    items[riNameDescription] = "Vek to avi Converter";
    items[riVersionNumber] = "1.2.0.7";
    items[riParameters] = "\"/tmp/in.vek\"";
    items[riCompilationDate] = "Mon, 7 Dec 2026 18:00:00 +0000";
    items[riExceptionDate] = "Tue, 8 Dec 2026 07:05:31 +0000";
    items[riExceptionAddress] = "000055D0C0001234";
    items[riExceptionModule] = "vek2avi";
    items[riExceptionType] = "EListError";
    items[riExceptionMessage] = message;
    items[riFormClass] = "TMainForm";
    items[riFormText] = "Vek to avi Converter";
    items[riControlClass] = "TButton";
    items[riControlText] = "Start";
    items[riComputerName] = "builder";
    items[riUser] = "vek";
    items[riTotalMemory] = "7953 Mb";
    items[riFreeMemory] = "5120 Mb";
    items[riTotalDisk] = "58.84 Gb";
    items[riFreeDisk] = "21.5 Gb";
    items[riUpTime] = "2 hours, 3 minutes, 4 seconds";
    items[riProcessor] = "Intel(R) Xeon(R) CPU @ 2.20GHz";
    items[riDisplayMode] = "1920 x 1080, 24 bit";
    items[riOSType] = "Debian GNU/Linux 12 (bookworm)";
    items[riOSBuild] = "6.1.0-18-amd64";
    items[riOSUpdate] = "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1";
    items[riOSLanguage] = "English";
    items[riIPAddress] = "192.168.001.020";
    items[riSubmask] = "255.255.255.000";
    items[riGateway] = "192.168.001.001";
    items[riDNS1] = "192.168.001.001";
    items[riDNS2] = "";
    items[riDHCP] = "ON";

    kernel::TThreadContext c{};
    c.Rax = 0x1111111111111111ull;
    c.Rbx = 0x2222;
    c.Rcx = 0x3333;
    c.Rdx = 0x4444;
    c.Rsi = 0x5555;
    c.Rdi = 0x6666;
    c.Rbp = 0x7777;
    c.R8 = 8, c.R9 = 9, c.R10 = 10, c.R11 = 11, c.R12 = 12, c.R13 = 13, c.R14 = 14, c.R15 = 15;
    sample->Memory.reset(new unsigned char[512]);
    for (int i = 0; i < 512; ++i) sample->Memory[i] = static_cast<unsigned char>(i * 7);
    std::memcpy(sample->Memory.get() + 256, "<b>&\"'{\\par}", 12);
    c.Rsp = reinterpret_cast<std::uintptr_t>(sample->Memory.get());
    c.Rip = reinterpret_cast<std::uintptr_t>(sample->Memory.get() + 256);
    sample->Sources.Context = c;
    sample->Sources.StackPointer = c.Rsp;
    sample->Sources.ExceptionAddress = c.Rip;
    return sample;
}

void AddInlinedRows(TSampleReport& sample)
{
    const TTavrelDebugInfo& outer = *sample.Stack->Item(0);
    auto row = [&](const char* unit, const char* cls, const char* proc, int line, int offset) {
        auto e = std::make_unique<TTavrelDebugInfo>();
        e->Addr = outer.Addr;
        e->ThreadID = outer.ThreadID;
        e->RunningThread = outer.RunningThread;
        e->ModuleInfo = outer.ModuleInfo;
        e->DebugDetail = outer.DebugDetail;
        e->UnitName = unit;
        e->ClassName = cls;
        e->ProcedureName = proc;
        e->Line = line;
        e->ProcOffsetLine = offset;
        e->Inlined = 1;
        return e;
    };
    auto& items = sample.Stack->Items();
    items.insert(items.begin(), row("frame_file.cpp", "TFrameFile", "Load()", 77, 4));
    items.insert(items.begin(), row("frame_file.h", "TFrameFile", "Decode(int)", 40, 2));
    CopyRowsIntoSources(sample);
}

void CopyRowsIntoSources(TSampleReport& sample)
{
    sample.Sources.Modules.clear();
    for (const auto& m : sample.Modules) sample.Sources.Modules.push_back(ReportModuleRowOf(*m));
    sample.Sources.CallStack.emplace();
    for (const auto& entry : sample.Stack->Items()) sample.Sources.CallStack->push_back(ReportStackRowOf(*entry));
}

std::string SampleReportText(int number, const TTavrelModuleOptions& options)
{
    auto sample = MakeSample(rtl::Format("Report number %d.", number));
    sample->Sources.Items[riExceptionAddress] = rtl::Format("%016X", number);
    // The same text every time: fixed registers and no dump of live memory.
    sample->Sources.Context->Rsp = 0x7FFC1E2D3000;
    sample->Sources.Context->Rip = 0x55D0C0001234;
    sample->Sources.StackPointer = 0;
    return BuildReportText(sample->Sources, options).Text;
}

std::vector<std::string> SplitCRLF(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

} // namespace reporttest
