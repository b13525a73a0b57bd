#include "converter/gui/recorder_dialogs.h"

#include <algorithm>

#include "avi/format_advice.h"
#include "converter/texts.h"
#include "platform/rtl/format.h"
#include "platform/ui/compression_dialog.h"
#include "platform/ui/dialogs.h"

namespace converter::gui {

std::string SuggestedOutputName(const std::string& inputPath)
{
    if (inputPath.empty()) return {};
    const size_t slash = inputPath.rfind('/');
    const size_t dot = inputPath.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? inputPath.substr(0, dot) : inputPath) + ".avi";
}

bool TRecorderDialogs::ChooseOutputPath(std::string& path)
{
    ui::FileDialogRequest request;
    request.options = ui::ofHideReadOnly | ui::ofNoReadOnlyReturn;
    request.defaultExt = "avi";
    request.filter = "AVI Files (*.avi)|*.avi";
    const size_t slash = suggestedName_.rfind('/');
    if (slash != std::string::npos) {
        request.initialDir = slash == 0 ? "/" : suggestedName_.substr(0, slash);
        request.fileName = suggestedName_.substr(slash + 1);
    } else {
        request.fileName = suggestedName_;
    }
    return ui::SaveFileDialog(request, path) && !path.empty();
}

bool TRecorderDialogs::ConfirmOverwrite(const std::string& path)
{
    // In the user's language, and "No" is the default: Enter keeps the file.
    return ui::MessageBox(nullptr, OverwriteQuestion(path, LocaleWantsChinese()), "Confirm",
                          ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON2) == ui::mrYes;
}

bool TRecorderDialogs::ChooseCompression(const avi::TAVICompressionRequest& request,
                                         avifile::AVICOMPRESSOPTIONS& options)
{
    if (remembered_ && (remembered_->dwFlags & avifile::AVICOMPRESSF_VALID)) options = *remembered_;
    // Compressors that cannot take these frames are marked with the reason.
    const auto refuse = [&request](const avifile::CompressorInfo& c) -> std::string {
        if (avi::TakesFrameSize(c, request.width, request.height)) return {};
        if (c.widthMultiple > 1 || c.heightMultiple > 1)
            return rtl::Format("needs multiples of %d x %d", std::max(1, c.widthMultiple), std::max(1, c.heightMultiple));
        return rtl::Format("not for %d x %d", request.width, request.height);
    };
    const bool chosen = ui::RunCompressionDialog(request.dialogFlags, options, refuse);
    if (chosen && remembered_) *remembered_ = options;
    return chosen;
}

} // namespace converter::gui
