#pragma once
// The record of the exception being reported, handed to the exported event
// functions of every module, and the reporter's warning codes.
#include <cstdint>

namespace crashreport {

struct TTavrelExceptionRecord {
    void* ExceptionObject = nullptr;
    void* ExceptionAddress = nullptr;
    std::int32_t ThreadID = 0;
    const char* Text = nullptr;      // the message; owned by whoever made the record
    std::uint32_t EventData[3] = {}; // belong to the event layer
};

enum TTavrelLogErrorCode : std::int32_t {
    eeNone,
    eeShowError,
    eeLogError,
    eeEmailMAPIError,
    eeEmailShellError,
    eeEmailSMTPError,
    eeWebHTTPError,
    eeWebHTTPSError,
    eeWebFTPError,
};

// A short string: a length byte and up to 255 characters.
struct TShortString {
    std::uint8_t Length = 0;
    char Chars[255] = {};
};

} // namespace crashreport
