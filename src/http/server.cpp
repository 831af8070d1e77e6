#include "http/server.hpp"

#include <utility>

#include "http/connection_pool.hpp"
#include "http/socket.hpp"
#include "http/socket_port_claim.hpp"
#include "http/status_reason.hpp"
#include "platform/host.hpp"

namespace connector {
namespace {

constexpr int kListenBacklog = 16;

}  // namespace

ConnectorServer::ConnectorServer(std::uint16_t port, ServerLimits limits,
                                 ListenerOpener openListener, ThreadStarter startThread)
    : port_(port),
      limits_(limits),
      openListener_(std::move(openListener)),
      pool_(std::make_unique<ConnectionPool>(limits, std::move(startThread))) {}

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
       [this]() -> std::optional<std::size_t> {
         const auto listeners = ipv4ListenersOn(port_);
         if (!listeners) return std::nullopt;
         return listeners->size();
       }});
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
    case ListenStatus::bindRefused:
      // Nobody listens, yet the system says no: a port it has reserved (Hyper-V, WSL, Docker).
      statusReason() =
          "端口 27843 已被系统保留，可用 netsh int ipv4 show excludedportrange protocol=tcp "
          "查看保留的端口范围";
      return false;
  }

  listener_ = std::move(opened.socket);
  try {
    pool_->open(*listener_, tlsContext_, std::move(handler));
  } catch (...) {
    // Without a thread to accept the server is not running: undo, then report to the caller.
    listener_.reset();
    throw;
  }
  running_.exchange(true);
  return true;
}

void ConnectorServer::stop() {
  if (!running_.exchange(false)) return;
  pool_->close();  // wakes the listener; no thread is in accept afterwards
  // Closes the socket and releases the socket library taken when it was opened.
  listener_.reset();
  pool_->waitUntilIdle(limits_.stopWait);
}

}  // namespace connector
