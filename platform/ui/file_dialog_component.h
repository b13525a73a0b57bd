#pragma once
// The framework's non-visual file-dialog components: settings kept between
// uses, and Execute, which shows the dialog through the current dialog
// provider.
#include <string>

#include "platform/rtl/component.h"
#include "platform/ui/dialogs.h"

namespace ui {

class TOpenDialog : public rtl::TComponent {
public:
    explicit TOpenDialog(rtl::TComponent* owner = nullptr) : TComponent(owner) {}
    std::string Filter;
    std::string DefaultExt;
    std::string InitialDir;
    std::string FileName;
    std::string Title;
    unsigned Options = ofHideReadOnly;
    Window* OwnerWindow = nullptr;
    // True and FileName set when the user confirms.
    virtual bool Execute() { return OpenFileDialog(Request(), FileName); }

protected:
    FileDialogRequest Request() const
    {
        FileDialogRequest r;
        r.title = Title;
        r.filter = Filter;
        r.defaultExt = DefaultExt;
        r.initialDir = InitialDir;
        r.fileName = FileName;
        r.options = Options;
        r.owner = OwnerWindow;
        return r;
    }
};

class TSaveDialog : public TOpenDialog {
public:
    using TOpenDialog::TOpenDialog;
    bool Execute() override { return SaveFileDialog(Request(), FileName); }
};

} // namespace ui
