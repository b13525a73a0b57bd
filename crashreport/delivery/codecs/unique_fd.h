#pragma once
// Owner of one POSIX file descriptor: closes it when it goes out of scope.
#include <unistd.h>
#include <utility>

namespace crashreport::codecs {

class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : fd_(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& other) noexcept : fd_(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    // Closes now; the close result matters for files being written.
    int Reset() {
        int result = 0;
        if (fd_ >= 0) result = ::close(std::exchange(fd_, -1));
        return result;
    }

private:
    int fd_ = -1;
};

} // namespace crashreport::codecs
