#include "crashreport/pipeline/report_screenshot.h"

#include "crashreport/codecs/attachment_archive.h"
#include "crashreport/options/module_options.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/pipeline/send_report.h"
#include "platform/kernel/files.h"
#include "platform/kernel/folder_files.h"

namespace crashreport {

TReportScreenshotScope::TReportScreenshotScope(const TTavrelModuleOptions& options)
{
    if (!options.SendFlags().Contains(sfAttachScreenshot)) return;
    path_ = SendFolder() + "Screenshot.png";
    const auto capture = PipelineDesktop().CaptureScreenshot;
    taken_ = capture && capture(options);
}

void TReportScreenshotScope::Save()
{
    if (!taken_ || path_.empty()) return;
    const auto save = PipelineDesktop().SaveScreenshot;
    if (save && save(path_)) fileName_ = path_;
}

void TReportScreenshotScope::Release()
{
    if (!taken_) return;
    taken_ = false;
    if (const auto release = PipelineDesktop().ReleaseScreenshot) release();
}

void TReportScreenshotScope::DeleteFile()
{
    if (!fileName_.empty()) kernel::DeleteFile(fileName_);
    ReleaseSendFolder();
    fileName_.clear();
}

} // namespace crashreport
