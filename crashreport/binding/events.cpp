#include "crashreport/binding/events.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "crashreport/options/module_identity.h"
#include "crashreport/binding/handling_thread.h"
#include "crashreport/binding/module_exports.h"
#include "crashreport/modules/stored_data_loader.h"

namespace crashreport {
namespace {

std::recursive_mutex g_componentsLock;

// The module that contains the exception address, when it is not ours.
std::uintptr_t ForeignModuleOf(const TTavrelExceptionRecord& record)
{
    const TModuleHandle module = ModuleHandleOfAddress(record.ExceptionAddress);
    return module != 0 && module != ReporterModuleHandle() ? module : 0;
}

template <typename F> F ForeignExport(const TTavrelExceptionRecord& record, const char* name)
{
    const std::uintptr_t module = ForeignModuleOf(record);
    return module ? reinterpret_cast<F>(FindModuleExport(module, name)) : nullptr;
}

// Steps 2 and 3: the components from the last registered, then the global handler.
template <typename Call> void RunLocal(Call call)
{
    for (const TTavrelEventHandlers* c : TTavrelLogList::Instance().InDispatchOrder()) call(*c);
    call(GlobalEventHandlers());
}

void CopyToShortString(const std::string& text, TShortString* out, int capacity)
{
    if (!out) return;
    const std::size_t n = std::min<std::size_t>({text.size(), 255, capacity < 0 ? 0 : std::size_t(capacity)});
    std::memcpy(out->Chars, text.data(), n);
    out->Length = std::uint8_t(n);
}

std::string FromShortString(const TShortString* s) { return s ? std::string(s->Chars, s->Length) : std::string(); }

// While an export runs, the given record is the current one; its text lives
// in this module's memory for that time.
class TCurrentRecordScope {
public:
    explicit TCurrentRecordScope(const TTavrelExceptionRecord* record) : saved_(CurrentExceptionRecord())
    {
        if (record) {
            text_ = record->Text ? record->Text : "";
            CurrentExceptionRecord() = *record;
            CurrentExceptionRecord().Text = text_.c_str();
        }
    }
    ~TCurrentRecordScope() { CurrentExceptionRecord() = saved_; }
    TCurrentRecordScope(const TCurrentRecordScope&) = delete;
    TCurrentRecordScope& operator=(const TCurrentRecordScope&) = delete;
    const TTavrelExceptionRecord& Record() const { return CurrentExceptionRecord(); }

private:
    TTavrelExceptionRecord saved_;
    std::string text_;
};

// The modules' stored data asks its passwords through the events, with the
// record of the exception being reported. Installed when the event layer is
// part of the program (anything that registers a handler links this file).
const bool g_passwordRequestsInstalled = [] {
    TPasswordRequests requests;
    requests.FromModule = [](std::uintptr_t module) {
        return RequestModulePassword(module, TTavrelExceptionRecord(CurrentExceptionRecord()));
    };
    requests.FromLocalHandlers = [] { return RequestLocalPassword(TTavrelExceptionRecord(CurrentExceptionRecord())); };
    SetPasswordRequests(requests);
    return true;
}();

} // namespace

TTavrelLogList& TTavrelLogList::Instance()
{
    static TTavrelLogList list;
    return list;
}

void TTavrelLogList::Register(const TTavrelEventHandlers* component)
{
    std::lock_guard<std::recursive_mutex> lock(g_componentsLock);
    if (component && std::find(items_.begin(), items_.end(), component) == items_.end()) items_.push_back(component);
}

void TTavrelLogList::Unregister(const TTavrelEventHandlers* component)
{
    std::lock_guard<std::recursive_mutex> lock(g_componentsLock);
    std::erase(items_, component);
}

std::vector<const TTavrelEventHandlers*> TTavrelLogList::InDispatchOrder() const
{
    std::lock_guard<std::recursive_mutex> lock(g_componentsLock);
    return std::vector<const TTavrelEventHandlers*>(items_.rbegin(), items_.rend());
}

int TTavrelLogList::Count() const
{
    std::lock_guard<std::recursive_mutex> lock(g_componentsLock);
    return int(items_.size());
}

TTavrelEventHandlers& GlobalEventHandlers()
{
    static TTavrelEventHandlers handlers;
    return handlers;
}

TTavrelExceptionRecord& CurrentExceptionRecord()
{
    static TTavrelExceptionRecord record;
    return record;
}

void DispatchExceptionNotify(const TTavrelExceptionRecord& record, bool& handle)
{
    if (auto f = ForeignExport<decltype(&TavrelLog_ExceptionNotifyEvent)>(record, "TavrelLog_ExceptionNotifyEvent"))
        RunInHandlingThread([&] { f(&record, &handle); });
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnExceptionNotify) RunInHandlingThread([&] { h.OnExceptionNotify(h.Data, record, handle); });
    });
}

void DispatchExceptionActionNotify(const TTavrelExceptionRecord& record, int action, int* value)
{
    if (auto f = ForeignExport<decltype(&TavrelLog_ExceptionActionNotifyEvent)>(record,
                                                                                "TavrelLog_ExceptionActionNotifyEvent"))
        RunInHandlingThread([&] { f(&record, action, value); });
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnExceptionActionNotify)
            RunInHandlingThread([&] { h.OnExceptionActionNotify(h.Data, record, action, value); });
    });
}

void DispatchExceptionErrorNotify(const TTavrelExceptionRecord& record, TTavrelLogErrorCode error, int* value)
{
    if (auto f = ForeignExport<decltype(&TavrelLog_ExceptionErrorNotifyEvent)>(record,
                                                                               "TavrelLog_ExceptionErrorNotifyEvent"))
        RunInHandlingThread([&] { f(&record, error, value); });
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnExceptionErrorNotify)
            RunInHandlingThread([&] { h.OnExceptionErrorNotify(h.Data, record, error, value); });
    });
}

void DispatchCustomDataRequest(const TTavrelExceptionRecord& record, std::string& customData)
{
    if (auto f =
            ForeignExport<decltype(&TavrelLog_CustomDataRequestEvent)>(record, "TavrelLog_CustomDataRequestEvent")) {
        RunInHandlingThread([&] {
            char* text = customData.data();
            f(&record, &text);
            customData = text ? text : "";
        });
    }
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnCustomDataRequest) RunInHandlingThread([&] { h.OnCustomDataRequest(h.Data, record, customData); });
    });
}

void DispatchAttachedFilesRequest(const TTavrelExceptionRecord& record, TTavrelStrings& files)
{
    if (auto f = ForeignExport<decltype(&TavrelLog_AttachedFilesRequestEvent)>(record,
                                                                               "TavrelLog_AttachedFilesRequestEvent"))
        RunInHandlingThread([&] { f(&record, &files); });
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnAttachedFilesRequest) RunInHandlingThread([&] { h.OnAttachedFilesRequest(h.Data, record, files); });
    });
}

void DispatchCustomFieldsRequest(const TTavrelExceptionRecord& record, TTavrelStrings& names, TTavrelStrings& values)
{
    if (auto f =
            ForeignExport<decltype(&TavrelLog_CustomFieldsRequestEvent)>(record, "TavrelLog_CustomFieldsRequestEvent"))
        RunInHandlingThread([&] { f(&record, &names, &values); });
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnCustomFieldsRequest)
            RunInHandlingThread([&] { h.OnCustomFieldsRequest(h.Data, record, names, values); });
    });
}

std::string RequestLocalPassword(const TTavrelExceptionRecord& record)
{
    std::string password;
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnPasswordRequestEx)
            RunInHandlingThread([&] { h.OnPasswordRequestEx(h.Data, record, password); });
        else if (h.OnPasswordRequest)
            RunInHandlingThread([&] { h.OnPasswordRequest(h.Data, password); });
    });
    return password;
}

std::string RequestModulePassword(std::uintptr_t module, const TTavrelExceptionRecord& record)
{
    if (module == 0 || module == ReporterModuleHandle()) return RequestLocalPassword(record);
    TShortString password;
    if (auto ex = reinterpret_cast<decltype(&TavrelLog_PasswordRequestEventEx)>(
            FindModuleExport(module, "TavrelLog_PasswordRequestEventEx")))
        RunInHandlingThread([&] { ex(&record, &password, 255); });
    else if (auto plain = reinterpret_cast<decltype(&TavrelLog_PasswordRequestEvent)>(
                 FindModuleExport(module, "TavrelLog_PasswordRequestEvent")))
        RunInHandlingThread([&] { plain(&password, 255); });
    return FromShortString(&password);
}

} // namespace crashreport

using namespace crashreport;

// The exports run this module's components and global handler (steps 2
// and 3) with the caller's record as the current one. Exception objects
// need no conversion here: class tests go by name and work across modules.
extern "C" __attribute__((visibility("default"))) void
TavrelLog_ExceptionNotifyEvent(const TTavrelExceptionRecord* record, bool* handle)
{
    TCurrentRecordScope scope(record);
    bool value = handle ? *handle : true;
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnExceptionNotify) RunInHandlingThread([&] { h.OnExceptionNotify(h.Data, scope.Record(), value); });
    });
    if (handle) *handle = value;
}

extern "C" __attribute__((visibility("default"))) void
TavrelLog_ExceptionActionNotifyEvent(const TTavrelExceptionRecord* record, int action, int* value)
{
    TCurrentRecordScope scope(record);
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnExceptionActionNotify)
            RunInHandlingThread([&] { h.OnExceptionActionNotify(h.Data, scope.Record(), action, value); });
    });
}

extern "C" __attribute__((visibility("default"))) void
TavrelLog_ExceptionErrorNotifyEvent(const TTavrelExceptionRecord* record, int error, int* value)
{
    TCurrentRecordScope scope(record);
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnExceptionErrorNotify)
            RunInHandlingThread(
                [&] { h.OnExceptionErrorNotify(h.Data, scope.Record(), TTavrelLogErrorCode(error), value); });
    });
}

extern "C" __attribute__((visibility("default"))) void TavrelLog_PasswordRequestEvent(TShortString* password,
                                                                                      int capacity)
{
    std::string text = FromShortString(password);
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnPasswordRequest) RunInHandlingThread([&] { h.OnPasswordRequest(h.Data, text); });
    });
    CopyToShortString(text, password, capacity);
}

extern "C" __attribute__((visibility("default"))) void
TavrelLog_PasswordRequestEventEx(const TTavrelExceptionRecord* record, TShortString* password, int capacity)
{
    TCurrentRecordScope scope(record);
    std::string text = FromShortString(password);
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnPasswordRequestEx)
            RunInHandlingThread([&] { h.OnPasswordRequestEx(h.Data, scope.Record(), text); });
        else if (h.OnPasswordRequest)
            RunInHandlingThread([&] { h.OnPasswordRequest(h.Data, text); });
    });
    CopyToShortString(text, password, capacity);
}

extern "C" __attribute__((visibility("default"))) void
TavrelLog_CustomDataRequestEvent(const TTavrelExceptionRecord* record, char** customData)
{
    TCurrentRecordScope scope(record);
    // The answer stays valid in this module's memory until the next request.
    static thread_local std::string answer;
    answer = customData && *customData ? *customData : "";
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnCustomDataRequest) RunInHandlingThread([&] { h.OnCustomDataRequest(h.Data, scope.Record(), answer); });
    });
    if (customData) *customData = answer.data();
}

extern "C" __attribute__((visibility("default"))) void
TavrelLog_AttachedFilesRequestEvent(const TTavrelExceptionRecord* record, TTavrelStrings* files)
{
    TCurrentRecordScope scope(record);
    if (!files) return;
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnAttachedFilesRequest)
            RunInHandlingThread([&] { h.OnAttachedFilesRequest(h.Data, scope.Record(), *files); });
    });
}

extern "C" __attribute__((visibility("default"))) void
TavrelLog_CustomFieldsRequestEvent(const TTavrelExceptionRecord* record, TTavrelStrings* names, TTavrelStrings* values)
{
    TCurrentRecordScope scope(record);
    if (!names || !values) return;
    RunLocal([&](const TTavrelEventHandlers& h) {
        if (h.OnCustomFieldsRequest)
            RunInHandlingThread([&] { h.OnCustomFieldsRequest(h.Data, scope.Record(), *names, *values); });
    });
}
