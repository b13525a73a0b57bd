#pragma once
// The report's screenshot: taken early in a report, before any dialog of the
// reporter covers the screen, and kept in memory; written as the 8-bit PNG
// "Screenshot.png" in the temporary folder only when the report is sent
// with sfAttachScreenshot. The window with the keyboard focus is outlined in
// red and the mouse cursor is drawn in. None of this is signal-safe.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/screen_picture.h"

namespace crashreport {
class TTavrelModuleOptions;
}

namespace crashreport::screenshot {

inline constexpr char kScreenshotFileName[] = "Screenshot.png";

// Two one-pixel frames in pure red around the focused window, the second
// one pixel inside the first; the parts outside the picture are left out.
void OutlineFocusWindow(ui::TScreenPicture& picture);
// The cursor image, alpha-blended with its hot spot on the pointer.
void DrawCursor(ui::TScreenPicture& picture);

// The picture reduced to 256 colours and encoded as an 8-bit PNG; empty for
// an empty picture.
std::vector<std::uint8_t> EncodeScreenshotPng(const ui::TScreenPicture& picture);

// One picture, from capture until release.
class TScreenshot {
public:
    // Takes the picture (the foreground window only with
    // sfScreenshotForegroundOnly in the options' SendFlags), outlines the
    // focus window and draws the cursor. False ("no picture") without a
    // display; the report goes on without one.
    bool Capture(bool foregroundOnly);
    bool Capture(const TTavrelModuleOptions& options);
    // Uses a picture taken elsewhere (as Capture would keep it).
    void Assign(ui::TScreenPicture picture);
    bool HasPicture() const { return hasPicture_; }
    const ui::TScreenPicture& Picture() const { return picture_; }
    // Encodes and writes the picture; nothing for an empty name or without
    // a picture. A write failure is swallowed (false): the file is missing.
    bool Save(const std::string& fileName) const;
    void Release();

private:
    ui::TScreenPicture picture_;
    bool hasPicture_ = false;
};

// The process-wide screenshot of the running report, under its own lock.
// Capture uses the given options, or the reporter's current ones when null.
bool CaptureReportScreenshot(const TTavrelModuleOptions* options);
bool SaveReportScreenshot(const std::string& fileName);
void ReleaseReportScreenshot();
bool ReportScreenshotTaken();

// The temporary folder followed by "Screenshot.png" when the options'
// SendFlags hold sfAttachScreenshot; else empty.
std::string ScreenshotFileName(const TTavrelModuleOptions& options);

} // namespace crashreport::screenshot
