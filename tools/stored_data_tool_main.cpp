// tavrel-stored-data: writes the crash reporter's stored data into a linked
// module (see docs/stored-data.md).
//
//   tavrel-stored-data write MODULE [--options FILE] [--password TEXT]
//       [--format-version N] [--file-end] [--version A.B.C.D] [--description TEXT]
//       [--build-time DAYS] [--symbol ID=NAME] [--objcopy PATH] [--stats]
//       [--no-debug-data]
//   tavrel-stored-data dump MODULE     (units and their names, for checking)
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <iostream>
#include <sstream>
#include <string>

#include "crashreport/codecs/day_count.h"
#include "crashreport/options/module_options.h"
#include "platform/rtl/exception.h"
#include "tools/code_map.h"
#include "tools/debug_data_encoder.h"
#include "tools/elf_symbols.h"
#include "tools/module_sections.h"
#include "crashreport/options/options_text.h"
#include "tools/stored_data_block.h"

namespace {

namespace st = crashreport::stored;

struct TArguments {
    std::string Command, Module, OptionsFile, Password, Description, Objcopy = "objcopy";
    std::uint16_t FormatVersion = st::kCurrentVersion;
    bool FileEnd = false, Stats = false, NoDebugData = false;
    st::TVersionNumbers Version;
    double BuildTime = -1;
    std::map<std::string, std::uint8_t> Symbols; // extra symbol table entries
};

[[noreturn]] void Usage()
{
    std::cerr << "usage: tavrel-stored-data write MODULE [--options FILE] [--password TEXT]\n"
                 "           [--format-version N] [--file-end] [--version A.B.C.D] [--description TEXT]\n"
                 "           [--build-time DAYS] [--symbol ID=NAME] [--objcopy PATH] [--stats]\n"
                 "           [--no-debug-data]\n";
    std::exit(2);
}

st::TVersionNumbers ParseVersion(const std::string& text)
{
    st::TVersionNumbers v;
    unsigned a = 0, b = 0, c = 0, d = 0;
    char tail = 0;
    const int n = std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail);
    if (n < 1 || n > 4 || a > 65535 || b > 65535 || c > 65535 || d > 65535)
        throw rtl::Exception("\"" + text + "\" is not a version of up to four numbers.");
    v.Major = std::uint16_t(a);
    v.Minor = std::uint16_t(b);
    v.Release = std::uint16_t(c);
    v.Build = std::uint16_t(d);
    return v;
}

TArguments Parse(int argc, char** argv)
{
    TArguments a;
    if (argc < 3) Usage();
    a.Command = argv[1];
    a.Module = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage();
            return argv[++i];
        };
        if (arg == "--options")
            a.OptionsFile = value();
        else if (arg == "--password")
            a.Password = value();
        else if (arg == "--format-version")
            a.FormatVersion = std::uint16_t(std::stoul(value()));
        else if (arg == "--file-end")
            a.FileEnd = true;
        else if (arg == "--version")
            a.Version = ParseVersion(value());
        else if (arg == "--description")
            a.Description = value();
        else if (arg == "--build-time")
            a.BuildTime = std::stod(value());
        else if (arg == "--objcopy")
            a.Objcopy = value();
        else if (arg == "--symbol") {
            const std::string v = value();
            const auto eq = v.find('=');
            if (eq == std::string::npos) Usage();
            const unsigned long id = std::stoul(v.substr(0, eq));
            if (id == 0 || id > 255) throw rtl::Exception("A symbol identifier is from 1 to 255.");
            a.Symbols[v.substr(eq + 1)] = std::uint8_t(id);
        } else if (arg == "--stats")
            a.Stats = true;
        else if (arg == "--no-debug-data")
            a.NoDebugData = true;
        else
            Usage();
    }
    if (a.FormatVersion < 400 || a.FormatVersion > st::kCurrentVersion)
        throw rtl::Exception("The format version must be from 400 to " + std::to_string(st::kCurrentVersion) + ".");
    if (a.FileEnd && !a.Password.empty())
        throw rtl::Exception("The file-end form has no protected part: give no password.");
    return a;
}

double BuildTimeNow()
{
    // A reproducible build sets SOURCE_DATE_EPOCH.
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"))
        return crashreport::codecs::UnixMillisecondsToDayCount(std::strtoll(epoch, nullptr, 10) * 1000);
    return crashreport::codecs::UnixMillisecondsToDayCount(std::int64_t(std::time(nullptr)) * 1000);
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw rtl::EFOpenError("Cannot open file \"" + path + "\".");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int Write(const TArguments& a)
{
    tools::TStoredDataParts parts;
    parts.Version = a.FormatVersion;
    parts.BuildTime = a.BuildTime >= 0 ? a.BuildTime : BuildTimeNow();
    parts.Password = a.Password;

    crashreport::TTavrelModuleOptions options(a.Module, false);
    crashreport::TOptionsText texts;
    if (!a.OptionsFile.empty()) texts = crashreport::ApplyOptionsText(ReadText(a.OptionsFile), a.OptionsFile, options);
    parts.Options = crashreport::WriteOptionsForm(options, texts, a.FormatVersion);

    std::uint64_t handleAddress = 0;
    {
        tools::TElfFile file = tools::OpenElfFile(a.Module, true);
        tools::TCodeMap map;
        map.HandleAddress = tools::HandleAddressOf(file);
        if (a.NoDebugData) {
            // Asked for: options and version only; call stacks then name exports only.
        } else {
            // A module without line tables would ship call stacks without a
            // single line: that is refused, not warned about.
            try {
                map = tools::ReadCodeMap(file);
            } catch (const rtl::Exception& e) {
                throw rtl::Exception(a.Module + ": " + e.Message +
                                     " Compile it with line tables (-g), or give --no-debug-data.");
            }
        }
        handleAddress = map.HandleAddress;
        tools::TDebugDataStats stats;
        // The file-end form carries no protected part: its names are keyed by the empty password.
        parts.DebugData = tools::EncodeDebugData(map, a.FormatVersion, a.FileEnd ? std::string() : a.Password, &stats);
        if (a.FormatVersion >= st::kFirstSectionedVersion)
            parts.Symbols = tools::FindStoredSymbols(file, handleAddress, a.Symbols);
        if (a.Stats)
            std::cout << "units " << stats.Units << ", rows " << stats.Rows << ", procedure starts "
                      << stats.ProcedureStarts << ", truncated names " << stats.TruncatedNames << ", inlined calls "
                      << stats.InlinedCalls << " (" << stats.InlinedCallBytes << " bytes), debug data "
                      << parts.DebugData.size() << " bytes\n";
    }
    if (a.FileEnd) {
        tools::AppendFileEndBlock(a.Module, tools::BuildFileEndBlock(parts));
        return 0;
    }
    const auto block = tools::BuildSectionBlock(parts);
    if (a.Stats) std::cout << ".tldata " << block.size() << " bytes\n";
    tools::WriteSections(a.Module, block, tools::BuildVersionSection(a.Version, a.Description), a.Objcopy);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const TArguments a = Parse(argc, argv);
        if (a.Command == "write") return Write(a);
        Usage();
    } catch (const std::exception& e) {
        std::cerr << "tavrel-stored-data: " << e.what() << "\n";
        return 1;
    }
}
