// Bounded connections: slots, time-outs for idle and non-reading clients, the accept back-off
// and stopping with connections in progress. Servers here use ports of their own and short
// time-outs; the shipped defaults stay 64 slots and 30 s.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/accept_backoff.hpp"
#include "http/server.hpp"
#include "http/socket.hpp"
#include "test_client.hpp"

namespace connector {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::exchange;
using test::parseReply;
using test::StopOnExit;

constexpr std::uint16_t kPort = 27861;
constexpr auto kPatience = 10s;  // a test client gives up after this much silence

ServerLimits shortLimits(std::size_t slots) {
  ServerLimits limits;
  limits.connectionSlots = slots;
  limits.receiveTimeout = 300ms;
  limits.sendTimeout = 300ms;
  return limits;
}

std::string askHealth() {
  return exchange("GET /v1/health HTTP/1.1\r\n\r\n", test::AfterSending::keepOpen, kPort,
                  kPatience);
}

// A client that connects, sends the start of a head and then nothing.
std::unique_ptr<StreamSocket> idleClient() {
  std::unique_ptr<StreamSocket> socket = StreamSocket::connectLoopback(kPort);
  if (!socket) throw std::runtime_error("cannot connect");
  socket->send("GET / HT", 8);
  socket->setTimeouts(kPatience, kPatience);
  return socket;
}

// Everything the server sends to socket until it closes; "TIMED OUT" when it never does.
std::string drain(StreamSocket& socket) {
  std::string all;
  char buffer[4096];
  while (true) {
    const long received = socket.receive(buffer, sizeof buffer);
    if (received < 0) return "TIMED OUT";
    if (received == 0) return all;
    all.append(buffer, static_cast<std::size_t>(received));
  }
}

// Handlers that block until released, counting how many run at once.
class Gate {
 public:
  HttpResponse pass() {
    std::unique_lock guard(lock_);
    ++running_;
    most_ = std::max(most_, running_);
    changed_.notify_all();
    changed_.wait(guard, [this] { return open_; });
    --running_;
    return HttpResponse{200, {}, "passed"};
  }
  bool waitForRunning(int count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, 10s, [&] { return running_ >= count; });
  }
  void open() {
    {
      const std::lock_guard guard(lock_);
      open_ = true;
    }
    changed_.notify_all();
  }
  int running() {
    const std::lock_guard guard(lock_);
    return running_;
  }
  int most() {
    const std::lock_guard guard(lock_);
    return most_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int running_ = 0;
  int most_ = 0;
  bool open_ = false;
};

// More clients than slots: the extra ones wait for a slot, and a handler that runs far beyond
// the time-outs is never cut by them.
TEST(ServerLimits, ServesAtMostTheSlotsAtOnceAndNeverTimesTheHandler) {
  Gate gate;
  ConnectorServer server(kPort, shortLimits(3));
  StopOnExit guard(server);
  ASSERT_TRUE(server.start([&](const HttpRequest&) { return gate.pass(); }));

  std::vector<std::future<std::string>> replies;
  for (int i = 0; i < 5; ++i) replies.push_back(std::async(std::launch::async, askHealth));
  ASSERT_TRUE(gate.waitForRunning(3));
  std::this_thread::sleep_for(1s);  // more than three receive and send time-outs
  EXPECT_EQ(gate.running(), 3);
  gate.open();
  for (auto& reply : replies) EXPECT_EQ(parseReply(reply.get()).body, "passed");
  EXPECT_EQ(gate.most(), 3);
}

// Requests waiting for another request's work step aside: more of them than slots neither keep
// a quick request out nor are refused. Two slots and four waiting places: four waiters step
// aside, the fifth keeps its slot (no place is left), and health still has the other one.
TEST(ServerLimits, RequestsWaitingForOthersLeaveTheirSlotsToQuickOnes) {
  Gate gate;
  ServerLimits limits = shortLimits(2);
  limits.waitingPlaces = 4;
  ConnectorServer server(kPort, limits);
  StopOnExit guard(server);
  ASSERT_TRUE(server.start([&](const HttpRequest& request) {
    if (request.path != "/wait") return HttpResponse{200, {}, "healthy"};
    request.stepAside();
    request.stepAside();  // a second call must not give up a second slot
    return gate.pass();
  }));

  std::vector<std::future<std::string>> waiting;
  struct OpenOnExit {  // a failed assertion must not leave the waiters, and the test, hanging
    Gate& gate;
    ~OpenOnExit() { gate.open(); }
  } openOnExit{gate};
  for (int i = 0; i < 5; ++i) {
    waiting.push_back(std::async(std::launch::async, [] {
      return exchange("GET /wait HTTP/1.1\r\n\r\n", test::AfterSending::keepOpen, kPort, 60s);
    }));
    ASSERT_TRUE(gate.waitForRunning(i + 1));
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(parseReply(askHealth()).body, "healthy");
  EXPECT_EQ(gate.running(), 5);
  gate.open();
  for (auto& reply : waiting) EXPECT_EQ(parseReply(reply.get()).body, "passed");
}

// Every slot held by a client that sends nothing: each is dropped after the time-out and
// health answers again.
TEST(ServerLimits, IdleClientsAreDroppedAndHealthAnswersAgain) {
  ConnectorServer server(kPort, shortLimits(4));
  StopOnExit guard(server);
  ASSERT_TRUE(server.start([](const HttpRequest&) { return HttpResponse{200, {}, "healthy"}; }));

  std::vector<std::unique_ptr<StreamSocket>> idle;
  for (int i = 0; i < 10; ++i) idle.push_back(idleClient());
  EXPECT_EQ(parseReply(askHealth()).body, "healthy");
  for (auto& client : idle) {
    const std::string reply = drain(*client);
    ASSERT_NE(reply, "TIMED OUT");
    EXPECT_EQ(parseReply(reply).status, 400);
  }
}

// A client that sends its request and then takes nothing of a large reply loses its slot.
TEST(ServerLimits, AClientThatStopsReadingIsDropped) {
  ConnectorServer server(kPort, shortLimits(1));
  StopOnExit guard(server);
  ASSERT_TRUE(server.start([](const HttpRequest& request) {
    return HttpResponse{200, {}, std::string(request.path == "/big" ? 64u << 20 : 2u, 'z')};
  }));

  std::unique_ptr<StreamSocket> stalled = StreamSocket::connectLoopback(kPort);
  ASSERT_TRUE(stalled);
  const std::string request = "GET /big HTTP/1.1\r\n\r\n";
  ASSERT_EQ(stalled->send(request.data(), request.size()), static_cast<long>(request.size()));
  EXPECT_EQ(parseReply(askHealth()).body, "zz");
}

// A stop cancels the clients that are still sending, and waits for a handler in progress,
// whose reply still goes out.
TEST(ServerLimits, StopEndsIdleClientsAndWaitsForRunningHandlers) {
  ServerLimits limits;  // the real 30 s time-outs: the stop must not wait for them
  limits.connectionSlots = 4;
  std::atomic<bool> finished{false};
  ConnectorServer server(kPort, limits);
  StopOnExit guard(server);
  Gate gate;
  ASSERT_TRUE(server.start([&](const HttpRequest&) {
    gate.pass();
    std::this_thread::sleep_for(300ms);
    finished = true;
    return HttpResponse{200, {}, "late"};
  }));

  std::unique_ptr<StreamSocket> idle = idleClient();
  auto reply = std::async(std::launch::async, askHealth);
  ASSERT_TRUE(gate.waitForRunning(1));
  gate.open();
  const Clock::time_point before = Clock::now();
  server.stop();
  EXPECT_LT(Clock::now() - before, 2500ms);
  EXPECT_TRUE(finished.load());
  EXPECT_EQ(parseReply(reply.get()).body, "late");
  EXPECT_NE(drain(*idle), "TIMED OUT");
}

// A handler still running from before a stop keeps its own handler and reply, while the next
// start serves with the handler it was given.
TEST(ServerLimits, ARestartServesWithTheNewHandlerWhileAnOldOneFinishes) {
  ServerLimits limits = shortLimits(2);
  limits.stopWait = 100ms;  // the stop gives up waiting for the old handler
  ConnectorServer server(kPort, limits);
  StopOnExit guard(server);
  Gate gate;
  struct OpenOnExit {
    Gate& gate;
    ~OpenOnExit() { gate.open(); }
  } openOnExit{gate};
  ASSERT_TRUE(server.start([&](const HttpRequest&) {
    gate.pass();
    return HttpResponse{200, {}, "old"};
  }));
  auto oldReply = std::async(std::launch::async, askHealth);
  ASSERT_TRUE(gate.waitForRunning(1));
  server.stop();
  ASSERT_TRUE(server.start([](const HttpRequest&) { return HttpResponse{200, {}, "new"}; }));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(parseReply(askHealth()).body, "new");
  gate.open();
  EXPECT_EQ(parseReply(oldReply.get()).body, "old");
}

// A listener whose accept always fails, counting the calls.
class FailingListener : public ListeningSocket {
 public:
  explicit FailingListener(std::shared_ptr<std::atomic<int>> calls) : calls_(std::move(calls)) {}
  std::unique_ptr<StreamSocket> accept() override {
    ++*calls_;
    return nullptr;
  }
  void wake() noexcept override {}
  bool bindsExclusively() const noexcept override { return true; }

 private:
  std::shared_ptr<std::atomic<int>> calls_;
};

TEST(ServerLimits, AcceptFailuresBackOffUpToASecond) {
  AcceptBackoff backoff;
  std::vector<long long> pauses;
  for (int i = 0; i < 10; ++i) pauses.push_back(backoff.afterFailure().count());
  EXPECT_EQ(pauses, (std::vector<long long>{5, 10, 20, 40, 80, 160, 320, 640, 1000, 1000}));
  backoff.afterSuccess();
  EXPECT_EQ(backoff.afterFailure(), 5ms);

  auto calls = std::make_shared<std::atomic<int>>(0);
  ConnectorServer server(kPort, {}, [calls](std::uint16_t, int, PortSharing) {
    return ListeningSocket::Opened{ListenStatus::listening,
                                   std::make_unique<FailingListener>(calls)};
  });
  StopOnExit guard(server);
  ASSERT_TRUE(server.start([](const HttpRequest&) { return HttpResponse{}; }));
  std::this_thread::sleep_for(1500ms);
  const Clock::time_point before = Clock::now();
  server.stop();  // inside a pause of up to a second: the stop must not wait it out
  EXPECT_LT(Clock::now() - before, 500ms);
  EXPECT_GE(calls->load(), 5);
  EXPECT_LE(calls->load(), 12);  // 5 + 10 + ... + 640 ms is 1.3 s: nine or ten attempts
}

}  // namespace
}  // namespace connector
