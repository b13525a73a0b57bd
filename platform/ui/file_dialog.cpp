#include "platform/ui/file_dialog.h"

#include <cstring>

#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/ui/message_box.h"

namespace fs = std::filesystem;

namespace ui {

std::function<void(FileDialogForm&)> OnFileDialogShown;

std::vector<FileFilter> ParseFileFilter(const std::string& filter)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= filter.size() && !filter.empty()) {
        size_t bar = filter.find('|', start);
        parts.push_back(filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    std::vector<FileFilter> out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        FileFilter f{parts[i], {}};
        size_t s = 0;
        const std::string& p = parts[i + 1];
        while (s <= p.size()) {
            size_t semi = p.find(';', s);
            std::string one = p.substr(s, semi == std::string::npos ? std::string::npos : semi - s);
            if (!one.empty()) f.patterns.push_back(one);
            if (semi == std::string::npos) break;
            s = semi + 1;
        }
        out.push_back(std::move(f));
    }
    return out;
}

bool MatchesFilter(const FileFilter& filter, const std::string& name)
{
    for (const std::string& p : filter.patterns) {
        // "*.*" means every file, as on the original platform.
        if (p == "*.*" || fnmatch(p.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
    }
    return filter.patterns.empty();
}

namespace {
std::string StartFolder(const FileDialogRequest& r)
{
    std::error_code ec;
    if (!r.initialDir.empty() && fs::is_directory(r.initialDir, ec))
        return fs::absolute(r.initialDir, ec).lexically_normal().string();
    if (!r.fileName.empty()) {
        fs::path p = fs::absolute(r.fileName, ec).parent_path();
        if (fs::is_directory(p, ec)) return p.lexically_normal().string();
    }
    return fs::current_path(ec).string();
}
} // namespace

FileDialogForm::FileDialogForm(const FileDialogRequest& request, Kind kind)
    : request_(request), kind_(kind), filters_(ParseFileFilter(request.filter))
{
    Owner = dynamic_cast<Form*>(request.owner);
    if (!Owner) Owner = ActiveForm();
    Border = BorderStyle::bsDialog;
    Position = FormPosition::poOwnerCenter;
    SetCaption(!request.title.empty() ? request.title : kind == Kind::fdOpen ? "Open" : "Save As");
    SetBounds(0, 0, 440, 330);

    FolderLabel = Add<StaticText>();
    FolderLabel->WordWrap = false;
    FolderLabel->SetBounds(10, 10, 420, 16);
    Entries = Add<ListBox>();
    // Whole rows only: 13 of them and the frame.
    Entries->SetBounds(10, 30, 420, 4 + 13 * Entries->ItemHeight);
    Entries->TabOrder = 1;
    auto* nameLabel = Add<StaticText>("File name:");
    nameLabel->SetBounds(10, 252, 70, 16);
    PathEdit = Add<Edit>();
    PathEdit->SetBounds(82, 248, 348, 21);
    PathEdit->TabOrder = 0;
    PathEdit->SetText(fs::path(request.fileName).filename().string());
    FilterButton = Add<Button>();
    FilterButton->SetBounds(10, 288, 250, 25);
    FilterButton->TabOrder = 2;
    OkButton = Add<Button>(kind == Kind::fdOpen ? "&Open" : "&Save");
    OkButton->SetBounds(270, 288, 75, 25);
    OkButton->Default = true;
    OkButton->TabOrder = 3;
    CancelButton = Add<Button>("Cancel");
    CancelButton->SetBounds(355, 288, 75, 25);
    CancelButton->Cancel = true;
    CancelButton->ModalResult = mrCancel;
    CancelButton->TabOrder = 4;

    // Every dialog can also show all files, so the type button always works.
    const bool hasAll = std::any_of(filters_.begin(), filters_.end(), [](const FileFilter& f) {
        return f.patterns.empty() || std::find(f.patterns.begin(), f.patterns.end(), "*") != f.patterns.end() ||
            std::find(f.patterns.begin(), f.patterns.end(), "*.*") != f.patterns.end();
    });
    if (!hasAll) filters_.push_back(FileFilter{"All files (*)", {"*"}});
    FilterButton->SetText("Type: " + filters_[0].description);
    FilterButton->SetEnabled(filters_.size() > 1);
    FilterButton->OnClick = [this] {
        filterIndex_ = (filterIndex_ + 1) % filters_.size();
        FilterButton->SetText("Type: " + filters_[filterIndex_].description);
        Refill();
    };
    Entries->OnSelect = [this] {
        const int i = Entries->ItemIndex();
        if (i >= 0 && !entryIsFolder_[static_cast<size_t>(i)])
            PathEdit->SetText(Entries->Items[static_cast<size_t>(i)]);
    };
    Entries->OnActivate = [this] { EntryActivated(); };
    OkButton->OnClick = [this] {
        if (Accept()) ModalResult = mrOk;
    };
    OpenFolder(StartFolder(request));
}

void FileDialogForm::OpenFolder(const std::string& folder)
{
    std::error_code ec;
    fs::path p = fs::absolute(folder, ec).lexically_normal();
    std::string s = p.string();
    if (s.size() > 1 && s.back() == '/') s.pop_back();
    folder_ = s;
    FolderLabel->SetText(folder_);
    Refill();
}

void FileDialogForm::Refill()
{
    std::vector<std::string> folders, files;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code ec2;
        if (it->is_directory(ec2))
            folders.push_back(name);
        else if (MatchesFilter(filters_[filterIndex_], name))
            files.push_back(name);
    }
    std::sort(folders.begin(), folders.end());
    std::sort(files.begin(), files.end());
    std::vector<std::string> items;
    entryIsFolder_.clear();
    if (folder_ != "/") {
        items.push_back("..");
        entryIsFolder_.push_back(true);
    }
    for (auto& f : folders) {
        items.push_back(f + "/");
        entryIsFolder_.push_back(true);
    }
    for (auto& f : files) {
        items.push_back(f);
        entryIsFolder_.push_back(false);
    }
    Entries->SetItems(std::move(items));
    Entries->SetItemIndex(-1);
}

void FileDialogForm::EntryActivated()
{
    const int i = Entries->ItemIndex();
    if (i < 0) return;
    const std::string& item = Entries->Items[static_cast<size_t>(i)];
    if (entryIsFolder_[static_cast<size_t>(i)]) {
        OpenFolder(item == ".." ? fs::path(folder_).parent_path().string() : folder_ + "/" + item);
        return;
    }
    PathEdit->SetText(item);
    if (Accept()) ModalResult = mrOk;
}

bool FileDialogForm::Accept()
{
    std::string text = PathEdit->Text();
    if (text.empty()) {
        const int i = Entries->ItemIndex();
        if (i >= 0 && entryIsFolder_[static_cast<size_t>(i)]) EntryActivated();
        return false;
    }
    std::error_code ec;
    fs::path p = text[0] == '/' ? fs::path(text) : fs::path(folder_) / text;
    if (text[0] == '~' && (text.size() == 1 || text[1] == '/'))
        if (const char* home = getenv("HOME")) p = fs::path(home) / text.substr(text.size() > 1 ? 2 : 1);
    p = p.lexically_normal();
    if (fs::is_directory(p, ec)) {
        OpenFolder(p.string());
        PathEdit->SetText("");
        return false;
    }
    std::string ext = request_.defaultExt;
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    if (!ext.empty() && !p.has_extension()) p += "." + ext;
    const std::string path = p.string();
    const fs::path parent = p.parent_path();
    if (!fs::is_directory(parent, ec)) {
        ShowMessageBox(this, path + "\nThe folder does not exist.\nCheck the path and try again.", Caption(),
                       MB_OK | MB_ICONWARNING);
        return false;
    }
    // A file that cannot be written is refused here, where another name
    // can still be chosen, whether the file or its folder is read-only.
    if (kind_ == Kind::fdSave && (request_.options & ofNoReadOnlyReturn) &&
        access(parent.c_str(), W_OK | X_OK) != 0) {
        ShowMessageBox(this,
                       path + "\nThe folder cannot be written (" + std::strerror(errno) +
                           ").\nTry again with a different folder.",
                       Caption(), MB_OK | MB_ICONWARNING);
        return false;
    }
    const bool exists = fs::exists(p, ec);
    // An open dialog hands back only files that are there to open.
    if ((kind_ == Kind::fdOpen || (request_.options & ofFileMustExist)) && !exists) {
        ShowMessageBox(this, path + "\nFile not found.\nCheck the file name and try again.", Caption(),
                       MB_OK | MB_ICONWARNING);
        return false;
    }
    if (kind_ == Kind::fdSave && exists) {
        if ((request_.options & ofNoReadOnlyReturn) && access(path.c_str(), W_OK) != 0) {
            ShowMessageBox(this, path + "\nThis file is set to read-only.\nTry again with a different file name.",
                           Caption(), MB_OK | MB_ICONWARNING);
            return false;
        }
        if ((request_.options & ofOverwritePrompt) &&
            ShowMessageBox(this, path + " already exists.\nDo you want to replace it?", Caption(),
                           MB_YESNO | MB_ICONWARNING) != mrYes)
            return false;
    }
    path_ = path;
    return true;
}

bool RunFileDialog(const FileDialogRequest& request, FileDialogForm::Kind kind, std::string& path)
{
    FileDialogForm dialog(request, kind);
    if (OnFileDialogShown) OnFileDialogShown(dialog);
    if (dialog.ShowModal() != mrOk) return false;
    path = dialog.Path();
    return true;
}

} // namespace ui
