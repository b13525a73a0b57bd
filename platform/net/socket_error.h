#pragma once
// Errors of the socket client. ETavrelSocketError carries the whole message,
// which for protocol failures is the transcript of the exchange; EAbort is
// the silent abort raised instead when the client is told to keep quiet.
#include "platform/rtl/exception.h"

namespace net {

class ETavrelSocketError : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

class EAbort : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

} // namespace net
