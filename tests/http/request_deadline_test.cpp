// A client that sends its request a byte at a time, each byte well within the receive time-out,
// is dropped once its head or its body is past its deadline. Short deadlines here; the shipped
// ones are 30 s from the first byte for the head and 30 s plus 1 s per MiB for the body.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "http/server.hpp"
#include "http/socket.hpp"
#include "test_client.hpp"

namespace connector {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::parseReply;
using test::StopOnExit;

constexpr std::uint16_t kPort = 27861;
constexpr auto kGiveUp = 8s;  // a client still sending after this was never dropped

struct Sent {
  std::string reply;
  std::chrono::milliseconds answeredAfter{0};  // from the first byte sent
};

bool sendAll(StreamSocket& socket, const std::string& bytes) {
  for (std::size_t offset = 0; offset < bytes.size();) {
    const long sent = socket.send(bytes.data() + offset, bytes.size() - offset);
    if (sent <= 0) return false;
    offset += static_cast<std::size_t>(sent);
  }
  return true;
}

// Waits pause, sends atOnce, then dripped in pieces of piece bytes, interval apart, until all
// is sent or the server answers or closes; then reads the reply.
Sent sendSlowly(std::chrono::milliseconds pause, const std::string& atOnce,
                const std::string& dripped, std::size_t piece, std::chrono::milliseconds interval) {
  std::unique_ptr<StreamSocket> socket = StreamSocket::connectLoopback(kPort);
  if (!socket) throw std::runtime_error("cannot connect");
  std::this_thread::sleep_for(pause);
  const Clock::time_point start = Clock::now();
  Sent sent;
  char buffer[4096];
  long received = -1;
  bool open = sendAll(*socket, atOnce);
  for (std::size_t offset = 0; open && offset < dripped.size() && Clock::now() - start < kGiveUp;
       offset += piece) {
    open = sendAll(*socket, dripped.substr(offset, piece));
    socket->setTimeouts(interval, 0ms);
    received = socket->receive(buffer, sizeof buffer);  // fails when nothing came meanwhile
    if (received >= 0) break;
  }
  socket->setTimeouts(kGiveUp, kGiveUp);
  if (received < 0) received = socket->receive(buffer, sizeof buffer);
  sent.answeredAfter = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  while (received > 0) {
    sent.reply.append(buffer, static_cast<std::size_t>(received));
    received = socket->receive(buffer, sizeof buffer);
  }
  return sent;
}

TEST(RequestDeadline, AClientThatDripsItsRequestIsDroppedAtTheDeadline) {
  ServerLimits limits;
  limits.connectionSlots = 4;
  limits.receiveTimeout = 5s;  // never reached by a client that drips
  limits.requestTimes = {1000ms, 1000ms, 1000ms};
  ConnectorServer server(kPort, limits);
  StopOnExit guard(server);
  ASSERT_TRUE(server.start([](const HttpRequest& request) {
    return HttpResponse{200, {}, "got " + std::to_string(request.body.size())};
  }));

  struct Case {
    const char* name;
    std::chrono::milliseconds pause;  // after connecting, before the first byte
    std::string atOnce;
    std::string dripped;
    std::size_t piece;
    std::chrono::milliseconds interval;
    std::string body;                     // of the reply; "Bad request" when dropped
    std::chrono::milliseconds droppedAt;  // the deadline, from the first byte; zero: not dropped
  };
  const std::string largeHead = "POST / HTTP/1.1\r\nContent-Length: 2097152\r\n\r\n";
  const std::vector<Case> cases = {
      {"head dripped for ever", 0ms, "", "GET / HTTP/1.1\r\nX-Slow: " + std::string(1000, 'a'), 1,
       25ms, "Bad request", 1000ms},
      {"body dripped for ever", 0ms, "POST / HTTP/1.1\r\nContent-Length: 1000\r\n\r\n",
       std::string(1000, 'b'), 1, 25ms, "Bad request", 1000ms},
      {"head dripped but complete in time", 0ms, "", "GET / HTTP/1.1\r\n\r\n", 2, 20ms, "got 0",
       0ms},
      // 1 s plus 1 s per MiB: 3 s for 2 MiB, sent over about 1.6 s.
      {"large body slower than the base time", 0ms, largeHead, std::string(2097152, 'c'), 262144,
       200ms, "got 2097152", 0ms},
      {"time counted from the first byte", 1500ms, "GET / HTTP/1.1\r\n\r\n", "", 1, 0ms, "got 0",
       0ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Sent sent = sendSlowly(c.pause, c.atOnce, c.dripped, c.piece, c.interval);
    ASSERT_FALSE(sent.reply.empty()) << "no reply after " << sent.answeredAfter.count() << " ms";
    EXPECT_EQ(parseReply(sent.reply).body, c.body);
    if (c.droppedAt > 0ms) {
      EXPECT_EQ(parseReply(sent.reply).status, 400);
      EXPECT_GE(sent.answeredAfter, c.droppedAt);
      EXPECT_LT(sent.answeredAfter, c.droppedAt + 2500ms);
    }
  }
}

}  // namespace
}  // namespace connector
