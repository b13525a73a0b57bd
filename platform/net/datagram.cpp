#include "platform/net/datagram.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "platform/kernel/unique_fd.h"

namespace net {

bool SendLocalDatagram(const std::string& path, const void* data, std::size_t size)
{
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    kernel::TUniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return false;
    const ssize_t sent = ::sendto(fd.Get(), data, size, MSG_DONTWAIT | MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return sent == static_cast<ssize_t>(size);
}

} // namespace net
