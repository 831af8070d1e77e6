#include <process.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "http/connection.hpp"
#include "http/connection_thread.hpp"
#include "platform/win32.hpp"

namespace connector {
namespace {

struct ConnectionWork {
  std::unique_ptr<StreamSocket> socket;
  std::shared_ptr<void> tlsContext;
  RouteHandler handler;
};

unsigned __stdcall serveConnection(void* argument) {
  std::unique_ptr<ConnectionWork> work(static_cast<ConnectionWork*>(argument));
  handleConnection(std::move(work->socket), std::move(work->tlsContext), std::move(work->handler));
  return 0;
}

}  // namespace

// A native thread whose handle is closed at once. A detached std::thread, which goes through
// MinGW's pthread layer, crashed under load here with its thread state overwritten, when many
// short connections (clients that leave early) came and went.
void serveOnNewThread(std::unique_ptr<StreamSocket> socket, std::shared_ptr<void> tlsContext,
                      RouteHandler handler) {
  auto work = std::make_unique<ConnectionWork>(
      ConnectionWork{std::move(socket), std::move(tlsContext), std::move(handler)});
  const std::uintptr_t thread = _beginthreadex(nullptr, 0, serveConnection, work.get(), 0, nullptr);
  if (thread == 0) {
    throw std::system_error(errno, std::generic_category(), "_beginthreadex");
  }
  work.release();  // the new thread owns it now
  CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace connector
