#include "http/server.hpp"

#include <exception>
#include <system_error>
#include <utility>

#include "http/accept_backoff.hpp"
#include "http/connection_pool.hpp"
#include "http/socket.hpp"
#include "http/socket_listeners.hpp"
#include "http/socket_port_claim.hpp"
#include "http/status_reason.hpp"

namespace connector {
namespace {

constexpr int kListenBacklog = 16;

}  // namespace

ConnectorServer::ConnectorServer(std::uint16_t port, ServerLimits limits,
                                 ListenerOpener openListener)
    : port_(port),
      limits_(limits),
      openListener_(std::move(openListener)),
      pool_(std::make_unique<ConnectionPool>(limits.connectionSlots, limits.waitingPlaces,
                                             limits.receiveTimeout, limits.sendTimeout)) {}

ConnectorServer::~ConnectorServer() {
  stop();
  pool_.reset();
}

bool ConnectorServer::start(RouteHandler handler, const std::wstring& tlsSettings) {
  if (running_.load()) return true;
  if (!tlsSettings.empty()) {
    statusReason() = "当前平台不支持 HTTPS 连接器";
    return false;
  }
  ListeningSocket::Opened opened = claimPort(
      {[this](PortSharing sharing) { return openListener_(port_, kListenBacklog, sharing); },
       [this] { return listenersOnPort(port_); }});
  switch (opened.status) {
    case ListenStatus::listening:
      break;
    case ListenStatus::libraryFailed:
      statusReason() = "无法初始化网络服务";
      return false;
    case ListenStatus::createFailed:
      statusReason() = "无法创建本地服务";
      return false;
    case ListenStatus::bindFailed:
      statusReason() = "端口 27843 已被占用，可能已有连接器正在运行";
      return false;
  }

  listener_ = std::move(opened.socket);
  handler_ = std::move(handler);
  pool_->reopen();
  running_.exchange(true);
  try {
    acceptThread_ = std::make_unique<std::thread>(&ConnectorServer::acceptLoop, this);
  } catch (...) {
    // Without an accept thread the server is not running: undo, then report to the caller.
    running_.exchange(false);
    listener_.reset();
    throw;
  }
  return true;
}

void ConnectorServer::stop() {
  if (!running_.exchange(false)) return;
  listener_->wake();
  pool_->close();  // also ends the accept loop's wait for a slot
  { const std::lock_guard guard(pauseLock_); }
  pauseEnd_.notify_all();
  if (acceptThread_) {
    acceptThread_->join();
    acceptThread_.reset();
  }
  // Closes the socket and releases the socket library taken when it was opened.
  listener_.reset();
  pool_->waitUntilIdle(limits_.stopWait);
}

void ConnectorServer::acceptLoop() {
  AcceptBackoff backoff;
  while (running_.load() && pool_->takeSlot()) {
    std::unique_ptr<StreamSocket> connection = listener_->accept();
    if (!connection) {
      pool_->giveBackSlot();
      if (!running_.load() || !pauseUnlessStopped(backoff.afterFailure())) break;
      continue;
    }
    backoff.afterSuccess();
    try {
      pool_->serve(std::move(connection), tlsContext_, handler_);
    } catch (const std::exception&) {
      // No thread for this connection (std::system_error, or no memory for its copies): it is
      // closed with its socket object, and the loop keeps serving the others.
    }
  }
}

bool ConnectorServer::pauseUnlessStopped(std::chrono::milliseconds pause) {
  std::unique_lock guard(pauseLock_);
  return !pauseEnd_.wait_for(guard, pause, [this] { return !running_.load(); });
}

}  // namespace connector
