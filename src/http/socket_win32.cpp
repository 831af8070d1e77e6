// Winsock under socket.cpp. Stream sockets are non-blocking and waits use select.
#include "platform/win32.hpp"  // first: socket_address.hpp needs Winsock's declarations

#include <algorithm>
#include <climits>
#include <mutex>

#include "http/socket_address.hpp"
#include "http/socket_system.hpp"

namespace connector {
namespace {

// Winsock counts WSAStartup/WSACleanup calls, and the last WSACleanup closes every socket of
// the process. Wine's count is not safe against threads starting and releasing the library at
// once, so a lost count closed the listener while connections came and went; every call takes
// this lock.
std::mutex& libraryCountLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

SocketLibrary::SocketLibrary() {
  const std::lock_guard lock(libraryCountLock());
  WSADATA data{};
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    WSACleanup();
    return;
  }
  ready_ = true;
}

SocketLibrary::~SocketLibrary() {
  if (!ready_) return;
  const std::lock_guard lock(libraryCountLock());
  WSACleanup();
}

namespace socket_system {
namespace {

SOCKET handle(Native socket) { return static_cast<SOCKET>(socket); }

int clampedSize(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

Transfer transfer(int result) {
  if (result >= 0) return {TransferState::done, result};
  return {WSAGetLastError() == WSAEWOULDBLOCK ? TransferState::wouldBlock : TransferState::failed,
          0};
}

}  // namespace

void closeSocket(Native socket) noexcept { ::closesocket(handle(socket)); }

// Sockets are inheritable handles by default; a child process (Spine) must never hold one,
// or it would keep the port or a browser connection open after we let go.
OwnedSocket newStream() {
  return OwnedSocket(static_cast<Native>(
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT)));
}

bool connectLoopback(Native socket, std::uint16_t port) {
  const sockaddr_in address = loopbackAddress(port);
  return ::connect(handle(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
         0;
}

// With SO_REUSEADDR Windows lets another program bind the same port beside ours (or ours
// beside it) and steal connections; SO_EXCLUSIVEADDRUSE forbids that.
void setSharing(Native socket, PortSharing sharing) {
  const int option = sharing == PortSharing::exclusive ? SO_EXCLUSIVEADDRUSE : SO_REUSEADDR;
  const BOOL one = TRUE;
  ::setsockopt(handle(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&one), sizeof one);
}

bool bindAndListen(Native socket, std::uint16_t port, int backlog) {
  const sockaddr_in address = loopbackAddress(port);
  return ::bind(handle(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
         ::listen(handle(socket), backlog) == 0;
}

OwnedSocket accept(Native listener) {
  const SOCKET connection = ::accept(handle(listener), nullptr, nullptr);
  if (connection != INVALID_SOCKET) {
    SetHandleInformation(reinterpret_cast<HANDLE>(connection), HANDLE_FLAG_INHERIT, 0);
  }
  return OwnedSocket(static_cast<Native>(connection));
}

// Winsock's shutdown does not wake a blocked accept; closing the socket does.
void wakeAccept(OwnedSocket& listener) noexcept { listener.close(); }

bool bindsExclusively(Native listener) noexcept {
  BOOL exclusive = FALSE;
  int size = sizeof exclusive;
  return ::getsockopt(handle(listener), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                      reinterpret_cast<char*>(&exclusive), &size) == 0 &&
         exclusive != FALSE;
}

void prepareStream(Native socket) noexcept {
  u_long nonBlocking = 1;
  ::ioctlsocket(handle(socket), FIONBIO, &nonBlocking);
}

void shutdownSend(Native socket) noexcept { ::shutdown(handle(socket), SD_SEND); }

Transfer tryReceive(Native socket, char* buffer, std::size_t size) {
  return transfer(::recv(handle(socket), buffer, clampedSize(size), 0));
}

Transfer trySend(Native socket, const char* data, std::size_t size) {
  return transfer(::send(handle(socket), data, clampedSize(size), 0));
}

bool waitUntil(Native socket, Ready ready, int milliseconds) {
  fd_set waiting;
  FD_ZERO(&waiting);
  FD_SET(handle(socket), &waiting);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(handle(socket), &failed);
  timeval time{milliseconds / 1000, (milliseconds % 1000) * 1000};
  const bool writing = ready == Ready::writable;
  return ::select(0, writing ? nullptr : &waiting, writing ? &waiting : nullptr, &failed, &time) !=
         SOCKET_ERROR;
}

}  // namespace socket_system
}  // namespace connector
