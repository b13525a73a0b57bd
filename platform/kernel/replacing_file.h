#pragma once
// A file written under a temporary name next to its destination and renamed
// over it only when complete, so no partial file ever appears under the
// destination's name and an existing file survives every failure. The
// temporary file is created once (O_EXCL) and written through the
// descriptor held here until the rename; unless committed, it is removed
// when its owner goes, but only while the name still leads to the file
// created here.
#include <sys/types.h>

#include <string>

#include "platform/kernel/unique_fd.h"

namespace kernel {

class TReplacingFile {
public:
    TReplacingFile() = default;
    ~TReplacingFile() { Discard(); }
    TReplacingFile(const TReplacingFile&) = delete;
    TReplacingFile& operator=(const TReplacingFile&) = delete;

    // Creates "NAME.xxxxxx.part" in the destination's folder, write-only,
    // with the given creation mode (less the umask). Returns 0 or the errno
    // of the failure (ENAMETOOLONG also for a destination name the folder
    // could not hold next to the tag).
    int Create(const std::string& destination, mode_t mode);
    bool Active() const { return !temporary_.empty(); }
    int Fd() const { return fd_.Get(); }
    const std::string& TemporaryPath() const { return temporary_; }
    const std::string& Destination() const { return destination_; }

    // Closes the descriptor (a failing close means lost data) and renames
    // the temporary file over the destination. Returns 0 or the errno; the
    // temporary file is removed on failure.
    int Commit();
    // Closes the descriptor and removes the temporary file.
    void Discard();

private:
    TUniqueFd fd_;
    std::string destination_;
    std::string temporary_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

} // namespace kernel
