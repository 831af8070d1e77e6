#include "test_client.hpp"

#include <memory>
#include <stdexcept>

#include "http/socket.hpp"

namespace connector::test {

std::string exchange(std::string_view request, AfterSending after, std::uint16_t port,
                     std::chrono::milliseconds patience) {
  std::unique_ptr<StreamSocket> socket = StreamSocket::connectLoopback(port);
  if (!socket) throw std::runtime_error("cannot connect to the test server");
  socket->setTimeouts(patience, patience);
  std::size_t offset = 0;
  while (offset < request.size()) {
    const long sent = socket->send(request.data() + offset, request.size() - offset);
    if (sent <= 0) break;  // the server may refuse the rest; its reply still counts
    offset += static_cast<std::size_t>(sent);
  }
  if (after == AfterSending::closeAtOnce) return {};
  if (after == AfterSending::shutdownSend) socket->shutdownSend();
  std::string reply;
  char buffer[65536];
  while (true) {
    const long received = socket->receive(buffer, sizeof buffer);
    if (received <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(received));
  }
  return reply;
}

bool canConnect(std::uint16_t port) { return StreamSocket::connectLoopback(port) != nullptr; }

Reply parseReply(const std::string& raw) {
  const std::size_t headEnd = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/1.1 ", 0) != 0 || headEnd == std::string::npos) {
    throw std::runtime_error("not an HTTP reply: " + raw.substr(0, 200));
  }
  Reply reply;
  const std::size_t lineEnd = raw.find("\r\n");
  const std::string statusLine = raw.substr(9, lineEnd - 9);
  const std::size_t space = statusLine.find(' ');
  reply.status = std::stoi(statusLine.substr(0, space));
  reply.reason = space == std::string::npos ? "" : statusLine.substr(space + 1);
  std::size_t position = lineEnd + 2;
  while (position < headEnd) {
    const std::size_t end = raw.find("\r\n", position);
    const std::string line = raw.substr(position, end - position);
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) throw std::runtime_error("bad header line: " + line);
    reply.headers[line.substr(0, colon)] = line.substr(colon + 2);
    position = end + 2;
  }
  reply.body = raw.substr(headEnd + 4);
  return reply;
}

}  // namespace connector::test
