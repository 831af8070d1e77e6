// Over real sockets on 127.0.0.1:27843; the test program holds the port lock.
#include "http/server.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "http/socket.hpp"
#include "http/status_reason.hpp"
#include "test_client.hpp"

namespace connector {
namespace {

using test::AfterSending;
using test::exchange;
using test::parseReply;
using test::Reply;
using test::StopOnExit;

const std::string kPortTaken = "端口 27843 已被占用，可能已有连接器正在运行";

// Answers with what it was given, so the client can see the parse.
HttpResponse echo(const HttpRequest& request) {
  std::string text = request.method + "|" + request.target + "|" + request.path + "|";
  for (const auto& [name, value] : request.query) text += name + "=" + value + ";";
  text += "|";
  for (const auto& [name, value] : request.headers) text += name + ":" + value + ";";
  text += "|" + std::string(request.body.view());
  return HttpResponse{200, {{"Content-Type", "text/plain"}}, text};
}

RouteHandler answeringWith(std::string body) {
  return [body](const HttpRequest&) { return HttpResponse{200, {}, body}; };
}

TEST(ConnectorServer, ServesARequestOverTheLoopback) {
  ConnectorServer server;
  StopOnExit guard(server);
  ASSERT_TRUE(server.start(echo));
  EXPECT_TRUE(server.isRunning());
  EXPECT_EQ(server.port(), kConnectorPort);

  const Reply reply = parseReply(exchange(
      "POST /echo?x=1&y=a%20b HTTP/1.1\r\nOrigin: http://a\r\nContent-Length: 5\r\n\r\nhelloXX"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.reason, "OK");
  const std::string body =
      "POST|/echo?x=1&y=a%20b|/echo|x=1;y=a b;|content-length:5;origin:http://a;|hello";
  EXPECT_EQ(reply.body, body);
  EXPECT_EQ(reply.headers, (HeaderMap{{"Connection", "close"},
                                      {"Content-Length", std::to_string(body.size())},
                                      {"Content-Type", "text/plain"}}));
}

TEST(ConnectorServer, ClientsThatLeaveEarlyCostOnlyTheirOwnConnection) {
  ConnectorServer server;
  StopOnExit guard(server);
  ASSERT_TRUE(server.start(answeringWith("fine")));

  // A half-closed client still gets the 400 reply.
  const Reply reply =
      parseReply(exchange("GET /v1/health HTTP/1.1\r\nHost: x", AfterSending::shutdownSend));
  EXPECT_EQ(reply.status, 400);
  EXPECT_EQ(reply.reason, "Bad Request");
  EXPECT_EQ(reply.body, "Bad request");

  // Clients that vanish: the reply goes to a closed socket, which must not end the process.
  for (int i = 0; i < 20; ++i) {
    exchange("POST / HTTP/1.1\r\nContent-Length: 1000\r\n\r\nonly a little",
             AfterSending::closeAtOnce);
    exchange("GET / HT", AfterSending::closeAtOnce);
  }
  EXPECT_TRUE(server.isRunning());
  EXPECT_EQ(parseReply(exchange("GET / HTTP/1.1\r\n\r\n")).body, "fine");
}

// The handler would echo the origin into a reply header: a control byte in it never gets there.
TEST(ConnectorServer, RefusesHeaderValuesWithControlBytes) {
  ConnectorServer server;
  StopOnExit guard(server);
  ASSERT_TRUE(server.start(echo));
  for (const std::string& origin :
       std::vector<std::string>{"http://a\rX-Injected: 1", std::string("http://a\0b", 10)}) {
    const Reply reply = parseReply(exchange("GET / HTTP/1.1\r\nOrigin: " + origin + "\r\n\r\n"));
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(reply.body, "Bad request");
    EXPECT_EQ(reply.headers.count("X-Injected"), 0u);
  }
}

TEST(ConnectorServer, AThrowingHandlerGivesTheInternalErrorReply) {
  ConnectorServer server;
  StopOnExit guard(server);
  ASSERT_TRUE(server.start(
      [](const HttpRequest&) -> HttpResponse { throw std::runtime_error("bad \"quote\""); }));
  const Reply reply = parseReply(exchange("GET /v1/health HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.reason, "Internal Server Error");
  EXPECT_EQ(reply.headers.at("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(reply.body, R"({"code":"INTERNAL_ERROR","message":"bad \"quote\""})");
}

TEST(ConnectorServer, RefusesAnOversizedHeadWithPayloadTooLarge) {
  ConnectorServer server;
  StopOnExit guard(server);
  ASSERT_TRUE(server.start(answeringWith("unexpected")));
  const Reply reply =
      parseReply(exchange("GET / HTTP/1.1\r\nX-Fill: " + std::string(65537 - 24, 'a')));
  EXPECT_EQ(reply.status, 413);
  EXPECT_EQ(reply.reason, "Payload Too Large");
  EXPECT_EQ(reply.body, "Bad request");
}

TEST(ConnectorServer, CarriesALargeBodyBothWaysIntact) {
  ConnectorServer server;
  StopOnExit guard(server);
  ASSERT_TRUE(server.start([](const HttpRequest& request) {
    return HttpResponse{200, {}, std::string(request.body.view())};
  }));
  std::string body(20 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>((i * 7 + i / 4093) % 256);
  const Reply reply = parseReply(exchange("POST /v1/convert HTTP/1.1\r\nContent-Length: " +
                                          std::to_string(body.size()) + "\r\n\r\n" + body));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.headers.at("Content-Length"), std::to_string(body.size()));
  EXPECT_TRUE(reply.body == body) << "echoed body differs, size " << reply.body.size();
}

TEST(ConnectorServer, StartAndStopAreIdempotent) {
  ConnectorServer server;
  StopOnExit guard(server);
  ASSERT_TRUE(server.start(answeringWith("first")));
  EXPECT_TRUE(server.start(answeringWith("second")));  // changes nothing
  EXPECT_EQ(parseReply(exchange("GET / HTTP/1.1\r\n\r\n")).body, "first");

  server.stop();
  EXPECT_FALSE(server.isRunning());
  EXPECT_FALSE(test::canConnect());
  server.stop();
  EXPECT_FALSE(server.isRunning());

  // Every start makes a fresh listener; the latest handler is used. Served connections
  // (now closing or in TIME_WAIT) must not keep the port from being bound again.
  for (const std::string name : {"again", "and again"}) {
    ASSERT_TRUE(server.start(answeringWith(name)));
    EXPECT_EQ(parseReply(exchange("GET / HTTP/1.1\r\n\r\n")).body, name);
    server.stop();
  }
}

TEST(ConnectorServer, RefusesTlsSettings) {
  statusReason().clear();
  ConnectorServer server;
  StopOnExit guard(server);
  EXPECT_FALSE(server.start(echo, L"C:\\cert.pfx"));
  EXPECT_FALSE(server.isRunning());
  EXPECT_EQ(statusReason(), "当前平台不支持 HTTPS 连接器");
  EXPECT_FALSE(test::canConnect());
}

// The foreign socket binds without the exclusive option, the way another program might.
TEST(ConnectorServer, ReportsAPortThatAnotherSocketHolds) {
  statusReason().clear();
  ListeningSocket::Opened foreign = ListeningSocket::open(kConnectorPort, 4, PortSharing::plain);
  ASSERT_EQ(foreign.status, ListenStatus::listening);

  ConnectorServer server;
  StopOnExit guard(server);
  EXPECT_FALSE(server.start(echo));
  EXPECT_FALSE(server.isRunning());
  EXPECT_EQ(statusReason(), kPortTaken);

  foreign.socket.reset();
  EXPECT_TRUE(server.start(echo));
}

// A bind the system refuses (injected) while the real table shows nobody on the port.
TEST(ConnectorServer, NamesAPortTheSystemRefusesWhileNobodyListensThere) {
  ConnectorServer server(kConnectorPort, {}, [](std::uint16_t, int, PortSharing) {
    return ListeningSocket::Opened{ListenStatus::bindRefused, nullptr};
  });
  EXPECT_FALSE(server.start(echo));
  EXPECT_EQ(statusReason(),
            "端口 27843 已被系统保留，可用 netsh int ipv4 show excludedportrange protocol=tcp "
            "查看保留的端口范围");
  statusReason().clear();
}

TEST(ConnectorServer, NoOtherSocketCanBindBesideARunningServer) {
  ConnectorServer server;
  StopOnExit guard(server);
  ASSERT_TRUE(server.start(answeringWith("ours")));

  for (const PortSharing sharing : {PortSharing::plain, PortSharing::exclusive}) {
    const ListeningSocket::Opened intruder = ListeningSocket::open(kConnectorPort, 4, sharing);
    EXPECT_EQ(intruder.status, ListenStatus::bindFailed);
  }
  // A second server in the same process is refused the same way.
  ConnectorServer second;
  StopOnExit secondGuard(second);
  EXPECT_FALSE(second.start(echo));
  EXPECT_EQ(statusReason(), kPortTaken);

  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(parseReply(exchange("GET / HTTP/1.1\r\n\r\n")).body, "ours");
}

}  // namespace
}  // namespace connector
