// The socket calls the server makes, written once over the system calls of socket_system.hpp:
// every wait goes in PeerWait's slices, so a time-out or a cancel from another thread ends a
// call without closing the socket under it.
#include "http/socket.hpp"

#include <atomic>
#include <utility>

#include "http/peer_wait.hpp"
#include "http/socket_system.hpp"

namespace connector {
namespace {

namespace sys = socket_system;

class SystemStreamSocket final : public StreamSocket {
 public:
  explicit SystemStreamSocket(sys::OwnedSocket socket) noexcept : socket_(std::move(socket)) {
    sys::prepareStream(socket_.get());
  }

  long receive(char* buffer, std::size_t size) override {
    PeerWait wait(receiveTimeout_, cancelled_, std::chrono::milliseconds(0), receiveDeadline_);
    while (true) {
      if (cancelled_.load() || wait.expired()) return -1;
      const sys::Transfer received = sys::tryReceive(socket_.get(), buffer, size);
      if (!goOn(received, sys::Ready::readable, wait)) return result(received);
    }
  }

  long send(const char* data, std::size_t size) override {
    PeerWait wait(sendTimeout_, cancelled_, kSendGraceAfterCancel);
    while (true) {
      const sys::Transfer sent = sys::trySend(socket_.get(), data, size);
      if (!goOn(sent, sys::Ready::writable, wait)) return result(sent);
    }
  }

  void shutdownSend() noexcept override { sys::shutdownSend(socket_.get()); }

  void setTimeouts(std::chrono::milliseconds receive,
                   std::chrono::milliseconds send) noexcept override {
    receiveTimeout_ = receive;
    sendTimeout_ = send;
  }

  void setReceiveDeadline(PeerWait::Clock::time_point deadline) noexcept override {
    receiveDeadline_ = deadline;
  }

  void cancel() noexcept override { cancelled_.store(true); }

 private:
  // Whether to try again: at once after a signal, after one slice's wait when the socket was
  // not ready; never once the try is done or failed, or the wait gives up.
  bool goOn(const sys::Transfer& transfer, sys::Ready ready, PeerWait& wait) {
    switch (transfer.state) {
      case sys::TransferState::interrupted:
        return true;
      case sys::TransferState::wouldBlock: {
        const std::optional<int> slice = wait.nextSlice();
        return slice && sys::waitUntil(socket_.get(), ready, *slice);
      }
      case sys::TransferState::done:
      case sys::TransferState::failed:
        break;
    }
    return false;
  }

  static long result(const sys::Transfer& transfer) {
    return transfer.state == sys::TransferState::done ? transfer.bytes : -1;
  }

  SocketLibrary library_;  // declared first: released after the socket is closed
  sys::OwnedSocket socket_;
  std::chrono::milliseconds receiveTimeout_{0};
  std::chrono::milliseconds sendTimeout_{0};
  PeerWait::Clock::time_point receiveDeadline_ = PeerWait::Clock::time_point::max();
  std::atomic<bool> cancelled_{false};
};

class SystemListeningSocket final : public ListeningSocket {
 public:
  explicit SystemListeningSocket(sys::OwnedSocket socket) noexcept : socket_(std::move(socket)) {}

  std::unique_ptr<StreamSocket> accept() override {
    sys::OwnedSocket connection = sys::accept(socket_.get());
    if (!connection) return nullptr;
    return std::make_unique<SystemStreamSocket>(std::move(connection));
  }

  // The socket's value never changes, so the accepting threads read it without a race even when
  // waking closes the socket.
  void wake() noexcept override { sys::wakeAccept(socket_); }

  bool bindsExclusively() const noexcept override { return sys::bindsExclusively(socket_.get()); }

 private:
  SocketLibrary library_;  // declared first: released after the socket is closed
  sys::OwnedSocket socket_;
};

}  // namespace

std::unique_ptr<StreamSocket> StreamSocket::connectLoopback(std::uint16_t port) {
  SocketLibrary library;
  if (!library.ready()) return nullptr;
  sys::OwnedSocket socket = sys::newStream();
  if (!socket || !sys::connectLoopback(socket.get(), port)) return nullptr;
  return std::make_unique<SystemStreamSocket>(std::move(socket));
}

ListeningSocket::Opened ListeningSocket::open(std::uint16_t port, int backlog,
                                              PortSharing sharing) {
  Opened opened;
  SocketLibrary library;
  if (!library.ready()) {
    opened.status = ListenStatus::libraryFailed;
    return opened;
  }
  sys::OwnedSocket socket = sys::newStream();
  if (!socket) {
    opened.status = ListenStatus::createFailed;
    return opened;
  }
  sys::setSharing(socket.get(), sharing);
  opened.status = sys::bindAndListen(socket.get(), port, backlog);
  if (opened.status != ListenStatus::listening) return opened;
  opened.socket = std::make_unique<SystemListeningSocket>(std::move(socket));
  return opened;
}

}  // namespace connector
