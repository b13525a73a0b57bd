#pragma once
// The text of the last web page the program sent (a CGI program's standard
// output), kept for the report's "LastHTMLPage.html". Filled by the
// standard-output interceptor of a CGI program. Not signal-safe.
#include <cstddef>
#include <string>

namespace crashreport {

// Appends what was written; a new page (a "Status:" or "Content-Type:"
// header at the start of a write) starts the buffer again. The buffer keeps
// at most its last 1 MiB.
void AppendLastPage(const char* data, std::size_t length);
void SetLastPage(const std::string& text);
std::string LastPage();
void ClearLastPage();

} // namespace crashreport
