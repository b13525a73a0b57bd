#pragma once
// One datagram to a local (Unix-domain) datagram socket: the stand-in for
// writing a message to a mailslot. Not signal-safe (it builds the address).
#include <cstddef>
#include <string>

namespace net {

// False when no socket listens at path or the datagram could not be sent.
bool SendLocalDatagram(const std::string& path, const void* data, std::size_t size);

} // namespace net
