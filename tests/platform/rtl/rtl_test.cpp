#include <gtest/gtest.h>

#include "platform/rtl/codepage.h"
#include "platform/rtl/component.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

TEST(FormatTest, FormatStringsReplacesInOrderAndLeavesOtherPercents)
{
    EXPECT_EQ(rtl::FormatStrings("Cannot open file \"%s\". %s", {"/a b", "No such file"}),
              "Cannot open file \"/a b\". No such file");
    EXPECT_EQ(rtl::FormatStrings("100%d %s %s", {"x"}), "100%d x %s");
}

TEST(CodePageTest, Cp936RoundTrip)
{
    // "AVI文件转换成功" as GBK bytes.
    const std::string gbk = "AVI\xCE\xC4\xBC\xFE\xD7\xAA\xBB\xBB\xB3\xC9\xB9\xA6";
    const std::string utf8 = rtl::CP936ToUtf8(gbk);
    EXPECT_EQ(utf8, "AVI\xE6\x96\x87\xE4\xBB\xB6\xE8\xBD\xAC\xE6\x8D\xA2\xE6\x88\x90\xE5\x8A\x9F");
    EXPECT_EQ(rtl::Utf8ToCP936(utf8), gbk);
    EXPECT_EQ(rtl::CP936ToUtf8("a\xFF"), "a\xEF\xBF\xBD");
}

TEST(ComponentTest, OwnerDestroysOwnedComponents)
{
    static int destroyed = 0;
    struct Probe : rtl::TComponent {
        using TComponent::TComponent;
        ~Probe() override { ++destroyed; }
    };
    auto* owner = new rtl::TComponent;
    new Probe(owner);
    auto* second = new Probe(owner);
    delete second; // leaves the owner's list
    EXPECT_EQ(owner->Components().size(), 1u);
    delete owner;
    EXPECT_EQ(destroyed, 2);
}

TEST(FileNamesTest, FolderNameAndExtension)
{
    EXPECT_EQ(rtl::ExtractFilePath("/home/user/app.tlf"), "/home/user/");
    EXPECT_EQ(rtl::ExtractFilePath("app.tlf"), "");
    EXPECT_EQ(rtl::ExtractFilePath("/"), "/");
    EXPECT_EQ(rtl::ExtractFileName("/home/user/app.tlf"), "app.tlf");
    EXPECT_EQ(rtl::ExtractFileName("/home/user/"), "");
    EXPECT_EQ(rtl::ExtractFileName("app"), "app");
    EXPECT_EQ(rtl::ChangeFileExt("/opt/prog.bin", ".tlf"), "/opt/prog.tlf");
    EXPECT_EQ(rtl::ChangeFileExt("/opt/lib.so.6", ""), "/opt/lib.so");
    EXPECT_EQ(rtl::ChangeFileExt("/opt.d/prog", ".tlf"), "/opt.d/prog.tlf") << "a dot in a folder is no extension";
    EXPECT_EQ(rtl::ChangeFileExt("prog", ".tlf"), "prog.tlf");
}

TEST(StringsTest, TrimBlankAndReplaceAll)
{
    EXPECT_EQ(rtl::Trim(" \t\x01 a b \r\n\x1f"), "a b");
    EXPECT_EQ(rtl::Trim("\x7f"), "\x7f"); // DEL is not a blank
    EXPECT_EQ(rtl::Trim(" \n "), "");
    EXPECT_TRUE(rtl::IsBlank(""));
    EXPECT_TRUE(rtl::IsBlank(" \t\v\x01"));
    EXPECT_FALSE(rtl::IsBlank("  .  "));
    // The replacement is not searched again, so a `to` holding `from` ends.
    EXPECT_EQ(rtl::ReplaceAll("a%a%", "%", "%%"), "a%%a%%");
    EXPECT_EQ(rtl::ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(rtl::ReplaceAll("text", "", "x"), "text");
}
