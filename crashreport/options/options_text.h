#pragma once
// The readable options text: the options file the build takes, and the
// text tavrellog::SetOptions applies while a program runs. One
// "Name = value" line per option, using the option and member names of the
// options record:
//
//   # comment
//   MailMethod = mmSmtpClient
//   SmtpServer = 127.0.0.1
//   LogFlags = lgModulesSection, lgCpuSection
//   ReportItems = 0, 1, 2, 9
//   FilterClassNames = EAbort            (each line adds one entry)
//   Texts[3] = An error occurred.\r\nPlease read on.
//
// Values are taken verbatim after the "=" (trimmed); "\r", "\n", "\t" and
// "\\" are escapes. Unknown names and bad values raise rtl::Exception with
// the file's line number.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crashreport/options/module_options.h"

namespace crashreport {

struct TOptionsText {
    // Texts given in the file, by index; the others keep their defaults.
    std::array<std::optional<std::string>, CustomizedTextCount> Texts;
};

// Applies the lines of `text` to `options`. `source` names the file in errors.
TOptionsText ApplyOptionsText(const std::string& text, const std::string& source,
                              TTavrelModuleOptions& options);

// The options' stream form of format version `version` (400 to 515), with
// the file's texts in place of the record's.
std::vector<std::uint8_t> WriteOptionsForm(const TTavrelModuleOptions& options, const TOptionsText& texts,
                                           std::uint16_t version);

} // namespace crashreport
