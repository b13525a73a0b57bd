#include "crashreport/errorlog/diagnostic.h"

#include "crashreport/errorlog/warnings.h"
#include "platform/kernel/memory.h"
#include "platform/rtl/format.h"

namespace crashreport {

std::string FormatDiagnosticStack(const std::vector<TInternalErrorFrame>& stack)
{
    std::string text;
    for (std::size_t i = 0; i < stack.size(); ++i) {
        const TInternalErrorFrame& frame = stack[i];
        if (i > 0) text += std::string(12, ' ');
        text += rtl::Format("%02X $", static_cast<unsigned>(i & 0xFF));
        text += FormatLogAddress(reinterpret_cast<const void*>(frame.Address)) + " - [" +
            FormatLogAddress(reinterpret_cast<const void*>(frame.ModuleBase)) + "] " + frame.ModuleFileName + " ";
        if (frame.Line > 0)
            text += " - " + frame.UnitName + " - " + frame.ClassName + " - " + frame.ProcedureName + " - " +
                std::to_string(frame.Line);
        text += "\r\n";
    }
    return text;
}

std::string BuildDiagnosticText(const TDiagnosticFacts& facts)
{
    return "Version   : " + facts.Version + "\r\n" + "Date      : " + facts.Date + "\r\n" + "OS        : " + facts.OS +
        "\r\n" + "RAD       : " + facts.RAD + "\r\n" + "Dump      : " + facts.Dump + "\r\n" +
        "Section   : " + facts.Section + "\r\n" + "LastExcept: " + facts.LastExcept + "\r\n" + "Address   : $" +
        facts.Address + "\r\n" + "Exception : " + facts.ExceptionClass + "\r\n" + "Message   : " + facts.Message +
        "\r\n" + "Call Stack: " + FormatDiagnosticStack(facts.Stack);
}

std::string FormatCodeDump(const void* address)
{
    constexpr std::size_t kLength = 32;
    if (address == nullptr || !kernel::IsMemoryReadable(address, kLength)) return {};
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const unsigned char*>(address);
    std::string text;
    for (std::size_t i = 0; i < kLength; ++i) {
        text += '$';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
        text += ' ';
    }
    return text;
}

} // namespace crashreport
