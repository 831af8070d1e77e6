#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

#include "http/peer_wait.hpp"
#include "http/socket.hpp"
#include "platform/unique_fd.hpp"

namespace connector {
namespace {

sockaddr_in loopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool wouldBlock() noexcept { return errno == EAGAIN || errno == EWOULDBLOCK; }

// Every call is non-blocking (MSG_DONTWAIT) and waits with poll, in the slices PeerWait gives.
class PosixStreamSocket final : public StreamSocket {
 public:
  explicit PosixStreamSocket(UniqueFd fd) noexcept : fd_(std::move(fd)) {}

  long receive(char* buffer, std::size_t size) override {
    PeerWait wait(receiveTimeout_, cancelled_, std::chrono::milliseconds(0));
    while (true) {
      if (cancelled_.load()) return -1;
      const ssize_t received = ::recv(fd_.get(), buffer, size, MSG_DONTWAIT);
      if (received >= 0) return static_cast<long>(received);
      if (errno != EINTR && !(wouldBlock() && waitFor(POLLIN, wait))) return -1;
    }
  }

  long send(const char* data, std::size_t size) override {
    PeerWait wait(sendTimeout_, cancelled_, kSendGraceAfterCancel);
    while (true) {
      // A peer that has gone away must not raise SIGPIPE and end the process.
      const ssize_t sent = ::send(fd_.get(), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (sent >= 0) return static_cast<long>(sent);
      if (errno != EINTR && !(wouldBlock() && waitFor(POLLOUT, wait))) return -1;
    }
  }

  void shutdownSend() noexcept override { ::shutdown(fd_.get(), SHUT_WR); }

  void setTimeouts(std::chrono::milliseconds receive,
                   std::chrono::milliseconds send) noexcept override {
    receiveTimeout_ = receive;
    sendTimeout_ = send;
  }

  void cancel() noexcept override { cancelled_.store(true); }

 private:
  // Waits one slice for the event; false when the call must give up.
  bool waitFor(short event, PeerWait& wait) {
    const std::optional<int> slice = wait.nextSlice();
    if (!slice) return false;
    pollfd entry{fd_.get(), event, 0};
    return ::poll(&entry, 1, *slice) >= 0 || errno == EINTR;
  }

  UniqueFd fd_;
  std::chrono::milliseconds receiveTimeout_{0};
  std::chrono::milliseconds sendTimeout_{0};
  std::atomic<bool> cancelled_{false};
};

class PosixListeningSocket final : public ListeningSocket {
 public:
  explicit PosixListeningSocket(UniqueFd fd) noexcept : fd_(std::move(fd)) {}

  std::unique_ptr<StreamSocket> accept() override {
    UniqueFd connection(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) return nullptr;
    return std::make_unique<PosixStreamSocket>(std::move(connection));
  }

  // Shutting a listening socket down fails a blocked accept; the descriptor itself stays
  // open until destruction, so the accept thread never sees a reused number.
  void wake() noexcept override { ::shutdown(fd_.get(), SHUT_RDWR); }

  // SO_REUSEADDR never lets a second socket bind beside a listener; only SO_REUSEPORT,
  // which nothing here sets, would.
  bool bindsExclusively() const noexcept override { return true; }

 private:
  UniqueFd fd_;
};

}  // namespace

SocketLibrary::SocketLibrary() : ready_(true) {}
SocketLibrary::~SocketLibrary() = default;

std::unique_ptr<StreamSocket> StreamSocket::connectLoopback(std::uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd) return nullptr;
  const sockaddr_in address = loopbackAddress(port);
  int result;
  do {
    result = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return nullptr;
  return std::make_unique<PosixStreamSocket>(std::move(fd));
}

ListeningSocket::Opened ListeningSocket::open(std::uint16_t port, int backlog, PortSharing) {
  // On POSIX, SO_REUSEADDR only allows binding over connections in TIME_WAIT, never beside an
  // active listener, so both sharing modes use it.
  Opened opened;
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd) {
    opened.status = ListenStatus::createFailed;
    return opened;
  }
  const int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in address = loopbackAddress(port);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), backlog) != 0) {
    opened.status = ListenStatus::bindFailed;
    return opened;
  }
  opened.status = ListenStatus::listening;
  opened.socket = std::make_unique<PosixListeningSocket>(std::move(fd));
  return opened;
}

}  // namespace connector
