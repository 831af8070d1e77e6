#include <algorithm>
#include <atomic>
#include <climits>
#include <mutex>
#include <utility>

#include "http/peer_wait.hpp"
#include "http/socket.hpp"
#include "platform/win32.hpp"

namespace connector {
namespace {

sockaddr_in loopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Sockets are inheritable handles by default; a child process (Spine) must never hold one,
// or it would keep the port or a browser connection open after we let go.
UniqueSocket newSocket() {
  return UniqueSocket(
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
}

// Winsock counts WSAStartup/WSACleanup calls, and the last WSACleanup closes every socket of
// the process. Wine's count is not safe against threads starting and releasing the library at
// once, so a lost count closed the listener while connections came and went; every call takes
// this lock.
std::mutex& libraryCountLock() {
  static std::mutex lock;
  return lock;
}

int clampedSize(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

// The socket is non-blocking; every call waits with select, in the slices PeerWait gives.
class WinStreamSocket final : public StreamSocket {
 public:
  explicit WinStreamSocket(UniqueSocket socket) noexcept : socket_(std::move(socket)) {
    u_long nonBlocking = 1;
    ::ioctlsocket(socket_.get(), FIONBIO, &nonBlocking);
  }

  long receive(char* buffer, std::size_t size) override {
    PeerWait wait(receiveTimeout_, cancelled_, std::chrono::milliseconds(0));
    while (true) {
      if (cancelled_.load()) return -1;
      const int received = ::recv(socket_.get(), buffer, clampedSize(size), 0);
      if (received >= 0) return received;
      if (WSAGetLastError() != WSAEWOULDBLOCK || !waitFor(false, wait)) return -1;
    }
  }

  long send(const char* data, std::size_t size) override {
    PeerWait wait(sendTimeout_, cancelled_, kSendGraceAfterCancel);
    while (true) {
      const int sent = ::send(socket_.get(), data, clampedSize(size), 0);
      if (sent >= 0) return sent;
      if (WSAGetLastError() != WSAEWOULDBLOCK || !waitFor(true, wait)) return -1;
    }
  }

  void shutdownSend() noexcept override { ::shutdown(socket_.get(), SD_SEND); }

  void setTimeouts(std::chrono::milliseconds receive,
                   std::chrono::milliseconds send) noexcept override {
    receiveTimeout_ = receive;
    sendTimeout_ = send;
  }

  void cancel() noexcept override { cancelled_.store(true); }

 private:
  // Waits one slice until the socket is readable (or writable); false when the call must give
  // up. An error state counts as ready: the next call reports it.
  bool waitFor(bool writing, PeerWait& wait) {
    const std::optional<int> slice = wait.nextSlice();
    if (!slice) return false;
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket_.get(), &ready);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket_.get(), &failed);
    timeval time{*slice / 1000, (*slice % 1000) * 1000};
    return ::select(0, writing ? nullptr : &ready, writing ? &ready : nullptr, &failed, &time) !=
           SOCKET_ERROR;
  }

  SocketLibrary library_;  // declared first: released after the socket is closed
  UniqueSocket socket_;
  std::chrono::milliseconds receiveTimeout_{0};
  std::chrono::milliseconds sendTimeout_{0};
  std::atomic<bool> cancelled_{false};
};

class WinListeningSocket final : public ListeningSocket {
 public:
  explicit WinListeningSocket(UniqueSocket socket) noexcept : socket_(socket.release()) {}
  ~WinListeningSocket() override { close(); }

  std::unique_ptr<StreamSocket> accept() override {
    UniqueSocket connection(::accept(socket_, nullptr, nullptr));
    if (!connection) return nullptr;
    SetHandleInformation(reinterpret_cast<HANDLE>(connection.get()), HANDLE_FLAG_INHERIT, 0);
    return std::make_unique<WinStreamSocket>(std::move(connection));
  }

  // Winsock's shutdown does not wake a blocked accept; closing the socket does. The handle
  // value never changes, so the accept thread reads it without a race.
  void wake() noexcept override { close(); }

  bool bindsExclusively() const noexcept override {
    BOOL exclusive = FALSE;
    int size = sizeof exclusive;
    return ::getsockopt(socket_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                        reinterpret_cast<char*>(&exclusive), &size) == 0 &&
           exclusive != FALSE;
  }

 private:
  void close() noexcept {
    if (!closed_.exchange(true)) ::closesocket(socket_);
  }

  SocketLibrary library_;  // declared first: released after the socket is closed
  const SOCKET socket_;
  std::atomic<bool> closed_{false};
};

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

std::unique_ptr<StreamSocket> StreamSocket::connectLoopback(std::uint16_t port) {
  SocketLibrary library;
  if (!library.ready()) return nullptr;
  UniqueSocket socket = newSocket();
  if (!socket) return nullptr;
  const sockaddr_in address = loopbackAddress(port);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return nullptr;
  }
  return std::make_unique<WinStreamSocket>(std::move(socket));
}

ListeningSocket::Opened ListeningSocket::open(std::uint16_t port, int backlog,
                                              PortSharing sharing) {
  Opened opened;
  SocketLibrary library;
  if (!library.ready()) {
    opened.status = ListenStatus::libraryFailed;
    return opened;
  }
  UniqueSocket socket = newSocket();
  if (!socket) {
    opened.status = ListenStatus::createFailed;
    return opened;
  }
  // With SO_REUSEADDR Windows lets another program bind the same port beside ours (or ours
  // beside it) and steal connections; SO_EXCLUSIVEADDRUSE forbids that.
  const int option = sharing == PortSharing::exclusive ? SO_EXCLUSIVEADDRUSE : SO_REUSEADDR;
  const BOOL one = TRUE;
  ::setsockopt(socket.get(), SOL_SOCKET, option, reinterpret_cast<const char*>(&one), sizeof one);
  const sockaddr_in address = loopbackAddress(port);
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(socket.get(), backlog) != 0) {
    opened.status = ListenStatus::bindFailed;
    return opened;
  }
  opened.status = ListenStatus::listening;
  opened.socket = std::make_unique<WinListeningSocket>(std::move(socket));
  return opened;
}

}  // namespace connector
