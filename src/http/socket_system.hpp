#pragma once
// The system calls under the sockets of socket.cpp, one implementation per OS. None of them
// loops or waits longer than it is told: pacing, time-outs and cancels live in socket.cpp.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "http/listen_types.hpp"

namespace connector::socket_system {

// A descriptor (POSIX) or a SOCKET (Windows), widened; kNone is the invalid value of both.
using Native = std::uintptr_t;
inline constexpr Native kNone = ~Native{0};

void closeSocket(Native socket) noexcept;

// Owns one socket. close() may run on another thread while the socket is in use there: the
// value stays readable, and the socket is closed once.
class OwnedSocket {
 public:
  explicit OwnedSocket(Native value = kNone) noexcept : value_(value) {}
  OwnedSocket(OwnedSocket&& other) noexcept : value_(other.release()) {}
  OwnedSocket& operator=(OwnedSocket&&) = delete;
  OwnedSocket(const OwnedSocket&) = delete;
  ~OwnedSocket() { close(); }

  Native get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != kNone; }
  Native release() noexcept { return std::exchange(value_, kNone); }
  void close() noexcept {
    if (value_ != kNone && !closed_.exchange(true)) closeSocket(value_);
  }

 private:
  Native value_;
  std::atomic<bool> closed_{false};
};

// An IPv4 TCP socket that child processes never inherit; invalid when it cannot be made.
OwnedSocket newStream();
bool connectLoopback(Native socket, std::uint16_t port);
// The socket-level options, each set to 1 before the bind, with which a listener shares its
// port as asked.
std::vector<int> sharingOptions(PortSharing sharing);
// Sets the sharing's options; their results are ignored.
void setSharing(Native socket, PortSharing sharing);
// Binds 127.0.0.1:port and listens: listening, or why not.
ListenStatus bindAndListen(Native socket, std::uint16_t port, int backlog);
// What the system's error code of a failed bind means for the start.
ListenStatus bindFailure(int error);
// The next connection, not inherited by child processes; invalid when accept fails.
OwnedSocket accept(Native listener);
// Makes a blocked accept on another thread return; may close the listener to do so.
void wakeAccept(OwnedSocket& listener) noexcept;
bool bindsExclusively(Native listener) noexcept;

// Readies a connected socket for the calls below (which never block).
void prepareStream(Native socket) noexcept;
void shutdownSend(Native socket) noexcept;

enum class TransferState {
  done,         // bytes holds what was moved; 0 on receive: the peer has closed
  wouldBlock,   // nothing can move now: wait, then try again
  interrupted,  // a signal came first: try again at once
  failed,
};
struct Transfer {
  TransferState state = TransferState::failed;
  long bytes = 0;
};
Transfer tryReceive(Native socket, char* buffer, std::size_t size);
Transfer trySend(Native socket, const char* data, std::size_t size);

enum class Ready { readable, writable };
// Waits at most milliseconds for the socket to become ready (an error state counts as ready:
// the next try reports it); false only when the wait itself failed.
bool waitUntil(Native socket, Ready ready, int milliseconds);

}  // namespace connector::socket_system
