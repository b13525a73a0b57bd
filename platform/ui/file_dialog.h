#pragma once
// The open and save file dialogs: a path edit, the entries of the current
// folder (sub-folders, then the files the selected filter lets through), a
// filter switch, OK and Cancel. Typing a folder name and pressing Enter opens
// that folder; a name without extension gets the default extension.
#include <string>
#include <vector>

#include "platform/ui/button.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/edit.h"
#include "platform/ui/form.h"
#include "platform/ui/list_box.h"

namespace ui {

struct FileFilter {
    std::string description;
    std::vector<std::string> patterns; // shell patterns, "*.vek"
};
// "Vek files(*.vek)|*.vek|All|*" -> two filters; an empty text gives none.
std::vector<FileFilter> ParseFileFilter(const std::string& filter);
bool MatchesFilter(const FileFilter& filter, const std::string& name);

class FileDialogForm : public Form {
public:
    enum class Kind { fdOpen, fdSave };
    FileDialogForm(const FileDialogRequest& request, Kind kind);

    const std::string& Folder() const { return folder_; }
    void OpenFolder(const std::string& folder);
    // OK pressed: checks the name as the request asks; true when the
    // dialog may close with Path().
    bool Accept();
    const std::string& Path() const { return path_; }

    Edit* PathEdit;
    ListBox* Entries;
    StaticText* FolderLabel;
    Button* FilterButton;
    Button* OkButton;
    Button* CancelButton;

private:
    void Refill();
    void EntryActivated();
    FileDialogRequest request_;
    Kind kind_;
    std::vector<FileFilter> filters_;
    size_t filterIndex_ = 0;
    std::string folder_;
    std::string path_;
    std::vector<bool> entryIsFolder_;
};

// Runs the dialog modally; true and the chosen path when confirmed.
bool RunFileDialog(const FileDialogRequest& request, FileDialogForm::Kind kind, std::string& path);

// Runs for every file dialog when set, before its modal loop (tests).
extern std::function<void(FileDialogForm&)> OnFileDialogShown;

} // namespace ui
