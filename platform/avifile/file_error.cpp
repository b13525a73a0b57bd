#include "platform/avifile/file_error.h"

#include <cerrno>
#include <cstring>

namespace avifile {

std::string WriteErrorText(int error)
{
    switch (error) {
    case 0: return {};
    case ENOSPC: return "The disk is full (" + std::string(std::strerror(error)) + ")";
    case EDQUOT: return "The disk quota is used up (" + std::string(std::strerror(error)) + ")";
    case EFBIG: return "The file reached the size limit for files (" + std::string(std::strerror(error)) + ")";
    default: return std::strerror(error);
    }
}

std::string WithReason(const std::string& what, const std::string& reason)
{
    if (reason.empty()) return what;
    const char last = what.empty() ? '.' : what.back();
    const bool ended = last == '.' || last == '?' || last == '!';
    return what + (ended ? " " : ". ") + reason + ".";
}

EFileError::EFileError(const std::string& what, int error, std::string fileName)
    : rtl::Exception(WithReason(what, WriteErrorText(error))), error_(error), fileName_(std::move(fileName))
{
}

EFileError::EFileError(std::string message, int error, std::string fileName, bool)
    : rtl::Exception(std::move(message)), error_(error), fileName_(std::move(fileName))
{
}

EFileError EFileError::NamingFile(const std::string& what, int error, const std::string& fileName)
{
    return EFileError(WithReason(what, "\"" + fileName + "\": " + std::strerror(error)), error, fileName, true);
}

} // namespace avifile
