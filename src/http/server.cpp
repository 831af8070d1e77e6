#include "http/server.hpp"

#include <exception>
#include <system_error>
#include <utility>

#include "http/connection_thread.hpp"
#include "http/socket.hpp"
#include "http/status_reason.hpp"

namespace connector {
namespace {

constexpr int kListenBacklog = 16;

}  // namespace

ConnectorServer::ConnectorServer(std::uint16_t port) : port_(port) {}

ConnectorServer::~ConnectorServer() { stop(); }

bool ConnectorServer::start(RouteHandler handler, const std::wstring& tlsSettings) {
  if (running_.load()) return true;
  if (!tlsSettings.empty()) {
    statusReason() = "当前平台不支持 HTTPS 连接器";
    return false;
  }
  ListeningSocket::Opened opened =
      ListeningSocket::open(port_, kListenBacklog, PortSharing::exclusive);
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
  if (acceptThread_) {
    acceptThread_->join();
    acceptThread_.reset();
  }
  // Closes the socket and releases the socket library taken when it was opened.
  listener_.reset();
}

void ConnectorServer::acceptLoop() {
  while (running_.load()) {
    std::unique_ptr<StreamSocket> connection = listener_->accept();
    if (!connection) {
      if (!running_.load()) break;
      continue;
    }
    try {
      serveOnNewThread(std::move(connection), tlsContext_, handler_);
    } catch (const std::exception&) {
      // No thread for this connection (std::system_error, or no memory for its copies): it is
      // closed with its socket object, and the loop keeps serving the others.
    }
  }
}

}  // namespace connector
