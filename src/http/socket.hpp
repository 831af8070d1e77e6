#pragma once
// TCP sockets on the IPv4 loopback address, behind one interface for Winsock and BSD sockets.
#include <chrono>
#include <cstdint>
#include <memory>

#include "http/byte_stream.hpp"
#include "http/listen_types.hpp"

namespace connector {

// Keeps the platform socket library started while it lives (Winsock needs this, BSD sockets
// do not). Every socket below holds one, so the library outlives its sockets.
class SocketLibrary {
 public:
  SocketLibrary();
  ~SocketLibrary();
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
  bool ready() const noexcept { return ready_; }

 private:
  bool ready_ = false;
};

// A connected stream socket, closed by its destructor. Never inherited by child processes.
// Its calls wait for the peer in short slices, so that a time-out or a cancel from another
// thread ends them without closing the socket under a running call.
class StreamSocket : public ByteSource, public ByteSink {
 public:
  // Connects to 127.0.0.1:port; null when the connection cannot be made.
  static std::unique_ptr<StreamSocket> connectLoopback(std::uint16_t port);

  // Ends the sending direction; the peer sees the end of the stream.
  virtual void shutdownSend() noexcept = 0;

  // How long one receive may wait for a byte and one send for room to send; zero (the
  // default) waits without limit. A call that times out fails, as a broken connection does.
  virtual void setTimeouts(std::chrono::milliseconds receive,
                           std::chrono::milliseconds send) noexcept = 0;

  // No receive goes on past deadline (the largest time, the default: none), however recently
  // bytes came; one that would fails, as a broken connection does.
  virtual void setReceiveDeadline(std::chrono::steady_clock::time_point deadline) noexcept = 0;

  // Safe from any thread: receive fails from now on, and send gives up once it has waited
  // kSendGraceAfterCancel, so a reply to a reading client still goes out.
  virtual void cancel() noexcept = 0;
};


class ListeningSocket {
 public:
  struct Opened {
    ListenStatus status = ListenStatus::createFailed;
    std::unique_ptr<ListeningSocket> socket;  // set only when listening
  };
  // Binds 127.0.0.1:port and listens.
  static Opened open(std::uint16_t port, int backlog, PortSharing sharing);

  virtual ~ListeningSocket() = default;
  // Waits for the next connection; null when accept fails, as it does after wake().
  virtual std::unique_ptr<StreamSocket> accept() = 0;
  // Makes a blocked accept() on another thread return and refuses further connections.
  // The object must still be destroyed afterwards.
  virtual void wake() noexcept = 0;
  // Whether the system will refuse every other socket that tries to bind this port while we
  // listen, whatever address-reuse option that socket asks for.
  virtual bool bindsExclusively() const noexcept = 0;
};

}  // namespace connector
