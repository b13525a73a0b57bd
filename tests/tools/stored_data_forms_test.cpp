// Stored data of every form and format version, made by the tool: what
// loads, what older versions leave at their defaults, damaged and truncated
// blocks, and the published copy of a module's options.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

#include "crashreport/codecs/deflate_codec.h"
#include "crashreport/options/published_options.h"
#include "crashreport/codecs/stream.h"
#include "crashreport/binding/events.h"
#include "crashreport/modules/stored_data_format.h"
#include "crashreport/modules/stored_data_loader.h"
#include "crashreport/modules/elf_sections.h"
#include "platform/kernel/shared_memory.h"
#include "tests/tools/tool_test_support.h"

namespace {

using namespace tooltest;
using namespace crashreport;

class StoredDataForms : public testing::Test {
protected:
    // A copy of the sample program without stored data, then written by the tool.
    std::string Make(const std::string& name, const std::string& toolArguments)
    {
        const std::string path = TempPath(name);
        CopyFile(SAMPLE_PROGRAM, path);
        files_.push_back(path);
        int status = -1;
        tooltest::Run("objcopy --remove-section=.tldata --remove-section=.tlversion '" + path + "'", &status);
        EXPECT_EQ(status, 0);
        tooltest::Run("'" STORED_DATA_TOOL "' write '" + path + "' --options '" SAMPLE_OPTIONS "' " + toolArguments +
                          " 2>&1",
                      &status);
        EXPECT_EQ(status, 0) << toolArguments;
        return path;
    }
    void TearDown() override
    {
        for (const auto& f : files_) std::remove(f.c_str());
    }
    std::vector<std::string> files_;
};

std::uint64_t MainAddress()
{
    for (const auto& f : FunctionSymbols(SAMPLE_PROGRAM))
        if (f.Name == "main") return f.Address;
    return 0;
}

void ExpectMainResolves(const TTavrelModuleInfo& record)
{
    ASSERT_TRUE(record.DebugData);
    const auto hit = record.DebugData->Lookup(record.Handle, MainAddress());
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->ProcedureName, "main");
    EXPECT_EQ(hit->UnitName, "sample_program.cpp");
    EXPECT_GT(hit->Line, 0);
}

// The format written by default (516, with the inlined calls) and 515.
class StoredDataCurrentForms : public StoredDataForms, public testing::WithParamInterface<int> {};

TEST_P(StoredDataCurrentForms, LoadEveryOptionOfTheFile)
{
    bool loaded = false;
    const int version = GetParam();
    const std::string option = version == crashreport::stored::kCurrentVersion
        ? std::string()
        : " --format-version " + std::to_string(version);
    auto r =
        LoadRecord(Make("v" + std::to_string(version), "--password pw --build-time 45000.5" + option), "pw", &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(r->DebugVersion, version);
    EXPECT_DOUBLE_EQ(r->CompilationDate, 45000.5);
    const auto& o = *r->Options;
    EXPECT_EQ(o.MailMethod(), mmSmtpClient);
    EXPECT_EQ(o.SmtpServer(), "127.0.0.1");
    EXPECT_EQ(o.SmtpServerPort(), 2525);
    EXPECT_EQ(o.FreezeSeconds(), 30);
    EXPECT_EQ(o.MaxSavedErrors(), 12);
    EXPECT_EQ(o.LogFlags(), (TLogFlags{lgSkipRepeatedErrors, lgModulesSection}));
    EXPECT_EQ(o.SendFlags(), (TSendFlags{sfShowSendDialogs, sfAttachScreenshot}));
    EXPECT_EQ(o.DialogFlags(), (TDialogFlags{dfShowDialog, dfShowDetailsButton}));
    ASSERT_EQ(o.FilterClassNames().Count(), 1u);
    EXPECT_EQ(o.FilterClassNames()[0], "EAbort");
    EXPECT_EQ(o.FilterMessages()[0], "ignored");
    EXPECT_EQ(o.GetText(0), "Sample information.");
    EXPECT_EQ(o.GetText(94), "Sent.\r\nThank you.");
    EXPECT_EQ(o.GetText(1), "Question.");
    EXPECT_EQ(r->NamesReadable, 1);
    ExpectMainResolves(*r);
}

INSTANTIATE_TEST_SUITE_P(Versions, StoredDataCurrentForms, testing::Values(516, 515));

TEST_F(StoredDataForms, Version480KeepsTheTextsItLacks)
{
    bool loaded = false;
    auto r = LoadRecord(Make("v480", "--format-version 480"), "", &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(r->DebugVersion, 480);
    const auto& o = *r->Options;
    EXPECT_EQ(o.SmtpServerPort(), 2525);
    EXPECT_EQ(o.MailMethod(), mmSmtpClient);
    EXPECT_EQ(o.MaxSavedErrors(), 12);
    EXPECT_TRUE(o.DialogFlags().Contains(dfShowDialog));
    EXPECT_TRUE(o.SendFlags().Contains(sfAttachScreenshot));
    EXPECT_EQ(o.GetText(0), "Sample information.");
    // Text 94 is not in forms before 500: the default stays.
    EXPECT_EQ(o.GetText(94), "The message was sent successfully.");
    // Older forms hold 31 report items: the items from 31 on read as off.
    EXPECT_EQ(o.ReportItems(), TReportItems::FromBits(0x7FFFFFFF));
    ExpectMainResolves(*r); // scrambled names, no prefixes
}

TEST_F(StoredDataForms, Version449IsUncompressedAndOlderStill)
{
    bool loaded = false;
    const std::string path = Make("v449", "--format-version 449");
    auto r = LoadRecord(path, "", &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(r->DebugVersion, 449);
    const auto& o = *r->Options;
    EXPECT_EQ(o.SmtpServerPort(), 25);                   // not in forms before 450
    EXPECT_EQ(o.MailMethod(), mmSmtpClient);             // a mail method with a server
    EXPECT_TRUE(o.DialogFlags().Contains(dfShowDialog)); // stored inverted
    EXPECT_EQ(o.SmtpServer(), "127.0.0.1");
    EXPECT_EQ(o.GetText(0), "Sample information.");
    EXPECT_EQ(o.GetText(8), "Modules"); // texts 8 to 11 are not in forms before 450
    ExpectMainResolves(*r);
    // The section holds the options' stream form as it is: its texts are readable
    // after the string key, not compressed.
    TElfSections elf;
    ASSERT_TRUE(elf.Open(path));
    const auto bytes = elf.Read(*elf.Find(".tldata"));
    ASSERT_TRUE(bytes);
    EXPECT_GT(bytes->size(), 1000u);
}

TEST_F(StoredDataForms, LightModeLoadsTheOptionsOnly)
{
    const std::string path = Make("light", "--password pw");
    static int asked = 0;
    asked = 0;
    GlobalEventHandlers().OnPasswordRequest = [](void*, std::string& p) {
        ++asked;
        p = "pw";
    };
    TTavrelModuleInfo record;
    record.FileName = path;
    record.Options = std::make_unique<TTavrelModuleOptionsEx>(path, false);
    {
        TLightModeScope light;
        EXPECT_TRUE(LoadStoredOptions(record));
    }
    EXPECT_EQ(record.Options->SmtpServerPort(), 2525);
    EXPECT_FALSE(record.DebugData);
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(LoadStoredOptions(record));
    EXPECT_TRUE(record.DebugData);
    EXPECT_EQ(asked, 1);
    GlobalEventHandlers().OnPasswordRequest = nullptr;
}

// A start-up reads only the head of the section for the options; options
// that reach past it (a long text that does not compress) still load.
TEST_F(StoredDataForms, LightModeLoadsOptionsLongerThanTheHeadOfTheSection)
{
    std::mt19937 random(7);
    std::string text;
    for (int i = 0; i < 120000; ++i) text += char('a' + random() % 26);
    const std::string options = TempPath("long-options.txt");
    files_.push_back(options);
    std::ofstream(options) << "SmtpServerPort = 2526\nTexts[0] = " << text << "\n";
    const std::string path = Make("long", "--options '" + options + "'");
    TTavrelModuleInfo record;
    record.FileName = path;
    record.Options = std::make_unique<TTavrelModuleOptionsEx>(path, false);
    {
        TLightModeScope light;
        ASSERT_TRUE(LoadStoredOptions(record));
    }
    EXPECT_EQ(record.Options->SmtpServerPort(), 2526);
    EXPECT_EQ(record.Options->Texts()[0], text);
}

TEST_F(StoredDataForms, FileEndFormLoadsWithoutASection)
{
    bool loaded = false;
    const std::string path = Make("fileend", "--file-end");
    TElfSections elf;
    ASSERT_TRUE(elf.Open(path));
    EXPECT_EQ(elf.Find(".tldata"), nullptr);
    auto r = LoadRecord(path, "", &loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(r->Options->SmtpServerPort(), 2525);
    EXPECT_EQ(r->NamesReadable, 1);
    ExpectMainResolves(*r);
}

std::vector<std::uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST_F(StoredDataForms, DamagedSectionStopsLoadingWithFalse)
{
    const std::string path = Make("damaged", "--password pw");
    TElfSections elf;
    ASSERT_TRUE(elf.Open(path));
    const TElfSection section = *elf.Find(".tldata");
    const auto original = ReadAll(path);

    // The compressed debug part damaged: the options (read before it) stay.
    auto bytes = original;
    for (std::size_t i = section.Size - 40; i < section.Size - 8; ++i) bytes[section.Offset + i] ^= 0x5A;
    WriteAll(path, bytes);
    bool loaded = true;
    auto r = LoadRecord(path, "pw", &loaded);
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(r->DebugData);
    EXPECT_EQ(r->Options->SmtpServerPort(), 2525);

    // A symbol table length beyond the data.
    bytes = original;
    bytes[section.Offset + 17] = 0x7F;
    WriteAll(path, bytes);
    LoadRecord(path, "pw", &loaded);
    EXPECT_FALSE(loaded);

    // Random damage anywhere in the block never makes loading crash or read
    // outside the data (the sanitizer builds check the second).
    std::mt19937 random(515);
    for (int round = 0; round < 60; ++round) {
        bytes = original;
        const int flips = 1 + int(random() % 8);
        for (int f = 0; f < flips; ++f)
            bytes[section.Offset + random() % section.Size] ^= std::uint8_t(1 + random() % 255);
        WriteAll(path, bytes);
        auto damaged = LoadRecord(path, "pw", &loaded);
        if (loaded && damaged->DebugData) damaged->DebugData->Lookup(damaged->Handle, MainAddress());
    }
}

// The debug part is inflated straight into a buffer of the length stored at
// its start: a stream that holds less than that length, is cut short, or is
// followed by other bytes stops loading with false; bytes after the debug
// data inside the stream are passed over.
TEST_F(StoredDataForms, DebugPartLengthAndStreamEndAreChecked)
{
    const std::string path = Make("debugpart", "--password pw");
    std::vector<std::uint8_t> head, plain;
    {
        TElfSections elf;
        ASSERT_TRUE(elf.Open(path));
        const auto section = elf.Read(*elf.Find(".tldata"));
        ASSERT_TRUE(section);
        std::uint32_t symbols = 0, options = 0;
        std::memcpy(&symbols, section->data() + 14, 4);
        std::memcpy(&options, section->data() + 18 + symbols, 4);
        const std::size_t debugPart = 26 + std::size_t(symbols) + options;
        ASSERT_LT(debugPart, section->size());
        head.assign(section->begin(), section->begin() + long(debugPart));
        plain = codecs::InflateZlib(std::span<const std::uint8_t>(*section).subspan(debugPart));
        ASSERT_GT(plain.size(), 4u);
    }
    const std::string part = TempPath("debugpart.tldata");
    files_.push_back(part);
    // The section replaced by the head and the given debug part.
    auto loadWith = [&](const std::vector<std::uint8_t>& compressed, std::unique_ptr<TTavrelModuleInfo>& r) {
        auto bytes = head;
        bytes.insert(bytes.end(), compressed.begin(), compressed.end());
        WriteAll(part, bytes);
        int status = -1;
        tooltest::Run("objcopy --update-section .tldata='" + part + "' '" + path + "'", &status);
        EXPECT_EQ(status, 0);
        bool loaded = false;
        r = LoadRecord(path, "pw", &loaded);
        return loaded;
    };
    auto deflate = [](const std::vector<std::uint8_t>& data) {
        return codecs::Deflate(data, codecs::TDeflateFraming::dfZlib);
    };
    auto withLength = [&](std::uint32_t length) {
        auto data = plain;
        std::memcpy(data.data(), &length, 4);
        return data;
    };
    std::uint32_t length = 0;
    std::memcpy(&length, plain.data(), 4);
    ASSERT_EQ(length, plain.size() - 4);

    std::unique_ptr<TTavrelModuleInfo> r;
    ASSERT_TRUE(loadWith(deflate(plain), r)); // written again unchanged
    ExpectMainResolves(*r);
    EXPECT_EQ(r->DebugData->Bytes().size(), length);

    auto longer = plain; // bytes after the debug data, inside the stream
    longer.insert(longer.end(), 300, 0xEE);
    ASSERT_TRUE(loadWith(deflate(longer), r));
    ExpectMainResolves(*r);
    EXPECT_EQ(r->DebugData->Bytes().size(), length);

    ASSERT_TRUE(loadWith(deflate(withLength(length - 1)), r)); // a shorter length: the rest is passed over
    EXPECT_EQ(r->DebugData->Bytes().size(), length - 1);

    EXPECT_FALSE(loadWith(deflate(withLength(length + 1)), r));
    EXPECT_FALSE(r->DebugData);
    EXPECT_FALSE(loadWith(deflate(withLength(0xFFFFFFFFu)), r));
    EXPECT_FALSE(loadWith(deflate(std::vector<std::uint8_t>(plain.begin(), plain.begin() + 3)), r));

    auto cut = deflate(plain);
    cut.resize(cut.size() - 10);
    EXPECT_FALSE(loadWith(cut, r));
    auto followed = deflate(plain);
    followed.push_back(0);
    EXPECT_FALSE(loadWith(followed, r));
    auto checkValue = deflate(plain); // the stream's own check value damaged
    checkValue.back() ^= 0x01;
    EXPECT_FALSE(loadWith(checkValue, r));

    ASSERT_TRUE(loadWith(deflate(plain), r)); // and back again
    ExpectMainResolves(*r);
}

TEST_F(StoredDataForms, SectionWithoutMagicFallsBackToTheFileEnd)
{
    const std::string path = Make("fallback", "--password pw");
    int status = -1;
    tooltest::Run("'" STORED_DATA_TOOL "' write '" + path + "' --file-end --format-version 515 2>&1", &status);
    ASSERT_EQ(status, 0);
    TElfSections elf;
    ASSERT_TRUE(elf.Open(path));
    const TElfSection section = *elf.Find(".tldata");
    auto bytes = ReadAll(path);
    bytes[section.Offset] = 0; // the section no longer starts with the magic
    WriteAll(path, bytes);
    bool loaded = false;
    auto r = LoadRecord(path, "", &loaded);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(r->NamesReadable, 1); // the file-end form has no protected part
    ExpectMainResolves(*r);

    // A file that ends with the magic but whose length does not fit.
    bytes = ReadAll(path);
    bytes[bytes.size() - 5] = 0x7F;
    WriteAll(path, bytes);
    LoadRecord(path, "", &loaded);
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(HasStoredData(0) == false); // no module at handle 0
}

TEST_F(StoredDataForms, PublishedCopyReplacesTheStoredOptionsUnlessItsFirstByteIs0)
{
    const std::string path = Make("published", "");
    const std::uintptr_t handle = 0x7E5700000000; // no loaded module: a record of our own making
    const std::string name = PublishedOptionsBlockName(std::uint32_t(getpid()), handle);

    TTavrelModuleOptions changed(path, false);
    changed.SetSmtpServerPort(9999);
    TMemoryStream form;
    changed.SaveToStream(form);
    for (const std::uint8_t first : {std::uint8_t(0), std::uint8_t(1)}) {
        std::string data(1, char(first));
        data += form.Bytes();
        auto block = kernel::TSharedMemory::CreateOrOpen(name, data.size() + 4);
        ASSERT_TRUE(block);
        const std::uint32_t size = std::uint32_t(data.size() + 4);
        std::memcpy(block->Data(), &size, 4);
        std::memcpy(block->Data() + 4, data.data(), data.size());
        bool loaded = false;
        auto r = LoadRecord(path, "", &loaded, handle);
        EXPECT_TRUE(loaded);
        EXPECT_EQ(r->Options->SmtpServerPort(), first == 0 ? 2525 : 9999) << int(first);
        kernel::TSharedMemory::Remove(name);
    }
}

} // namespace

namespace {

using namespace tooltest;

// A module without line tables is refused with a message that says what to
// do, and nothing is written into it; asked for options only, it is written.
TEST(StoredDataTool, RefusesAModuleWithoutLineTables)
{
    const std::string path = TempPath("no-lines");
    int status = -1;
    tooltest::Run("strip -o '" + path +
                      "' '" SAMPLE_PROGRAM "' && objcopy --remove-section=.tldata --remove-section=.tlversion '" +
                      path + "'",
                  &status);
    ASSERT_EQ(status, 0);
    const std::string refused =
        tooltest::Run("'" STORED_DATA_TOOL "' write '" + path + "' --options '" SAMPLE_OPTIONS "' 2>&1", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(refused.find(path), std::string::npos) << refused;
    EXPECT_NE(refused.find("line tables (-g)"), std::string::npos) << refused;
    {
        crashreport::TElfSections elf;
        ASSERT_TRUE(elf.Open(path));
        EXPECT_EQ(elf.Find(".tldata"), nullptr);
    }

    tooltest::Run("'" STORED_DATA_TOOL "' write '" + path + "' --options '" SAMPLE_OPTIONS "' --no-debug-data 2>&1",
                  &status);
    EXPECT_EQ(status, 0);
    crashreport::TElfSections elf;
    ASSERT_TRUE(elf.Open(path));
    EXPECT_NE(elf.Find(".tldata"), nullptr);
    std::remove(path.c_str());
}

} // namespace
