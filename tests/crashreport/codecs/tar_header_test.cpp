// The tar header block: octal fields, layout, checksum, names and times.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/day_count.h"
#include "crashreport/codecs/tar_header.h"

using namespace crashreport::codecs;

namespace {

std::string Field(const TTarBlock& h, size_t offset, size_t size)
{
    return std::string(reinterpret_cast<const char*>(h.data()) + offset, size);
}

std::string OctalField(size_t width, uint64_t value)
{
    uint8_t field[12];
    std::memset(field, 'x', sizeof field);
    WriteOctalField(field, width, value);
    return std::string(reinterpret_cast<char*>(field), width);
}

} // namespace

TEST(TarOctalField, DigitsSpacesAndTerminator)
{
    EXPECT_EQ(OctalField(8, 0), std::string("     0 \0", 8));
    EXPECT_EQ(OctalField(12, 1234), "       2322 ");
    EXPECT_EQ(OctalField(12, 0), "          0 ");
    EXPECT_EQ(OctalField(8, 0777777), std::string("777777 \0", 8));
    EXPECT_EQ(OctalField(12, kTarLongFieldMax), "77777777777 ");
    // Higher digits that do not fit are lost.
    EXPECT_EQ(OctalField(8, 01000007), std::string("     7 \0", 8));
}

TEST(TarHeader, LayoutAndChecksum)
{
    TTarEntry entry{"report.txt", 1234, kUnixEpochDayCount + 1.5}; // 1970-01-02 12:00
    TTarBlock h = BuildTarHeader(entry);
    EXPECT_EQ(Field(h, 0, 11), std::string("report.txt\0", 11));
    EXPECT_EQ(Field(h, 100, 8), std::string("   644 \0", 8));
    EXPECT_EQ(Field(h, 108, 8), std::string("     0 \0", 8));
    EXPECT_EQ(Field(h, 116, 8), std::string("     0 \0", 8));
    EXPECT_EQ(Field(h, 124, 12), "       2322 ");
    EXPECT_EQ(Field(h, 136, 12), "     375100 "); // 129600 s
    EXPECT_EQ(h[156], '0');
    EXPECT_EQ(Field(h, 257, 8), "ustar   ");
    for (size_t i = 157; i < 257; ++i) EXPECT_EQ(h[i], 0) << i;
    for (size_t i = 265; i < 512; ++i) EXPECT_EQ(h[i], 0) << i;
    for (size_t i = 11; i < 100; ++i) EXPECT_EQ(h[i], 0) << i;

    uint32_t sum = 0;
    for (size_t i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? uint8_t(' ') : h[i];
    EXPECT_EQ(std::stoul(Field(h, 148, 6), nullptr, 8), sum);
    EXPECT_EQ(h[154], ' ');
    EXPECT_EQ(h[155], 0);
}

TEST(TarHeader, RefusesSizesThatDoNotFit)
{
    EXPECT_NO_THROW(BuildTarHeader({"big", kTarLongFieldMax, 0}));
    EXPECT_THROW(BuildTarHeader({"big", kTarLongFieldMax + 1, 0}), ETarError);
}

TEST(TarEntryName, FileNamePartCutToTheField)
{
    EXPECT_EQ(TarEntryName("/tmp/some/Screenshot.png"), "Screenshot.png");
    EXPECT_EQ(TarEntryName("../../etc/passwd"), "passwd");
    std::string longName(150, 'n');
    EXPECT_EQ(TarEntryName(longName), std::string(100, 'n'));
    EXPECT_EQ(TarEntryName(std::string(100, 'n')), std::string(100, 'n'));
    // A two-byte character across the limit is dropped whole.
    std::string utf8 = std::string(99, 'a') + "\xC3\xA9" + "tail";
    EXPECT_EQ(TarEntryName(utf8), std::string(99, 'a'));
}

TEST(TarEntryName, RejectsNamesThatWouldNotExtractAsFiles)
{
    for (const std::string& bad :
         {std::string(""), std::string("."), std::string(".."), std::string("folder/"), std::string("a\0b", 3)}) {
        EXPECT_THROW(TarEntryName(bad), ETarError) << bad;
    }
    EXPECT_THROW(BuildTarHeader({"a/b", 0, 0}), ETarError);
    EXPECT_THROW(BuildTarHeader({std::string(101, 'x'), 0, 0}), ETarError);
}

TEST(TarModificationTime, WholeSecondsSurviveTheDayCount)
{
    // A day count made from whole seconds must give them back, not one less.
    for (int64_t seconds : {int64_t(1), int64_t(1141221909), int64_t(1700000000), int64_t(4102444799)}) {
        double date = UnixMillisecondsToDayCount(seconds * 1000);
        EXPECT_EQ(TarModificationTime(date), uint64_t(seconds));
        EXPECT_EQ(TarModificationTime(UnixMillisecondsToDayCount(seconds * 1000 + 999)), uint64_t(seconds));
    }
}

TEST(TarModificationTime, OutOfRangeDates)
{
    EXPECT_EQ(TarModificationTime(0), 0u); // 1899
    EXPECT_EQ(TarModificationTime(kUnixEpochDayCount - 0.5), 0u);
    EXPECT_EQ(TarModificationTime(std::nan("")), 0u);
    EXPECT_EQ(TarModificationTime(2958465.0), kTarLongFieldMax); // 9999-12-31
    EXPECT_EQ(TarModificationTime(HUGE_VAL), kTarLongFieldMax);
}

TEST(DayCount, CompactTimestamp)
{
    // 2006-03-01 is day 38777 of the runtime's calendar.
    double date = 38777.0 + (14 * 3600 + 5 * 60 + 9) / 86400.0;
    EXPECT_EQ(FormatCompactTimestamp(date), "20060301140509");
    EXPECT_EQ(FormatCompactTimestamp(0), "18991230000000");
    EXPECT_EQ(FormatCompactTimestamp(std::nan("")), "00000000000000");
    auto t = DecodeDayCount(38777.0 + 0.5 + 0.25 / 86400.0);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->Hour, 12);
    EXPECT_EQ(t->Millisecond, 250);
}
