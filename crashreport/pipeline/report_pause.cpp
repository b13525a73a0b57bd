#include "crashreport/pipeline/report_pause.h"

#include "crashreport/threads/thread_classification.h"
#include "crashreport/threads/thread_tracking.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/process.h"

#include <string>

namespace crashreport {
namespace {

constexpr int kAttempts = 3;

} // namespace

TSystemLibraryRanges::TSystemLibraryRanges()
{
    for (const auto& image : kernel::EnumerateModules()) {
        const auto slash = image.Path.rfind('/');
        const std::string name = slash == std::string::npos ? image.Path : image.Path.substr(slash + 1);
        if (name.rfind("libc.so", 0) == 0 || name.rfind("ld-linux", 0) == 0 || name.rfind("libpthread", 0) == 0 ||
            name.rfind("linux-vdso", 0) == 0 || name.empty())
            for (const auto& segment : image.Segments) ranges_.emplace_back(segment.Start, segment.End);
    }
}

bool TSystemLibraryRanges::Contains(std::uintptr_t address) const
{
    for (const auto& [start, end] : ranges_)
        if (address >= start && address < end) return true;
    return false;
}

void TReportPause::Pause(const TTavrelThreadsList& threads, TBehaviourFlags behaviourFlags,
                         std::uint32_t faultingThreadId)
{
    const std::uint32_t self = kernel::GetCurrentThreadId();
    const TSystemLibraryRanges system;
    handles_.reserve(static_cast<std::size_t>(threads.Count()));
    ids_.reserve(static_cast<std::size_t>(threads.Count()));
    TBusyReporting busy;
    for (int i = 0; i < threads.Count(); ++i) {
        const TTavrelThreadRecord& r = *threads.Get(i);
        if (r.ThreadID == self || r.ThreadID == faultingThreadId || !PauseThreadDuringReport(r, behaviourFlags))
            continue;
        bool paused = false;
        for (int attempt = 0; attempt < kAttempts && !paused; ++attempt) {
            if (attempt) kernel::Sleep(1);
            if (kernel::SuspendThread(r.Handle) == kernel::kSuspendFailed) break; // ended meanwhile
            kernel::TThreadContext context{};
            if (kernel::GetThreadContext(r.Handle, context) && !system.Contains(kernel::InstructionPointer(context)))
                paused = true;
            else
                kernel::ResumeThread(r.Handle);
        }
        if (!paused) {
            ++leftRunning_;
            continue;
        }
        handles_.push_back(r.Handle);
        ids_.push_back(r.ThreadID);
    }
}

void TReportPause::ResumeAll()
{
    TBusyReporting busy;
    for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) kernel::ResumeThread(*it);
    handles_.clear();
    ids_.clear();
}

} // namespace crashreport
