// The debug data written by the tool's encoder, read back by the reporter's
// lookup, for every format version; the options file; damaged data.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "crashreport/options/module_options.h"
#include "crashreport/modules/debug_data.h"
#include "crashreport/modules/stored_data_format.h"
#include "platform/rtl/exception.h"
#include "tools/debug_data_encoder.h"
#include "crashreport/options/options_text.h"

namespace {

using namespace crashreport;

// Code at 0x401000.. of a module whose handle is 0x400000.
tools::TCodeMap SampleMap()
{
    tools::TCodeMap map;
    map.HandleAddress = 0x400000;
    map.Files = {"alpha.cpp", "beta.h"};
    const std::string longClass = "ns::Holder<" + std::string(150, 'T') + ">";
    map.Functions = {
        {"ns::Widget", "draw(int) const", 10},
        {"ns::Widget", "resize(int, int)", 20},
        {"", "helper(char const*, ...)", 30},
        {longClass, "method_" + std::string(200, 'm') + "()", 40},
        {"", "main", 50},
    };
    auto row = [&](std::uint64_t start, std::uint64_t end, int file, int line, int function) {
        map.Rows.push_back({start, end, file, line, function});
    };
    row(0x401000, 0x401004, 0, 11, 0);
    row(0x401004, 0x401010, 0, 12, 0);
    row(0x401010, 0x401020, 0, 21, 1);
    row(0x401020, 0x401030, 0, 15, 1);    // the line goes back
    row(0x401030, 0x401100, 0, 33000, 2); // a long way forward, a long row
    row(0x401100, 0x401108, 1, 45, 3);    // another file: another unit
    row(0x401108, 0x401200, 1, 44, 3);
    row(0x401300, 0x401310, 0, 52, 4); // after a gap: another unit
    row(0x401310, 0x421310, 0, 53, 0); // a row of more than 64 KiB, back to a named function
    return map;
}

struct TExpect {
    std::uintptr_t Address;
    const char* Unit;
    std::string Class, Procedure;
    int Line;
};

void ExpectRoundTrip(std::uint16_t version)
{
    const auto map = SampleMap();
    stored::TDebugData data(tools::EncodeDebugData(map, version, "key"), version);
    data.SetNames("key", true);
    const std::string longClass = map.Functions[3].ClassName;
    const std::string longProc = map.Functions[3].Procedure;
    const bool prefixed = version >= stored::kFirstPrefixedNameVersion;
    const std::vector<TExpect> expected = {
        {0x401000, "alpha.cpp", "ns::Widget", "draw(int) const", 11},
        {0x401007, "alpha.cpp", "ns::Widget", "draw(int) const", 12},
        {0x401010, "alpha.cpp", "ns::Widget", "resize(int, int)", 21},
        {0x40102F, "alpha.cpp", "ns::Widget", "resize(int, int)", 15},
        {0x401050, "alpha.cpp", "", "helper(char const*, \xE2\x80\xA6)", 33000},
        {0x401100, "beta.h", prefixed ? longClass : longClass.substr(0, 255), "", 45},
        {0x4011FF, "beta.h", "", "", 44},
        {0x401300, "alpha.cpp", "", "main", 52},
        {0x421300, "alpha.cpp", "ns::Widget", "draw(int) const", 53},
    };
    for (const auto& e : expected) {
        const auto hit = data.Lookup(0x400000, e.Address);
        ASSERT_TRUE(hit) << version << " " << std::hex << e.Address;
        EXPECT_EQ(hit->UnitName, e.Unit) << version << " " << std::hex << e.Address;
        EXPECT_EQ(hit->Line, e.Line) << version << " " << std::hex << e.Address;
        if (e.Address == 0x401100 || e.Address == 0x4011FF) {
            if (prefixed) {
                EXPECT_EQ(hit->ClassName, longClass);
                EXPECT_EQ(hit->ProcedureName, longProc);
            }
            continue; // older versions cut names at 255 characters
        }
        EXPECT_EQ(hit->ClassName, e.Class) << version << " " << std::hex << e.Address;
        EXPECT_EQ(hit->ProcedureName, e.Procedure) << version << " " << std::hex << e.Address;
    }
    // Line distance from the procedure's first (declaration) line.
    EXPECT_EQ(data.Lookup(0x400000, 0x401007)->ProcOffsetLine, 2);
    // Outside every unit: the gap, and before and after the code.
    EXPECT_FALSE(data.Lookup(0x400000, 0x401250));
    EXPECT_FALSE(data.Lookup(0x400000, 0x400FFF));
    EXPECT_FALSE(data.Lookup(0x400000, 0x421310));
}

TEST(DebugDataEncoding, EveryFormatVersionReadsBack)
{
    for (std::uint16_t version : {430, 449, 480, 501, 502, 515, 516}) ExpectRoundTrip(version);
}

TEST(DebugDataEncoding, ModuleLoadedElsewhereResolvesRelativeToItsHandle)
{
    stored::TDebugData data(tools::EncodeDebugData(SampleMap(), 515, ""), 515);
    data.SetNames("", true);
    const auto hit = data.Lookup(0x7F0000000000, 0x7F0000001010);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->ProcedureName, "resize(int, int)");
}

TEST(DebugDataEncoding, RepeatedNamesAreStoredOnce)
{
    auto map = SampleMap();
    // The same long function in many places.
    map.Rows.clear();
    for (int i = 0; i < 100; ++i) map.Rows.push_back({0x401000u + 16u * i, 0x401010u + 16u * i, i % 2, 10 + i, 3});
    const auto bytes = tools::EncodeDebugData(map, 515, "k");
    EXPECT_LT(bytes.size(), 100u * 60u); // each repeat is a short reference, not 370 characters
    stored::TDebugData data(bytes, 515);
    data.SetNames("k", true);
    EXPECT_EQ(data.Lookup(0x400000, 0x401000 + 16 * 99)->ProcedureName, map.Functions[3].Procedure);
}

TEST(DebugDataEncoding, UnreadableNamesShowAsQuestionMarkAndBase64)
{
    stored::TDebugData data(tools::EncodeDebugData(SampleMap(), 515, "right"), 515);
    data.SetNames("wrong", false);
    const auto hit = data.Lookup(0x400000, 0x401000);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->Line, 11);
    ASSERT_FALSE(hit->UnitName.empty());
    EXPECT_EQ(hit->UnitName[0], '?');
    EXPECT_EQ(hit->UnitName.size(), 1 + 12u); // base64 of the 9 stored characters
}

// Every unit header the index holds lies inside the data it was read from.
void ExpectUnitsInside(const stored::TDebugData& data, const std::string& what)
{
    for (const auto& u : data.Units()) {
        EXPECT_LT(u.NameOffset, data.Bytes().size()) << what;
        EXPECT_LE(u.TableOffset, data.Bytes().size()) << what;
        EXPECT_LE(u.TableSize, data.Bytes().size() - std::min(u.TableOffset, data.Bytes().size())) << what;
    }
}

TEST(DebugDataEncoding, TruncatedOrDamagedDataNeverReadsOutside)
{
    const auto map = SampleMap();
    const auto bytes = tools::EncodeDebugData(map, 515, "k");
    stored::TDebugData whole(bytes, 515);
    whole.SetNames("k", true);
    const std::uintptr_t addresses[] = {0x401000u, 0x401050u, 0x401100u, 0x401310u};
    // The names and lines the whole data gives, as the lookup shows them.
    std::set<std::string> procedures, units;
    std::set<int> lines;
    for (const auto& row : map.Rows) {
        const auto hit = whole.Lookup(0x400000, row.Start);
        ASSERT_TRUE(hit) << std::hex << row.Start;
        units.insert(hit->UnitName);
        procedures.insert(hit->ProcedureName);
        lines.insert(hit->Line);
    }
    ASSERT_EQ(units, (std::set<std::string>{"alpha.cpp", "beta.h"}));

    // A cut copy reads the units that fit whole, the same as the full data,
    // and every name or line it finds is one the module has.
    int hits = 0;
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n < bytes.size(); n += 3) lengths.push_back(n);
    lengths.push_back(bytes.size());
    for (const std::size_t n : lengths) {
        const std::string what = "cut to " + std::to_string(n) + " bytes";
        stored::TDebugData data(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + long(n)), 515);
        data.SetNames("k", true);
        ExpectUnitsInside(data, what);
        ASSERT_LE(data.Units().size(), whole.Units().size()) << what;
        for (std::size_t i = 0; i < data.Units().size(); ++i) {
            EXPECT_EQ(data.Units()[i].TableOffset, whole.Units()[i].TableOffset) << what;
            EXPECT_EQ(data.Units()[i].CodeStart, whole.Units()[i].CodeStart) << what;
        }
        for (std::uintptr_t a : addresses) {
            const auto hit = data.Lookup(0x400000, a);
            if (!hit) continue;
            ++hits;
            EXPECT_TRUE(units.count(hit->UnitName)) << what << ": " << hit->UnitName;
            EXPECT_TRUE(procedures.count(hit->ProcedureName)) << what << ": " << hit->ProcedureName;
            EXPECT_TRUE(lines.count(hit->Line)) << what << ": " << hit->Line;
        }
        if (n < 4) {
            EXPECT_TRUE(data.Units().empty()) << what << ": not even the unit count fits";
        }
    }
    EXPECT_GE(hits, 4) << "the whole data resolves every address";

    // Damaged copies: the index stays inside, and the same lookup gives the
    // same answer twice (nothing depends on bytes outside the data).
    std::mt19937 random(7);
    int damagedHits = 0;
    for (int round = 0; round < 300; ++round) {
        auto damaged = bytes;
        for (int i = 0; i < 4; ++i) damaged[random() % damaged.size()] = std::uint8_t(random());
        stored::TDebugData data(damaged, 515);
        data.SetNames("k", true);
        ExpectUnitsInside(data, "round " + std::to_string(round));
        for (std::uintptr_t a : addresses) {
            const auto first = data.Lookup(0x400000, a);
            const auto again = data.Lookup(0x400000, a);
            ASSERT_EQ(first.has_value(), again.has_value());
            if (!first) continue;
            ++damagedHits;
            EXPECT_EQ(first->UnitName, again->UnitName);
            EXPECT_EQ(first->ProcedureName, again->ProcedureName);
            EXPECT_EQ(first->Line, again->Line);
        }
    }
    EXPECT_GT(damagedHits, 0) << "four damaged bytes leave most of the data usable";
}

TEST(OptionsText, SetsOptionsTextsAndLists)
{
    TTavrelModuleOptions options("m", false);
    const auto texts = crashreport::ApplyOptionsText(
        "# comment\n  WebMethod = wmHttps \nWebServerPort = 8443\nStackFlags = [stDllFrames, stLineOffsets]\n"
        "ReportItems = 0, 5, 32\nShowTerminateButton = false\nTexts[17] = &More\\tdetails\n"
        "FilterClassNames = EOne\nFilterClassNames = ETwo\n",
        "opts", options);
    EXPECT_EQ(options.WebMethod(), wmHttps);
    EXPECT_EQ(options.WebServerPort(), 8443u);
    EXPECT_EQ(options.StackFlags(), (TStackFlags{stDllFrames, stLineOffsets}));
    EXPECT_EQ(options.ReportItems().ToBits(), (1ull << 0) | (1ull << 5) | (1ull << 32));
    EXPECT_FALSE(options.ShowTerminateButton());
    EXPECT_EQ(*texts.Texts[17], "&More\tdetails");
    EXPECT_EQ(options.FilterClassNames().Count(), 2u);
}

TEST(OptionsText, BadLinesNameTheFileAndLine)
{
    TTavrelModuleOptions options("m", false);
    auto message = [&](const std::string& text) {
        try {
            crashreport::ApplyOptionsText(text, "opts", options);
        } catch (const rtl::Exception& e) {
            return e.Message;
        }
        return std::string("no error");
    };
    EXPECT_EQ(message("\nNoSuchOption = 1\n"), "opts:2: unknown option \"NoSuchOption\"");
    EXPECT_EQ(message("MailMethod = mmCarrierPigeon"), "opts:1: \"mmCarrierPigeon\" is not a member of this option");
    EXPECT_EQ(message("SmtpServerPort = 70000"), "opts:1: \"70000\" is not a number from 0 to 65535");
    EXPECT_EQ(message("Texts[96] = x"), "opts:1: \"96\" is not a number from 0 to 95");
    EXPECT_EQ(message("just words"), "opts:1: expected \"Name = value\"");
}

TEST(OptionsText, OlderFormsReadBackThroughTheRecordsLoader)
{
    TTavrelModuleOptions written("m", false);
    written.SetMaxSavedErrors(7);
    written.SetFreezeSeconds(9);
    written.SetSmtpServer("mail.example");
    written.SetMailMethod(mmMailClient);
    const crashreport::TOptionsText texts;
    for (std::uint16_t version : {400, 415, 421, 449, 450, 480, 499, 500, 515, 516}) {
        const auto form = crashreport::WriteOptionsForm(written, texts, version);
        TByteViewStream stream(form.data(), form.size());
        TTavrelModuleOptions read("m", false);
        ASSERT_NO_THROW(read.LoadFromStream(stream, version)) << version;
        EXPECT_EQ(stream.Remaining(), 0) << version;
        EXPECT_EQ(read.MaxSavedErrors(), 7) << version;
        EXPECT_EQ(read.FreezeSeconds(), version >= 420 ? 9 : 60) << version;
        // Before 450 a mail method with a server means the SMTP client.
        EXPECT_EQ(read.MailMethod(), version < 450 && version >= 420 ? mmSmtpClient : mmMailClient) << version;
    }
}

} // namespace
