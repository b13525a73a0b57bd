#pragma once
// Enumerations and option sets of the crash reporter's options record. The
// ordinal of an enumeration is its stored byte; a set's bit n is member n and
// is stored as its bytes, low byte first.
#include <cstdint>
#include <initializer_list>

namespace crashreport {

template <typename Member, unsigned BitCount> class TSet {
    static_assert(BitCount >= 1 && BitCount <= 64);

public:
    static constexpr unsigned Bits = BitCount;
    static constexpr unsigned ByteCount = (BitCount + 7) / 8;
    static constexpr std::uint64_t Mask = BitCount == 64 ? ~0ull : (1ull << BitCount) - 1;

    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<Member> members)
    {
        for (Member m : members) Include(m);
    }
    static constexpr TSet FromBits(std::uint64_t bits)
    {
        TSet s;
        s.bits_ = bits & Mask;
        return s;
    }
    static constexpr TSet All() { return FromBits(Mask); }

    constexpr std::uint64_t ToBits() const { return bits_; }
    constexpr bool Contains(Member m) const { return (bits_ & Bit(m)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TSet& Include(Member m)
    {
        bits_ |= Bit(m);
        return *this;
    }
    constexpr TSet& Exclude(Member m)
    {
        bits_ &= ~Bit(m);
        return *this;
    }
    constexpr TSet& Assign(Member m, bool on) { return on ? Include(m) : Exclude(m); }

    friend constexpr TSet operator+(TSet a, TSet b) { return FromBits(a.bits_ | b.bits_); }
    friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(a.bits_ & ~b.bits_); }
    friend constexpr TSet operator*(TSet a, TSet b) { return FromBits(a.bits_ & b.bits_); }
    friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }

private:
    // Members outside the set's bits are never contained.
    static constexpr std::uint64_t Bit(Member m)
    {
        const auto n = static_cast<unsigned>(m);
        return n < BitCount ? 1ull << n : 0;
    }

    std::uint64_t bits_ = 0;
};

enum TTerminateAction : std::uint8_t {
    taTerminate, // end the process
    taRestart,   // start the program again, then end the process
};
inline constexpr unsigned TerminateActionCount = 2;

enum TDialogTab : std::uint8_t { tabGeneral, tabCallStack, tabModules, tabCPU, tabOther };
inline constexpr unsigned DialogTabCount = 5;

enum TMailMethod : std::uint8_t { mmNone, mmMailClient, mmSmtpClient, mmSmtpServer };
inline constexpr unsigned MailMethodCount = 4;

enum TWebMethod : std::uint8_t { wmNone, wmHttp, wmHttps, wmFtp };
inline constexpr unsigned WebMethodCount = 4;

enum TLogFlag : std::uint8_t {
    lgSkipRepeatedErrors,
    lgAddReproduceText,
    lgResetOnNewVersion,
    lgComputerNameInFileName,
    lgModulesSection,
    lgCpuSection,
};
using TLogFlags = TSet<TLogFlag, 8>;

enum TSendFlag : std::uint8_t {
    sfShowSendDialogs,
    sfShowResultMessage,
    sfLoadWholeLog,
    sfAttachXmlCopy,
    sfAttachScreenshot,
    sfScreenshotForegroundOnly,
    sfAttachLastHtmlPage,
    sfSendInBackground,
    sfTimestampFileNames,
    sfCompressAttachments,
};
using TSendFlags = TSet<TSendFlag, 16>;

enum TDialogFlag : std::uint8_t {
    dfShowDialog,
    dfSendChecked,
    dfScreenshotChecked,
    dfShowCopyButton,
    dfShowDetailsButton,
    dfStartDetailed,
    dfStayOnTop,
    dfOwnLook,
};
using TDialogFlags = TSet<TDialogFlag, 8>;

enum TStackFlag : std::uint8_t {
    stDllFrames,
    stPackageFrames,
    stRuntimeThreads,
    stSystemThreads,
    stLineOffsets,
};
using TStackFlags = TSet<TStackFlag, 8>;

enum TBehaviourFlag : std::uint8_t {
    bhCrashRule,
    bhPauseRuntimeThreads,
    bhKeepMainThreadRunning,
    bhPauseSystemThreads,
    bhMainModuleOptions,
    bhClipboardOnSendFailure,
    bhStoreFailedReports,
};
using TBehaviourFlags = TSet<TBehaviourFlag, 8>;

// Bit n switches item n of the report's general section (0 "Start Date" to
// 32 "DHCP"); bits 33 to 39 have no item.
using TReportItems = TSet<unsigned, 40>;
inline constexpr unsigned ReportItemCount = 33;

} // namespace crashreport
