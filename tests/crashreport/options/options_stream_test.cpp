// The stream form: round trips, the string rules, filter pairs, and short
// or damaged streams.
#include <gtest/gtest.h>

#include <random>

#include "crashreport/options/module_options.h"
#include "crashreport/options/options_errors.h"
#include "crashreport/options/options_stream_io.h"
#include "options_test_support.h"

using namespace crashreport;
using optiontest::Saved;
using optiontest::TCountingOptions;

namespace {

// Counts reads that ask for bytes past the end of the data.
class TSpyStream : public TByteViewStream {
public:
    using TByteViewStream::TByteViewStream;
    std::size_t Read(void* buffer, std::size_t count) override
    {
        if (Position() + static_cast<std::int64_t>(count) > Size()) ++readsPastEnd;
        return TByteViewStream::Read(buffer, count);
    }
    int readsPastEnd = 0;
};

// The stored string at `offset` of a stream form: length, then key-combined bytes.
std::string StoredStringAt(const std::string& form, std::size_t offset)
{
    const auto* p = reinterpret_cast<const unsigned char*>(form.data()) + offset;
    const std::int32_t n = static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
    std::string s(form, offset + 4, static_cast<std::size_t>(n));
    for (char& c : s) c = static_cast<char>(c ^ 0xA5);
    return s;
}

constexpr std::size_t kFreezeTextOffset = 11; // after fields 1..7 (1 byte each) and 8 (4 bytes)

} // namespace

TEST(OptionsStreamForm, RoundTripRestoresEveryFieldFilterAndText)
{
    for (unsigned seed = 1; seed <= 25; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        TTavrelModuleOptions source("/a/src", false), target("/b/dst", false);
        optiontest::Randomize(source, rng, seed % 5, seed % 5);
        const std::string form = Saved(source);
        TByteViewStream in(form);
        target.LoadFromStream(in, 500);
        EXPECT_EQ(in.Position(), in.Size());
        optiontest::ExpectSameOptions(source, target);
        EXPECT_EQ(Saved(target), form);
        TTavrelModuleOptions current("", false);
        TByteViewStream again(form);
        current.LoadFromStream(again, CurrentOptionsVersion);
        optiontest::ExpectSameOptions(source, current);
    }
}

TEST(OptionsStreamForm, StringsAreKeyedAndLoseOneFinalCrLf)
{
    TTavrelModuleOptions o("", false);
    auto stored = [&](const std::string& text) {
        o.SetFreezeText(text);
        return StoredStringAt(Saved(o), kFreezeTextOffset);
    };
    EXPECT_EQ(stored("abc\r\n"), "abc");
    EXPECT_EQ(stored("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(stored("\r\n"), "");
    EXPECT_EQ(stored("x\r\n\r\n"), "x\r\n\r\n");
    EXPECT_EQ(stored("\n"), "\n");
    EXPECT_EQ(stored("abc\n"), "abc\n");
    const std::string form = Saved(o);
    EXPECT_EQ(static_cast<unsigned char>(form[kFreezeTextOffset + 4]), 'a' ^ 0xA5);
    EXPECT_EQ(StripSingleTrailingCrLf("r\r\n"), "r");
}

TEST(OptionsStreamForm, UnevenFilterListsAreWrittenAsPairs)
{
    TTavrelModuleOptions o("", false), loaded("", false);
    for (const char* c : {"EAccessViolation", "EZeroDivide", "EAbortLike"}) o.FilterClassNames().Add(c);
    o.FilterMessages().Add("Access violation at address");
    const std::string form = Saved(o);
    TByteViewStream in(form);
    loaded.FilterClassNames().Add("stale");
    loaded.LoadFromStream(in);
    EXPECT_EQ(loaded.FilterClassNames().Items(),
              (std::vector<std::string>{"EAccessViolation", "EZeroDivide", "EAbortLike"}));
    EXPECT_EQ(loaded.FilterMessages().Items(), (std::vector<std::string>{"Access violation at address", "", ""}));

    // One class name with no message at all.
    TTavrelModuleOptions one("", false), oneLoaded("", false);
    one.FilterClassNames().Add("EOnly");
    const std::string saved = Saved(one); // the view reads it: it must outlive the stream
    TByteViewStream in1(saved);
    oneLoaded.LoadFromStream(in1);
    EXPECT_EQ(oneLoaded.FilterClassNames().Items(), std::vector<std::string>{"EOnly"});
    EXPECT_EQ(oneLoaded.FilterMessages().Items(), std::vector<std::string>{""});
}

TEST(OptionsStreamForm, LoadingStopsExactlyAtTheEndOfTheOptions)
{
    TTavrelModuleOptions o("", false);
    const std::string form = Saved(o) + "TAIL";
    TByteViewStream in(form);
    o.LoadFromStream(in);
    EXPECT_EQ(in.Position(), static_cast<std::int64_t>(form.size() - 4));
}

TEST(OptionsDamagedStream, EveryShortStreamFailsCleanly)
{
    std::mt19937 rng(3);
    TTavrelModuleOptions source("", false);
    optiontest::Randomize(source, rng, 2, 2);
    const std::string form = Saved(source);
    for (std::size_t cut = 0; cut < form.size(); ++cut) {
        TCountingOptions target;
        TSpyStream in(form.data(), cut);
        try {
            target.LoadFromStream(in);
            FAIL() << "loaded from " << cut << " of " << form.size() << " bytes";
        } catch (const EOptionsStreamError& e) {
            EXPECT_NE(e.Message.find("ends inside"), std::string::npos) << e.Message;
        }
        EXPECT_EQ(in.readsPastEnd, 0);
        EXPECT_LE(in.Position(), static_cast<std::int64_t>(cut));
        EXPECT_EQ(target.UpdateDepth(), 0);
        EXPECT_EQ(target.changes, 1) << "the change check runs after a failed load";
    }
}

TEST(OptionsDamagedStream, FieldsReadBeforeTheFaultKeepTheirValues)
{
    TTavrelModuleOptions source("", false), target("", false);
    source.SetLogActivation(true);
    source.SetFilterActive(false);
    source.SetFreezeSeconds(1234);
    const std::string form = Saved(source);
    TByteViewStream in(form.data(), kFreezeTextOffset + 2); // inside FreezeText's length
    try {
        target.LoadFromStream(in);
        FAIL();
    } catch (const EOptionsStreamError& e) {
        EXPECT_NE(e.Message.find("FreezeText"), std::string::npos) << e.Message;
        EXPECT_NE(e.Message.find("offset 11"), std::string::npos) << e.Message;
    }
    EXPECT_TRUE(target.LogActivation());
    EXPECT_FALSE(target.FilterActive());
    EXPECT_EQ(target.FreezeSeconds(), 1234);
    EXPECT_EQ(target.FreezeText(), "The application seems to be frozen.");
}

TEST(OptionsDamagedStream, BadLengthsCountsAndOrdinalsAreNamed)
{
    TTavrelModuleOptions o("", false);
    const std::string good = Saved(o);
    auto loadError = [](std::string form) {
        TTavrelModuleOptions target("", false);
        TByteViewStream in(form);
        try {
            target.LoadFromStream(in);
        } catch (const EOptionsStreamError& e) {
            return e.Message;
        }
        return std::string("no error");
    };
    auto put32 = [](std::string& s, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
    };

    std::string negative = good;
    put32(negative, kFreezeTextOffset, 0xFFFFFFF0u);
    EXPECT_NE(loadError(negative).find("damaged at FreezeText (string length -16 at offset 11)"), std::string::npos)
        << loadError(negative);

    std::string huge = good;
    put32(huge, kFreezeTextOffset, 0x7FFFFFFFu); // must fail before allocating 2 GiB
    EXPECT_NE(loadError(huge).find("ends inside FreezeText"), std::string::npos) << loadError(huge);

    std::string tab = good;
    tab[5] = 9; // FirstTab
    EXPECT_NE(loadError(tab).find("damaged at FirstTab (value 9 is not a member"), std::string::npos) << loadError(tab);

    // The filter count follows field 39; find it as the 4 bytes of the
    // default form just before the (empty) pairs, MailBody and texts.
    std::size_t textBytes = 4; // MailBody
    for (const std::string& t : o.Texts()) textBytes += 4 + t.size();
    const std::size_t countAt = good.size() - textBytes - 4;
    std::string many = good;
    put32(many, countAt, 0x10000000u);
    EXPECT_NE(loadError(many).find("ends inside the filter count"), std::string::npos) << loadError(many);
    std::string minus = good;
    put32(minus, countAt, 0x80000000u);
    EXPECT_NE(loadError(minus).find("damaged at the filter count"), std::string::npos) << loadError(minus);
    EXPECT_EQ(loadError(good), "no error");
}
