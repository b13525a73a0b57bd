// Inlined calls in the debug data (format 516): every address of inlined
// code gives the inlined function's own unit, procedure and line, then each
// function it was inlined into at the line of its call. Blobs written by
// the encoder of the older formats still read the same.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>

#include "crashreport/modules/debug_data.h"
#include "crashreport/modules/stored_data_format.h"
#include "tools/debug_data_encoder.h"

namespace {

using namespace crashreport;

// Write() of log.cpp calls DecodeDayCount() (clock.h), which calls
// CivilFromDays() (civil.h); both calls are inlined. main() calls
// CivilFromDays() inlined as well, from another line.
tools::TCodeMap InlinedMap()
{
    tools::TCodeMap map;
    map.HandleAddress = 0x400000;
    map.Files = {"log.cpp", "civil.h", "clock.h"};
    map.Functions = {
        {"ns::Calendar", "CivilFromDays(int)", 5},
        {"", "DecodeDayCount(int)", 30},
        {"ns::Log", "Write(char const*)", 70},
        {"", "main", 100},
    };
    // Caller, file, line, parent.
    map.Calls = {
        {2, 0, 75, -1},  // 0: DecodeDayCount inlined into Write at log.cpp:75
        {1, 2, 33, 0},   // 1: CivilFromDays inlined into DecodeDayCount at clock.h:33, itself call 0
        {3, 0, 104, -1}, // 2: CivilFromDays inlined into main at log.cpp:104
    };
    auto row = [&](std::uint64_t start, std::uint64_t end, int file, int line, int function, int call) {
        map.Rows.push_back({start, end, file, line, function, call});
    };
    row(0x401000, 0x401010, 0, 71, 2, -1);
    row(0x401010, 0x401020, 1, 8, 0, 1);
    row(0x401020, 0x401030, 2, 34, 1, 0);
    row(0x401030, 0x401040, 1, 9, 0, 1);
    row(0x401040, 0x401050, 0, 76, 2, -1);
    row(0x401050, 0x401058, 0, 102, 3, -1);
    row(0x401058, 0x401060, 1, 9, 0, 2); // the same function and line as above, another call
    row(0x401060, 0x401068, 1, 9, 0, 1); // and back to the first call: only the call changes
    return map;
}

struct TFrameText {
    std::string Unit, Class, Procedure;
    int Line;
};

std::vector<TFrameText> Chain(const stored::TDebugData& data, std::uintptr_t address)
{
    std::vector<TFrameText> out;
    const auto hit = data.Lookup(0x400000, address);
    if (!hit) return out;
    out.push_back({hit->UnitName, hit->ClassName, hit->ProcedureName, hit->Line});
    for (const auto& c : hit->Callers) out.push_back({c.UnitName, c.ClassName, c.ProcedureName, c.Line});
    return out;
}

void ExpectChain(const stored::TDebugData& data, std::uintptr_t address, const std::vector<TFrameText>& expected)
{
    const auto chain = Chain(data, address);
    ASSERT_EQ(chain.size(), expected.size()) << std::hex << address;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        EXPECT_EQ(chain[i].Unit, expected[i].Unit) << std::hex << address << " level " << i;
        EXPECT_EQ(chain[i].Class, expected[i].Class) << std::hex << address << " level " << i;
        EXPECT_EQ(chain[i].Procedure, expected[i].Procedure) << std::hex << address << " level " << i;
        EXPECT_EQ(chain[i].Line, expected[i].Line) << std::hex << address << " level " << i;
    }
}

const TFrameText kWriteAt75{"log.cpp", "ns::Log", "Write(char const*)", 75};
const TFrameText kDecodeAt33{"clock.h", "", "DecodeDayCount(int)", 33};

TEST(InlinedCalls, EveryLevelHasItsOwnUnitProcedureAndLine)
{
    stored::TDebugData data(tools::EncodeDebugData(InlinedMap(), 516, "key"), 516);
    data.SetNames("key", true);
    ExpectChain(data, 0x401004, {{"log.cpp", "ns::Log", "Write(char const*)", 71}});
    ExpectChain(data, 0x401015, {{"civil.h", "ns::Calendar", "CivilFromDays(int)", 8}, kDecodeAt33, kWriteAt75});
    ExpectChain(data, 0x401020, {{"clock.h", "", "DecodeDayCount(int)", 34}, kWriteAt75});
    ExpectChain(data, 0x40103F, {{"civil.h", "ns::Calendar", "CivilFromDays(int)", 9}, kDecodeAt33, kWriteAt75});
    ExpectChain(data, 0x401040, {{"log.cpp", "ns::Log", "Write(char const*)", 76}});
    ExpectChain(data, 0x401058, {{"civil.h", "ns::Calendar", "CivilFromDays(int)", 9}, {"log.cpp", "", "main", 104}});
    ExpectChain(data, 0x401060, {{"civil.h", "ns::Calendar", "CivilFromDays(int)", 9}, kDecodeAt33, kWriteAt75});
    // A caller's line distance counts from its own first line.
    const auto hit = data.Lookup(0x400000, 0x401015);
    ASSERT_TRUE(hit);
    ASSERT_EQ(hit->Callers.size(), 2u);
    EXPECT_EQ(hit->ProcOffsetLine, 3);
    EXPECT_EQ(hit->Callers[0].ProcOffsetLine, 3);
    EXPECT_EQ(hit->Callers[1].ProcOffsetLine, 5);
}

TEST(InlinedCalls, OlderVersionsKeepTheInnermostFunctionOnly)
{
    for (std::uint16_t version : {480, 502, 515}) {
        stored::TDebugData data(tools::EncodeDebugData(InlinedMap(), version, "key"), version);
        data.SetNames("key", true);
        ExpectChain(data, 0x401015, {{"civil.h", "ns::Calendar", "CivilFromDays(int)", 8}});
        ExpectChain(data, 0x401058, {{"civil.h", "ns::Calendar", "CivilFromDays(int)", 9}});
        ExpectChain(data, 0x401060, {{"civil.h", "ns::Calendar", "CivilFromDays(int)", 9}});
    }
}

TEST(InlinedCalls, CallerNamesAreEncipheredLikeTheOthers)
{
    const auto bytes = tools::EncodeDebugData(InlinedMap(), 516, "right");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find("DecodeDayCount"), std::string::npos);
    EXPECT_EQ(text.find("clock.h"), std::string::npos);
    stored::TDebugData data(bytes, 516);
    data.SetNames("wrong", false);
    const auto hit = data.Lookup(0x400000, 0x401015);
    ASSERT_TRUE(hit);
    ASSERT_EQ(hit->Callers.size(), 2u);
    EXPECT_EQ(hit->Callers[0].ProcedureName.substr(0, 1), "?");
    EXPECT_EQ(hit->Callers[0].UnitName.substr(0, 1), "?");
    EXPECT_EQ(hit->Callers[0].Line, 33); // lines are not enciphered
}

// Cut or damaged data: the lookup never fails worse than losing callers,
// and every caller it gives is one the module has, in a chain no longer than
// the deepest one.
TEST(InlinedCalls, DamagedCallTableNeverGivesCallersTheModuleLacks)
{
    const auto bytes = tools::EncodeDebugData(InlinedMap(), 516, "k");
    const std::set<std::string> procedures = {"Write(char const*)", "DecodeDayCount(int)", "main"};
    const std::uintptr_t addresses[] = {0x401015, 0x401020, 0x401058, 0x401060};
    auto check = [&](const stored::TDebugData& data, const std::string& what) {
        int callers = 0;
        for (std::uintptr_t a : addresses) {
            const auto hit = data.Lookup(0x400000, a);
            if (!hit) continue;
            EXPECT_LE(hit->Callers.size(), 2u) << what;
            for (const auto& c : hit->Callers) {
                ++callers;
                if (!c.ProcedureName.empty()) {
                    EXPECT_TRUE(procedures.count(c.ProcedureName)) << what << ": " << c.ProcedureName;
                }
            }
        }
        return callers;
    };
    int cutCallers = 0;
    for (std::size_t n = 0; n <= bytes.size(); ++n) {
        stored::TDebugData data(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + long(n)), 516);
        data.SetNames("k", true);
        cutCallers += check(data, "cut to " + std::to_string(n));
    }
    stored::TDebugData whole(bytes, 516);
    whole.SetNames("k", true);
    EXPECT_EQ(check(whole, "whole"), 6);
    EXPECT_GT(cutCallers, 0);
    std::mt19937 random(516);
    for (int round = 0; round < 500; ++round) {
        auto damaged = bytes;
        for (int i = 0; i < 3; ++i) damaged[random() % damaged.size()] = std::uint8_t(random());
        stored::TDebugData data(damaged, 516);
        data.SetNames("k", true);
        for (std::uintptr_t a : addresses) {
            const auto first = data.Lookup(0x400000, a), again = data.Lookup(0x400000, a);
            ASSERT_EQ(first.has_value(), again.has_value());
            if (first) {
                EXPECT_EQ(first->Callers.size(), again->Callers.size());
            }
        }
    }
}

// Written by the encoder of format 515 (before the inlined calls), and of
// 480, from this map: kept as bytes so that a change of the reader that
// breaks the older layouts cannot hide behind a changed writer.
//   files alpha.cpp, beta.h; functions ns::Widget.draw(int) const (first
//   line 10), helper(int) (30), ns::Widget.resize(int, int) (20); rows
//   401000 alpha:11 draw, 401004 alpha:12 draw, 401010 beta:31 helper,
//   401020 alpha:21 resize, 401030..401040 alpha:14 draw; handle 400000,
//   password "key".
const std::uint8_t kVersion515[] = {
    0x03, 0x00, 0x00, 0x00, 0x09, 0xE6, 0xA8, 0xB9, 0xE9, 0x75, 0x9B, 0x41, 0x1B, 0x41, 0x09, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0x00, 0x0F, 0x00, 0xF0, 0xFF, 0x8F, 0xE3,
    0xB6, 0xA8, 0xF6, 0x3C, 0xDC, 0x4C, 0x1F, 0x18, 0xF2, 0x59, 0xB8, 0xF6, 0x5A, 0x81, 0x0A, 0xE9, 0xB7, 0xF3,
    0xBB, 0x43, 0xDC, 0x46, 0x0C, 0x54, 0xA6, 0x0B, 0x00, 0xF0, 0xFF, 0x06, 0x06, 0xE5, 0xA1, 0xBD, 0xE0, 0x3A,
    0xDD, 0x1D, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x0F,
    0x00, 0xF0, 0xFF, 0x0B, 0xEF, 0xA1, 0xA5, 0xF1, 0x71, 0xC7, 0x0A, 0x02, 0x5F, 0xA6, 0x13, 0x0B, 0x00, 0xF0,
    0xFF, 0x05, 0x86, 0xC0, 0xC9, 0x81, 0x14, 0x13, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00,
    0x00, 0x40, 0x00, 0x00, 0x00, 0x0F, 0x00, 0xF0, 0xFF, 0x90, 0xF5, 0xA1, 0xBA, 0xE8, 0x6E, 0xD0, 0x0A, 0x02,
    0x5F, 0xA6, 0x16, 0xF7, 0xF1, 0x47, 0x81, 0xD7, 0x05, 0x86, 0xF6, 0xC9, 0x81, 0x14, 0x0B, 0x00, 0xF0, 0xFF,
    0xEB, 0xFF, 0xEF, 0xFF, 0xF3, 0xFF, 0x0F, 0x00, 0x0F, 0x00, 0xF0, 0xFF, 0x10, 0xA9, 0xA0, 0xBB, 0xE0, 0x63,
    0x9D, 0x4B, 0x05, 0x45, 0xFB, 0x1A, 0xB4, 0xF7, 0x47, 0x86, 0x8A, 0x3B, 0x00, 0xF0, 0xFF,
};
const std::uint8_t kVersion480[] = {
    0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x09, 0xC6, 0xCB, 0xD7, 0xCF, 0xC6, 0x89, 0xC4, 0xD7, 0xD7, 0x09,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0x00, 0x0F, 0x00, 0xF0, 0xFF,
    0x1A, 0xC9, 0xD4, 0x9D, 0x9D, 0xF0, 0xCE, 0xC3, 0xC0, 0xC2, 0xD3, 0x89, 0xC3, 0xD5, 0xC6, 0xD0, 0x8F, 0xCE, 0xC9,
    0xD3, 0x8E, 0x87, 0xC4, 0xC8, 0xC9, 0xD4, 0xD3, 0x0B, 0x00, 0xF0, 0xFF, 0x06, 0x06, 0xC5, 0xC2, 0xD3, 0xC6, 0x89,
    0xCF, 0x1D, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x0F, 0x00,
    0xF0, 0xFF, 0x0B, 0xCF, 0xC2, 0xCB, 0xD7, 0xC2, 0xD5, 0x8F, 0xCE, 0xC9, 0xD3, 0x8E, 0x0B, 0x00, 0xF0, 0xFF, 0x09,
    0xC6, 0xCB, 0xD7, 0xCF, 0xC6, 0x89, 0xC4, 0xD7, 0xD7, 0x13, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00,
    0x00, 0x00, 0x45, 0x00, 0x00, 0x00, 0x0F, 0x00, 0xF0, 0xFF, 0x1B, 0xC9, 0xD4, 0x9D, 0x9D, 0xF0, 0xCE, 0xC3, 0xC0,
    0xC2, 0xD3, 0x89, 0xD5, 0xC2, 0xD4, 0xCE, 0xDD, 0xC2, 0x8F, 0xCE, 0xC9, 0xD3, 0x8B, 0x87, 0xCE, 0xC9, 0xD3, 0x8E,
    0x0B, 0x00, 0xF0, 0xFF, 0xEB, 0xFF, 0xEF, 0xFF, 0xF3, 0xFF, 0x0F, 0x00, 0x0F, 0x00, 0xF0, 0xFF, 0x10, 0x89, 0xC3,
    0xD5, 0xC6, 0xD0, 0x8F, 0xCE, 0xC9, 0xD3, 0x8E, 0x87, 0xC4, 0xC8, 0xC9, 0xD4, 0xD3, 0x3B, 0x00, 0xF0, 0xFF,

};

TEST(InlinedCalls, BlobsOfTheOlderFormatsStillLoad)
{
    for (const auto& [bytes, size, version] :
         {std::tuple{kVersion515, sizeof kVersion515, 515}, std::tuple{kVersion480, sizeof kVersion480, 480}}) {
        stored::TDebugData data(std::vector<std::uint8_t>(bytes, bytes + size), std::uint16_t(version));
        data.SetNames("key", true);
        ExpectChain(data, 0x401000, {{"alpha.cpp", "ns::Widget", "draw(int) const", 11}});
        ExpectChain(data, 0x401007, {{"alpha.cpp", "ns::Widget", "draw(int) const", 12}});
        ExpectChain(data, 0x401010, {{"beta.h", "", "helper(int)", 31}});
        ExpectChain(data, 0x40102F, {{"alpha.cpp", "ns::Widget", "resize(int, int)", 21}});
        ExpectChain(data, 0x40103F, {{"alpha.cpp", "ns::Widget", "draw(int) const", 14}});
        EXPECT_FALSE(data.Lookup(0x400000, 0x401040)) << version;
        EXPECT_EQ(data.Lookup(0x400000, 0x401007)->ProcOffsetLine, 2) << version;
    }
}

} // namespace
