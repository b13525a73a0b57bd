#include "platform/rtl/codepage.h"

#include <cerrno>
#include <iconv.h>

namespace rtl {
namespace {

// RAII owner of an iconv descriptor.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

std::string Convert(const char* to, const char* from, const std::string& in, const std::string& bad)
{
    Iconv cd(to, from);
    if (!cd.ok()) return in;
    std::string out;
    char buf[256];
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    while (left > 0) {
        char* dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd.get(), &src, &left, &dst, &room);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            out += bad; // invalid or incomplete sequence: skip one byte
            ++src;
            --left;
        }
    }
    return out;
}

} // namespace

std::string CP936ToUtf8(const std::string& gbk) { return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD"); }
std::string Utf8ToCP936(const std::string& utf8) { return Convert("GBK", "UTF-8", utf8, "?"); }

} // namespace rtl
