#pragma once
// 127.0.0.1 on a port, spelled the same with both systems' socket headers. Only the per-OS socket
// files include this, after their system headers (which declare sockaddr_in and the byte-order
// calls).
#include <cstdint>

namespace connector::socket_system {

inline sockaddr_in loopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace connector::socket_system
