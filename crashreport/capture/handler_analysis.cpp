#include "crashreport/capture/handler_analysis.h"

#include "crashreport/capture/capture_state.h"
#include "platform/rtl/safe_call.h"

#include <cstring>

extern "C" _Unwind_Reason_Code __gxx_personality_v0(int version, _Unwind_Action actions,
                                                    _Unwind_Exception_Class exceptionClass,
                                                    _Unwind_Exception* exception, _Unwind_Context* context);

namespace crashreport {
namespace {

constexpr int kCacheSize = 10;

struct TCacheEntry {
    void* Address;
    const std::type_info* Type;
    std::uintptr_t RaiseFrame;
    TAnalysis Answer;
};

TRaiseLock g_cacheLock;
TCacheEntry g_cache[kCacheSize];
int g_cacheCount = 0;
std::atomic<const void*> g_bodyWrappers[2] = {};

// DWARF pointer encodings of the LSDA.
enum : unsigned char {
    peAbsptr = 0x00,
    peUleb128 = 0x01,
    peUdata2 = 0x02,
    peUdata4 = 0x03,
    peUdata8 = 0x04,
    peSleb128 = 0x09,
    peSdata2 = 0x0A,
    peSdata4 = 0x0B,
    peSdata8 = 0x0C,
    peOmit = 0xFF,
};

std::uintptr_t ReadUleb(const unsigned char*& p)
{
    std::uintptr_t result = 0;
    unsigned shift = 0;
    unsigned char byte;
    do {
        byte = *p++;
        result |= static_cast<std::uintptr_t>(byte & 0x7F) << shift;
        shift += 7;
    } while (byte & 0x80);
    return result;
}

std::size_t EncodedSize(unsigned char encoding)
{
    switch (encoding & 0x0F) {
    case peAbsptr: return sizeof(void*);
    case peUdata2:
    case peSdata2: return 2;
    case peUdata4:
    case peSdata4: return 4;
    case peUdata8:
    case peSdata8: return 8;
    default: return 0;
    }
}

// Skips one encoded value; false for an encoding we cannot step over.
bool SkipEncoded(unsigned char encoding, const unsigned char*& p)
{
    if ((encoding & 0x0F) == peUleb128 || (encoding & 0x0F) == peSleb128) {
        ReadUleb(p);
        return true;
    }
    const std::size_t n = EncodedSize(encoding);
    p += n;
    return n != 0;
}

// Whether the type-table entry `index` (1-based, as handlerSwitchValue) is
// null, i.e. the handler is a catch (...). -1 when the table cannot be read.
int IsCatchAllEntry(const unsigned char* lsda, int index)
{
    if (!lsda || index <= 0) return -1;
    const unsigned char* p = lsda;
    const unsigned char lpStartEncoding = *p++;
    if (lpStartEncoding != peOmit && !SkipEncoded(lpStartEncoding, p)) return -1;
    const unsigned char ttypeEncoding = *p++;
    if (ttypeEncoding == peOmit) return -1;
    const std::uintptr_t offset = ReadUleb(p);
    const unsigned char* base = p + offset;
    const std::size_t size = EncodedSize(ttypeEncoding);
    if (!size) return -1;
    const unsigned char* entry = base - static_cast<std::size_t>(index) * size;
    std::uint64_t raw = 0;
    std::memcpy(&raw, entry, size); // little-endian: the low bytes
    return raw == 0 ? 1 : 0;
}

bool IsBodyWrapper(std::uintptr_t regionStart)
{
    for (const auto& w : g_bodyWrappers) {
        const auto a = reinterpret_cast<std::uintptr_t>(w.load(std::memory_order_relaxed));
        if (a && regionStart >= a && regionStart < a + 64) return true;
    }
    return false;
}

bool IsSafeCallWrapper(std::uintptr_t regionStart)
{
    const auto a = reinterpret_cast<std::uintptr_t>(rtl::SafeCallWrapperAddress());
    return regionStart >= a && regionStart < a + 64;
}

struct TWalk {
    _Unwind_Exception* Exception;
    TCxaException* Header;
    TWalkStart Start;
    bool Started;
    TAnalysis Answer;
    bool Stop;
};

_Unwind_Reason_Code VisitFrame(_Unwind_Context* context, void* argument)
{
    auto& walk = *static_cast<TWalk*>(argument);
    if (walk.Stop) return _URC_END_OF_STACK;
    if (!walk.Started) {
        if (walk.Start.FaultIp) {
            int before = 0;
            walk.Started = _Unwind_GetIPInfo(context, &before) == walk.Start.FaultIp;
        } else {
            walk.Started = _Unwind_GetCFA(context) > walk.Start.CfaAbove;
        }
        if (!walk.Started) return _URC_NO_REASON;
    }
    const auto* lsda = static_cast<const unsigned char*>(_Unwind_GetLanguageSpecificData(context));
    if (!lsda) return _URC_NO_REASON;

    TCxaException* h = walk.Header;
    const TCxaException saved = *h;
    const _Unwind_Reason_Code rc =
        __gxx_personality_v0(1, _UA_SEARCH_PHASE, walk.Exception->exception_class, walk.Exception, context);
    const int switchValue = h->handlerSwitchValue;
    // The real search phase writes these again; leave them as they were.
    h->handlerSwitchValue = saved.handlerSwitchValue;
    h->actionRecord = saved.actionRecord;
    h->languageSpecificData = saved.languageSpecificData;
    h->catchTemp = saved.catchTemp;
    h->adjustedPtr = saved.adjustedPtr;
    if (rc != _URC_HANDLER_FOUND) return _URC_NO_REASON;
    if (switchValue <= 0) { // terminate: a noexcept frame, or a throw() list the type is not in
        // Above a handler that takes the exception the unwinder never looks:
        // a call it cannot throw through (a noexcept callee leaves no entry
        // in its caller's table) only means terminate for a new raise.
        if (walk.Answer.Taking == 0) walk.Answer.Terminates = true;
        walk.Stop = true;
        return _URC_END_OF_STACK;
    }
    const std::uintptr_t regionStart = _Unwind_GetRegionStart(context);
    const int catchAll = IsCatchAllEntry(lsda, switchValue);
    std::uint8_t kind = catchAll == 1 ? hkCatchAll : hkTyped;
    if (IsSafeCallWrapper(regionStart)) kind = hkSafeCall;
    if (walk.Answer.Taking == 0) {
        walk.Answer.FirstKind = kind;
        if (kind == hkCatchAll && IsBodyWrapper(regionStart)) {
            walk.Answer.CaptureMode = cmThreadBody;
            walk.Answer.Taking = 1;
            walk.Stop = true;
            return _URC_END_OF_STACK;
        }
    }
    ++walk.Answer.Taking;
    return _URC_NO_REASON;
}

} // namespace

TExceptionObject ObjectOfUnwindException(_Unwind_Exception* exception)
{
    if (!exception) return {};
    auto* header = reinterpret_cast<TCxaException*>(exception + 1) - 1;
    if (exception->exception_class == kCxxPrimaryClass) return TExceptionObject{exception + 1, header->exceptionType};
    if (exception->exception_class == kCxxDependentClass) {
        // The dependent header keeps the primary object where the type would be.
        void* primary = reinterpret_cast<void*>(header->exceptionType);
        auto* primaryHeader = static_cast<TCxaException*>(primary) - 1;
        return TExceptionObject{primary, primaryHeader->exceptionType};
    }
    return {};
}

TAnalysis WalkHandlers(_Unwind_Exception* exception, const TWalkStart& start)
{
    TWalk walk{exception, reinterpret_cast<TCxaException*>(exception + 1) - 1, start, false, {}, false};
    _Unwind_Backtrace(&VisitFrame, &walk);
    TAnalysis& a = walk.Answer;
    if (a.CaptureMode == cmThreadBody) {
        a.Handled = false;
    } else {
        a.Handled = a.Taking > 0 && !a.Terminates;
        if (a.Terminates) a.Taking = 0;
    }
    return a;
}

TAnalysis AnalyseHandlers(_Unwind_Exception* exception, const TWalkStart& start, void* address,
                          std::uintptr_t raiseFrame)
{
    const TExceptionObject object = ObjectOfUnwindException(exception);
    {
        TRaiseLockGuard guard(g_cacheLock);
        if (guard.Held())
            for (int i = 0; i < g_cacheCount; ++i)
                if (g_cache[i].Address == address && g_cache[i].Type == object.Type &&
                    g_cache[i].RaiseFrame == raiseFrame)
                    return g_cache[i].Answer;
    }
    const TAnalysis answer = WalkHandlers(exception, start);
    TRaiseLockGuard guard(g_cacheLock);
    if (guard.Held()) {
        if (g_cacheCount == kCacheSize) {
            std::memmove(&g_cache[0], &g_cache[1], sizeof(TCacheEntry) * (kCacheSize - 1));
            --g_cacheCount;
        }
        g_cache[g_cacheCount++] = TCacheEntry{address, object.Type, raiseFrame, answer};
    }
    return answer;
}

void ClearAnalysisCache()
{
    TRaiseLockGuard guard(g_cacheLock);
    g_cacheCount = 0;
}

int AnalysisCacheCount()
{
    TRaiseLockGuard guard(g_cacheLock);
    return g_cacheCount;
}

void SetThreadBodyWrappers(const void* first, const void* second)
{
    g_bodyWrappers[0] = first;
    g_bodyWrappers[1] = second;
}

} // namespace crashreport
