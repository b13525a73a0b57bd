#pragma once
// The recorder's output file: written under a temporary name in the
// destination's folder and renamed over the destination only once it is
// complete, so an existing file survives every failure and no partial file
// ever appears under the destination's name.
#include <sys/types.h>

#include <string>

namespace avi {

// Why a file at path may not be replaced: "" when nothing is there or it is
// a regular file (also through a symbolic link), else the reason in words
// ("it is a folder", "it is a device", ...).
std::string ReplaceRefusal(const std::string& path);

// The system's error text for a failed write, saying plainly when the disk
// is full or a size limit was reached. Empty for 0.
std::string WriteErrorText(int error);

class TOutputFile {
public:
    TOutputFile() = default;
    ~TOutputFile() { Discard(); }
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // Creates a new, empty temporary file next to destination. Returns 0 or
    // the errno of the failure (ENAMETOOLONG also for a destination name
    // that the folder could not hold).
    int Create(const std::string& destination);
    bool Active() const { return !temporary_.empty(); }
    const std::string& TemporaryPath() const { return temporary_; }
    const std::string& Destination() const { return destination_; }

    // Renames the temporary file over the destination. Returns 0 or the
    // errno; the temporary file is removed either way.
    int Commit();
    // Removes the temporary file if it is still the one created here.
    void Discard();

private:
    std::string destination_;
    std::string temporary_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

} // namespace avi
