#include "crashreport/modules/stored_data_loader.h"

#include <zlib.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "crashreport/codecs/deflate_codec.h"
#include "crashreport/options/module_identity.h"
#include "crashreport/options/module_options_ex.h"
#include "crashreport/options/published_options.h"
#include "crashreport/codecs/stream.h"
#include "crashreport/modules/byte_reader.h"
#include "crashreport/modules/debug_name_codec.h"
#include "crashreport/modules/elf_sections.h"
#include "crashreport/modules/module_identity_info.h"
#include "crashreport/modules/stored_data_format.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/process.h"

namespace crashreport {
namespace st = stored;
namespace {

std::atomic<int> g_lightMode{0};
std::mutex g_passwordsLock;
TPasswordRequests g_passwords;
std::mutex g_symbolsLock;
std::vector<TStoredSymbolEntry> g_reporterSymbols;

// Stored data bigger than this is taken for damage.
constexpr std::uint64_t kMaxStoredSize = 256u << 20;
// Inflated data bigger than this is taken for damage (the codecs' own limit).
constexpr std::uint64_t kMaxInflatedSize = codecs::kDefaultMaxInflatedSize;
// Deflate cannot give more than this many bytes for one byte of input.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

enum class TStoredForm { sfSection, sfFileEnd };

// The options lie at the start of the section, before the debug data: a
// start-up that needs only them reads this much first (the symbols of the
// reporter and the compressed options take a kilobyte or a few), then as
// much more as the lengths at its start say.
constexpr std::uint64_t kOptionsHead = 4u << 10;
constexpr int kOptionsHeadReads = 3;

// How many bytes from the section's start hold the symbols and the options
// (forms from 500 on), as far as the bytes read so far tell; 0 when they do
// not tell (an older form, or damage).
std::uint64_t OptionsExtent(const std::vector<std::uint8_t>& head)
{
    constexpr std::uint64_t kLengthAt = 4 + 2 + 8; // magic, version, build time
    std::uint16_t version = 0;
    std::uint32_t symbolsLength = 0, optionsLength = 0;
    if (head.size() < kLengthAt + 4) return 0;
    std::memcpy(&version, head.data() + 4, sizeof version);
    if (version < st::kFirstSectionedVersion) return 0;
    std::memcpy(&symbolsLength, head.data() + kLengthAt, sizeof symbolsLength);
    const std::uint64_t optionsAt = kLengthAt + 4 + std::uint64_t(symbolsLength);
    if (head.size() < optionsAt + 4) return optionsAt + 4;
    std::memcpy(&optionsLength, head.data() + optionsAt, sizeof optionsLength);
    return optionsAt + 4 + optionsLength;
}

struct TStoredBlock {
    TStoredForm Form = TStoredForm::sfSection;
    std::vector<std::uint8_t> Bytes;
    bool Whole = true; // false: only the head of a longer section was read
};

// The section's first `length` bytes (or all of it, whatever its length,
// when `length` is 0), when it starts with the stored data's magic.
std::optional<TStoredBlock> FindSectionBlock(const std::string& file, std::uint64_t length = 0)
{
    TElfSections elf;
    if (!elf.Open(file)) return std::nullopt;
    const TElfSection* s = elf.Find(st::kDataSection);
    if (!s) return std::nullopt;
    auto bytes = length ? elf.ReadHead(*s, length) : elf.Read(*s, kMaxStoredSize);
    std::uint32_t magic = 0;
    if (!bytes || bytes->size() < 4 || (std::memcpy(&magic, bytes->data(), 4), magic != st::kMagic))
        return std::nullopt;
    const bool whole = bytes->size() == s->Size;
    return TStoredBlock{TStoredForm::sfSection, std::move(*bytes), whole};
}

std::optional<TStoredBlock> FindFileEndBlock(const std::string& file)
{
    const auto size = FileSizeOf(file);
    if (!size || *size < 8) return std::nullopt;
    std::uint32_t tail[2] = {0, 0}; // block length, magic
    if (!ReadFileBytes(file, *size - 8, tail, sizeof tail) || tail[1] != st::kMagic) return std::nullopt;
    if (tail[0] > *size - 8 || tail[0] > kMaxStoredSize)
        return TStoredBlock{TStoredForm::sfFileEnd, {}}; // ends with the magic but is damaged
    TStoredBlock block{TStoredForm::sfFileEnd, std::vector<std::uint8_t>(tail[0])};
    if (!ReadFileBytes(file, *size - 8 - tail[0], block.Bytes.data(), block.Bytes.size()))
        return TStoredBlock{TStoredForm::sfFileEnd, {}};
    return block;
}

std::optional<std::vector<std::uint8_t>> Inflate(std::span<const std::uint8_t> bytes)
{
    try {
        auto out = codecs::InflateZlib(bytes);
        if (out.empty()) return std::nullopt;
        return out;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

struct TZlibInflater {
    z_stream z{};
    bool open = false;
    ~TZlibInflater()
    {
        if (open) inflateEnd(&z);
    }
    // Inflates until `size` bytes are written to `out` or the stream stops;
    // returns zlib's last result.
    int Fill(std::uint8_t* out, std::size_t size, int rc)
    {
        z.next_out = out;
        z.avail_out = uInt(size);
        while (z.avail_out > 0 && rc == Z_OK) rc = inflate(&z, Z_NO_FLUSH);
        return rc;
    }
};

// The debug part from version 500 on: one zlib stream holding a u32 length
// and that many bytes of debug data. The length comes first, so the data is
// inflated straight into a buffer of its size: it is neither grown nor moved
// afterwards. Whatever follows the debug data inside the stream is inflated
// (the stream is checked to its end and its check value) but not kept. Empty
// when the stream is damaged, truncated, does not fill `input` exactly or
// holds fewer bytes than its length says.
std::optional<std::vector<std::uint8_t>> InflateDebugPart(std::span<const std::uint8_t> input)
{
    if (input.size() > kMaxStoredSize) return std::nullopt;
    TZlibInflater f;
    if (inflateInit(&f.z) != Z_OK) return std::nullopt;
    f.open = true;
    f.z.next_in = const_cast<Bytef*>(input.data());
    f.z.avail_in = uInt(input.size());
    std::uint8_t head[4];
    int rc = f.Fill(head, sizeof head, Z_OK);
    if (f.z.avail_out > 0) return std::nullopt; // the stream ends or breaks before the length
    std::uint32_t length = 0;
    std::memcpy(&length, head, sizeof length);
    if (length > kMaxInflatedSize - sizeof head || length > kMaxDeflateRatio * input.size())
        return std::nullopt; // more than the stream can hold
    std::vector<std::uint8_t> data(length);
    if (length > 0) {
        rc = f.Fill(data.data(), data.size(), rc);
        if (f.z.avail_out > 0) return std::nullopt; // fewer bytes than the length says
    }
    std::uint8_t rest[4096];
    while (rc == Z_OK) {
        rc = f.Fill(rest, sizeof rest, rc);
        if (f.z.total_out > kMaxInflatedSize) return std::nullopt;
    }
    if (rc != Z_STREAM_END || f.z.avail_in != 0) return std::nullopt;
    return data;
}

bool LoadOptions(TTavrelModuleInfo& record, TStream& stream, std::uint16_t version)
{
    try {
        record.Options->LoadFromStream(stream, version);
        return true;
    } catch (const std::exception&) {
        return false; // the options read so far stay
    }
}

// A 4-byte length and that many bytes of debug data, from `at` on.
bool LoadDebugData(TTavrelModuleInfo& record, std::vector<std::uint8_t>&& bytes, std::size_t at)
{
    st::TByteReader r(bytes);
    std::uint32_t length = 0;
    if (!r.Seek(at) || !r.Read(length) || length > r.Remaining()) return false;
    // The inflated block becomes the debug data in place.
    bytes.erase(bytes.begin(), bytes.begin() + std::ptrdiff_t(r.Position()));
    bytes.resize(length);
    record.DebugData = std::make_unique<st::TDebugData>(std::move(bytes), record.DebugVersion);
    return true;
}

bool IsReporterModule(const TTavrelModuleInfo& record) { return record.Handle == ReporterModuleHandle(); }

void OpenProtectedPart(TTavrelModuleInfo& record, std::uint32_t checkValue)
{
    TPasswordRequests requests;
    {
        std::lock_guard<std::mutex> lock(g_passwordsLock);
        requests = g_passwords;
    }
    std::string password = requests.FromModule ? requests.FromModule(record.Handle) : std::string();
    bool open = st::CheckValueOpens(checkValue, password);
    if (!open && !IsReporterModule(record)) {
        password = requests.FromLocalHandlers ? requests.FromLocalHandlers() : std::string();
        open = st::CheckValueOpens(checkValue, password);
    }
    record.DebugPassword = password;
    record.NamesReadable = open ? 1 : 0;
}

void KeepSymbols(const TTavrelModuleInfo& record, std::span<const std::uint8_t> table)
{
    if (!IsReporterModule(record)) return;
    std::vector<TStoredSymbolEntry> symbols;
    st::TByteReader r(table);
    TStoredSymbolEntry e;
    while (r.Read(e.Id) && r.Read(e.Offset) && r.Read(e.Value)) symbols.push_back(e);
    std::lock_guard<std::mutex> lock(g_symbolsLock);
    g_reporterSymbols = std::move(symbols);
}

bool LoadSectionForm(TTavrelModuleInfo& record, const std::vector<std::uint8_t>& bytes, bool light)
{
    st::TByteReader r(bytes);
    std::uint32_t magic = 0;
    std::uint16_t version = 0;
    double buildTime = 0;
    if (!r.Read(magic) || !r.Read(version) || !r.Read(buildTime)) return false;
    record.DebugVersion = version;
    record.CompilationDate = buildTime;
    if (version >= st::kFirstSectionedVersion) {
        std::uint32_t symbolsLength = 0, optionsLength = 0, checkValue = 0;
        std::span<const std::uint8_t> symbols, options;
        if (!r.Read(symbolsLength) || !r.Bytes(symbolsLength, symbols)) return false;
        KeepSymbols(record, symbols);
        if (!r.Read(optionsLength) || !r.Bytes(optionsLength, options)) return false;
        const auto optionsForm = Inflate(options);
        if (!optionsForm) return false;
        TByteViewStream optionsStream(optionsForm->data(), optionsForm->size());
        if (!LoadOptions(record, optionsStream, version)) return false;
        if (light) return true;
        if (!r.Read(checkValue)) return false;
        OpenProtectedPart(record, checkValue);
        std::span<const std::uint8_t> rest;
        r.Bytes(r.Remaining(), rest);
        auto debug = InflateDebugPart(rest);
        if (!debug) return false;
        record.DebugData = std::make_unique<st::TDebugData>(std::move(*debug), record.DebugVersion);
        record.DebugData->SetNames(record.DebugPassword, record.NamesReadable != 0);
        return true;
    }
    // Before 500: the options' stream form, then the debug data, in one block
    // after offset 14; zlib-compressed from 450 on.
    std::span<const std::uint8_t> rest;
    r.Bytes(r.Remaining(), rest);
    std::vector<std::uint8_t> body;
    if (version >= st::kFirstCompressedVersion) {
        auto inflated = Inflate(rest);
        if (!inflated) return false;
        body = std::move(*inflated);
    } else {
        body.assign(rest.begin(), rest.end());
    }
    TByteViewStream stream(body.data(), body.size());
    if (!LoadOptions(record, stream, version)) return false;
    if (light) return true;
    const std::size_t at = std::size_t(stream.Position());
    return LoadDebugData(record, std::move(body), at);
}

bool LoadFileEndForm(TTavrelModuleInfo& record, const std::vector<std::uint8_t>& bytes, bool light)
{
    st::TByteReader r(bytes);
    std::uint16_t version = 0;
    double buildTime = 0;
    if (!r.Read(version) || !r.Read(buildTime)) return false;
    record.DebugVersion = version;
    record.CompilationDate = buildTime;
    TByteViewStream stream(bytes.data() + r.Position(), r.Remaining());
    if (!LoadOptions(record, stream, version)) return false;
    if (light) return true;
    if (!LoadDebugData(record, std::vector<std::uint8_t>(bytes), r.Position() + std::size_t(stream.Position())))
        return false;
    // This form has no protected part: its names are keyed by the empty password.
    record.DebugPassword.clear();
    record.NamesReadable = 1;
    record.DebugData->SetNames({}, true);
    return true;
}

void ApplyPublishedCopy(TTavrelModuleInfo& record)
{
    if (IsReporterModule(record)) return;
    try {
        LoadPublishedOptions(*record.Options, kernel::GetCurrentProcessId(), record.Handle);
    } catch (const std::exception&) {
        // A damaged published copy leaves the stored options in force.
    }
}

} // namespace

void SetPasswordRequests(const TPasswordRequests& requests)
{
    std::lock_guard<std::mutex> lock(g_passwordsLock);
    g_passwords = requests;
}

TLightModeScope::TLightModeScope() { ++g_lightMode; }
TLightModeScope::~TLightModeScope() { --g_lightMode; }
bool InLightMode() { return g_lightMode.load() > 0; }

bool HasStoredData(std::uintptr_t handle)
{
    const std::string file = ModuleFileName(handle);
    return !file.empty() && (FindSectionBlock(file, 4) || FindFileEndBlock(file));
}

bool LoadStoredOptions(TTavrelModuleInfo& record)
{
    if (!record.Options || record.FileName.empty()) return false;
    const bool light = InLightMode();
    bool loaded = false;
    try {
        auto block = FindSectionBlock(record.FileName, light ? kOptionsHead : 0);
        // A head too short for the options: read as much as its lengths say.
        for (int reads = 1; block && light && !block->Whole && reads < kOptionsHeadReads; ++reads) {
            const std::uint64_t extent = OptionsExtent(block->Bytes);
            if (extent <= block->Bytes.size() || extent > kMaxStoredSize) break;
            block = FindSectionBlock(record.FileName, extent);
        }
        if (block) {
            loaded = LoadSectionForm(record, block->Bytes, light);
            // Options longer than the head: read the whole section.
            if (!loaded && !block->Whole && (block = FindSectionBlock(record.FileName)))
                loaded = LoadSectionForm(record, block->Bytes, light);
        }
        else if (auto end = FindFileEndBlock(record.FileName))
            loaded = !end->Bytes.empty() && LoadFileEndForm(record, end->Bytes, light);
    } catch (const std::exception&) {
        loaded = false;
    }
    if (!loaded) {
        record.DebugData.reset();
        return false;
    }
    ApplyPublishedCopy(record);
    return true;
}

std::vector<TStoredSymbolEntry> ReporterSymbols()
{
    std::lock_guard<std::mutex> lock(g_symbolsLock);
    return g_reporterSymbols;
}

std::unique_ptr<TTavrelModuleInfo> ModuleRecordWithStoredOptions(const void* address, bool defaultsWhenNone)
{
    auto record = std::make_unique<TTavrelModuleInfo>();
    kernel::TModuleImage own;
    if (kernel::FindModuleByAddress(address, own)) {
        record->FileName = own.Path;
        record->Handle = own.Handle;
    } else {
        record->FileName = kernel::MainExecutablePath();
    }
    const bool hasData = record->Handle && HasStoredData(record->Handle);
    if (!hasData && !defaultsWhenNone) return nullptr;
    record->Options = std::make_unique<TTavrelModuleOptionsEx>(record->FileName, true);
    if (hasData) {
        TLightModeScope light;
        if (!LoadStoredOptions(*record) && !defaultsWhenNone) return nullptr;
    }
    return record;
}

} // namespace crashreport
