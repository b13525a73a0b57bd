#pragma once
// The Windows Internet error codes and texts that the web uploads report,
// and the mapping of libcurl's error codes onto them.
#include <string>

namespace net {

// The table row of a code: "12002 The request has timed out."; empty for a
// code not in the table.
std::string WinInetErrorRow(int code);

// The Windows Internet code that stands for a libcurl error code.
int WinInetCodeForCurlError(int curlCode);

} // namespace net
