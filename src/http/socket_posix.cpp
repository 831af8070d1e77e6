// BSD sockets under socket.cpp. Stream calls never block (MSG_DONTWAIT) and waits use poll.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "http/socket.hpp"
#include "http/socket_address.hpp"
#include "http/socket_system.hpp"

namespace connector {

SocketLibrary::SocketLibrary() : ready_(true) {}
SocketLibrary::~SocketLibrary() = default;

namespace socket_system {
namespace {

int fd(Native socket) { return static_cast<int>(socket); }

Native native(int fd) { return fd < 0 ? kNone : static_cast<Native>(fd); }

Transfer transfer(ssize_t result) {
  if (result >= 0) return {TransferState::done, static_cast<long>(result)};
  if (errno == EINTR) return {TransferState::interrupted, 0};
  if (errno == EAGAIN || errno == EWOULDBLOCK) return {TransferState::wouldBlock, 0};
  return {TransferState::failed, 0};
}

}  // namespace

void closeSocket(Native socket) noexcept { ::close(fd(socket)); }

OwnedSocket newStream() {
  return OwnedSocket(native(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)));
}

bool connectLoopback(Native socket, std::uint16_t port) {
  const sockaddr_in address = loopbackAddress(port);
  int result;
  do {
    result = ::connect(fd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result < 0 && errno == EINTR);
  return result == 0;
}

// SO_REUSEADDR only allows binding over connections in TIME_WAIT, never beside an active
// listener, so both sharing modes use it.
std::vector<int> sharingOptions(PortSharing) { return {SO_REUSEADDR}; }

void setSharing(Native socket, PortSharing sharing) {
  const int one = 1;
  for (const int option : sharingOptions(sharing))
    ::setsockopt(fd(socket), SOL_SOCKET, option, &one, sizeof one);
}

ListenStatus bindAndListen(Native socket, std::uint16_t port, int backlog) {
  const sockaddr_in address = loopbackAddress(port);
  if (::bind(fd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return bindFailure(errno);
  if (::listen(fd(socket), backlog) != 0) return ListenStatus::bindFailed;
  // A connection reaches accept once its first bytes have (or after a second without any): the
  // thread that takes it reads the request at once instead of sleeping until it comes. Only a
  // hint; accept works the same without it.
  const int seconds = 1;
  ::setsockopt(fd(socket), IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds);
  return ListenStatus::listening;
}

// Every failed bind reads as the port in use, as it always has here (EACCES would mean a port
// below 1024, never ours).
ListenStatus bindFailure(int) { return ListenStatus::bindFailed; }

OwnedSocket accept(Native listener) {
  return OwnedSocket(native(::accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC)));
}

// Shutting a listening socket down fails a blocked accept; the descriptor itself stays open
// until destruction, so an accepting thread never sees a reused number.
void wakeAccept(OwnedSocket& listener) noexcept { ::shutdown(fd(listener.get()), SHUT_RDWR); }

// SO_REUSEADDR never lets a second socket bind beside a listener; only SO_REUSEPORT, which
// nothing here sets, would.
bool bindsExclusively(Native) noexcept { return true; }

void prepareStream(Native) noexcept {}

void shutdownSend(Native socket) noexcept { ::shutdown(fd(socket), SHUT_WR); }

Transfer tryReceive(Native socket, char* buffer, std::size_t size) {
  return transfer(::recv(fd(socket), buffer, size, MSG_DONTWAIT));
}

// A peer that has gone away must not raise SIGPIPE and end the process.
Transfer trySend(Native socket, const char* data, std::size_t size) {
  return transfer(::send(fd(socket), data, size, MSG_DONTWAIT | MSG_NOSIGNAL));
}

bool waitUntil(Native socket, Ready ready, int milliseconds) {
  pollfd entry{fd(socket), static_cast<short>(ready == Ready::readable ? POLLIN : POLLOUT), 0};
  return ::poll(&entry, 1, milliseconds) >= 0 || errno == EINTR;
}

}  // namespace socket_system
}  // namespace connector
