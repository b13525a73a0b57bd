#pragma once
// Errors of the packing codecs. Damaged or unsuitable input is reported with
// one of these (or with the runtime's file errors for files that cannot be
// opened, read or written); the codecs never crash on bad input.
#include "platform/rtl/exception.h"

namespace crashreport::codecs {

class ECodecError : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

// A gzip member or zlib stream that is damaged, truncated or too large.
class EGzipError : public ECodecError {
public:
    using ECodecError::ECodecError;
};

// Text that is not valid base64.
class EBase64Error : public ECodecError {
public:
    using ECodecError::ECodecError;
};

// Compression failed (zlib reported an error or ran out of memory).
class ECompressionError : public ECodecError {
public:
    using ECodecError::ECodecError;
};

// An entry that cannot be stored in a tar archive (bad name, too large).
class ETarError : public ECodecError {
public:
    using ECodecError::ECodecError;
};

// Writing a file failed.
class EFWriteError : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

} // namespace crashreport::codecs
