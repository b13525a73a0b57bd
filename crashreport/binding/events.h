#pragma once
// The reporter's events: the registered event components of this module
// (`TTavrelLogList`), this module's global handlers, the exported event
// functions every module carrying the reporter has, and the dispatch that
// runs them in order:
//   1. the export of the module that contains the exception address, when
//      that is not the reporter's own module;
//   2. the registered components with a handler for the event, from the
//      last registered to the first;
//   3. this module's global handler.
// Not signal-safe: handlers run arbitrary code.
#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/binding/exception_record.h"

namespace crashreport {

using TTavrelStrings = std::vector<std::string>;

// Handlers of one component: each receives the component's data pointer first.
struct TTavrelEventHandlers {
    void* Data = nullptr;
    void (*OnExceptionNotify)(void* data, const TTavrelExceptionRecord& record, bool& handle) = nullptr;
    void (*OnExceptionActionNotify)(void* data, const TTavrelExceptionRecord& record, int action, int* value) = nullptr;
    void (*OnExceptionErrorNotify)(void* data, const TTavrelExceptionRecord& record, TTavrelLogErrorCode error,
                                   int* value) = nullptr;
    void (*OnPasswordRequest)(void* data, std::string& password) = nullptr;
    void (*OnPasswordRequestEx)(void* data, const TTavrelExceptionRecord& record, std::string& password) = nullptr;
    void (*OnCustomDataRequest)(void* data, const TTavrelExceptionRecord& record, std::string& customData) = nullptr;
    void (*OnAttachedFilesRequest)(void* data, const TTavrelExceptionRecord& record, TTavrelStrings& files) = nullptr;
    void (*OnCustomFieldsRequest)(void* data, const TTavrelExceptionRecord& record, TTavrelStrings& names,
                                  TTavrelStrings& values) = nullptr;
};

// The registered event components of this module.
class TTavrelLogList {
public:
    static TTavrelLogList& Instance();
    void Register(const TTavrelEventHandlers* component);
    void Unregister(const TTavrelEventHandlers* component);
    // From the last registered to the first.
    std::vector<const TTavrelEventHandlers*> InDispatchOrder() const;
    int Count() const;

private:
    std::vector<const TTavrelEventHandlers*> items_;
};

// This module's global handlers (Data unused).
TTavrelEventHandlers& GlobalEventHandlers();

// The process-wide record of the exception being reported.
TTavrelExceptionRecord& CurrentExceptionRecord();

// Dispatch of each event kind (steps 1 to 3 above).
void DispatchExceptionNotify(const TTavrelExceptionRecord& record, bool& handle);
void DispatchExceptionActionNotify(const TTavrelExceptionRecord& record, int action, int* value);
void DispatchExceptionErrorNotify(const TTavrelExceptionRecord& record, TTavrelLogErrorCode error, int* value);
void DispatchCustomDataRequest(const TTavrelExceptionRecord& record, std::string& customData);
void DispatchAttachedFilesRequest(const TTavrelExceptionRecord& record, TTavrelStrings& files);
void DispatchCustomFieldsRequest(const TTavrelExceptionRecord& record, TTavrelStrings& names, TTavrelStrings& values);

// The password of a module's protected part: asked from the module's own
// export (PasswordRequestEventEx, else PasswordRequestEvent) when `module`
// is not the reporter's own, else from this module's handlers. Empty when
// nobody answers.
std::string RequestModulePassword(std::uintptr_t module, const TTavrelExceptionRecord& record);
// Steps 2 and 3 of the password request, on this module's handlers.
std::string RequestLocalPassword(const TTavrelExceptionRecord& record);

} // namespace crashreport

// The exported event functions, looked up by name in other modules.
extern "C" {
void TavrelLog_ExceptionNotifyEvent(const crashreport::TTavrelExceptionRecord* record, bool* handle);
void TavrelLog_ExceptionActionNotifyEvent(const crashreport::TTavrelExceptionRecord* record, int action, int* value);
void TavrelLog_ExceptionErrorNotifyEvent(const crashreport::TTavrelExceptionRecord* record, int error, int* value);
void TavrelLog_PasswordRequestEvent(crashreport::TShortString* password, int capacity);
void TavrelLog_PasswordRequestEventEx(const crashreport::TTavrelExceptionRecord* record,
                                      crashreport::TShortString* password, int capacity);
void TavrelLog_CustomDataRequestEvent(const crashreport::TTavrelExceptionRecord* record, char** customData);
void TavrelLog_AttachedFilesRequestEvent(const crashreport::TTavrelExceptionRecord* record,
                                         crashreport::TTavrelStrings* files);
void TavrelLog_CustomFieldsRequestEvent(const crashreport::TTavrelExceptionRecord* record,
                                        crashreport::TTavrelStrings* names, crashreport::TTavrelStrings* values);
}
