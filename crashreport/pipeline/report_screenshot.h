#pragma once
// The screenshot of one report: taken when the options attach one, saved as
// "Screenshot.png" in the temporary folder when the report is sent, and
// released (the file deleted) when the report is done. Without a desktop
// there is no picture and the report goes on without one. Not signal-safe.
#include <string>

namespace crashreport {

class TTavrelModuleOptions;

class TReportScreenshotScope {
public:
    explicit TReportScreenshotScope(const TTavrelModuleOptions& options);
    ~TReportScreenshotScope() { Release(); }
    TReportScreenshotScope(const TReportScreenshotScope&) = delete;
    TReportScreenshotScope& operator=(const TReportScreenshotScope&) = delete;

    bool Taken() const { return taken_; }
    // Writes the file; afterwards FileName names it (empty when none).
    void Save();
    void Release();
    // Removes the saved file (after a delivery on this thread).
    void DeleteFile();
    const std::string& FileName() const { return fileName_; }

private:
    std::string path_;
    std::string fileName_;
    bool taken_ = false;
};

} // namespace crashreport
