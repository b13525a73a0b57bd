#pragma once
// The exception dialog's state file "TavrelLog.ini": the detailed window's
// size, position and show state and the list pages' column widths, all in
// section "Coordinates" as decimal integers. It lives in $XDG_CONFIG_HOME
// (default ~/.config); when that place cannot be written the log folder
// fallback ($HOME/TavrelLog) is used. A missing, damaged or foreign file
// gives the defaults; a write that cannot be done is skipped; the file is
// replaced in one step, never left half-written. A new file (and a folder
// made for it) is owner-only; a file being replaced keeps its mode.
// Not signal-safe.
#include <map>
#include <optional>
#include <string>

namespace crashreport::ui {

inline constexpr const char* kStateFileName = "TavrelLog.ini";
inline constexpr const char* kStateSection = "Coordinates";

// The state file's full name: $XDG_CONFIG_HOME/TavrelLog.ini, or
// $HOME/.config/TavrelLog.ini.
std::string DefaultStateFilePath();

class TStateFile {
public:
    explicit TStateFile(std::string path = DefaultStateFilePath());

    // The key's value in "Coordinates"; the default when the key is missing
    // or its value is not a decimal integer within the 32-bit range.
    int ReadInteger(const std::string& key, int defaultValue) const;
    std::optional<int> Find(const std::string& key) const;
    // Writes the given keys of "Coordinates", keeping everything else of the
    // file. False when the file could not be written (nothing changed).
    bool WriteIntegers(const std::map<std::string, int>& values);

    const std::string& Path() const { return path_; }

private:
    std::string ReadText() const;
    std::string path_;
};

} // namespace crashreport::ui
