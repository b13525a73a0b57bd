#pragma once
// The one error of writing a video file: what failed in words, the system's
// error number (0 when the system reported none, e.g. a compressor that
// failed) and the file it concerns. The message ends with the system's
// reason in words, saying plainly when the disk is full or a size limit
// was reached.
#include <string>

#include "platform/rtl/exception.h"

namespace avifile {

class EFileError : public rtl::Exception {
public:
    // The message is what, followed by the reason for error (if any).
    EFileError(const std::string& what, int error, std::string fileName);
    // The same failure told in other words (the caller's own message).
    EFileError Retold(const std::string& what) const { return EFileError(what, error_, fileName_); }
    // what, then the file's name and the system's text: a failure to create
    // or rename, where the name tells which of the two files it was.
    static EFileError NamingFile(const std::string& what, int error, const std::string& fileName);

    int Errno() const { return error_; }
    const std::string& FileName() const { return fileName_; }

private:
    EFileError(std::string message, int error, std::string fileName, bool);
    int error_;
    std::string fileName_;
};

// The system's error text for a failed write, saying plainly when the disk
// is full or a size limit was reached. Empty for 0.
std::string WriteErrorText(int error);

// what, then the reason when one is given: "Add Frame Error. The disk is
// full (No space left on device)."
std::string WithReason(const std::string& what, const std::string& reason);

} // namespace avifile
