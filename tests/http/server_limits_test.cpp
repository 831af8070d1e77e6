// Bounded connections: slots, time-outs for idle and non-reading clients, the accept back-off,
// threads that cannot be made or are no longer needed, and stopping with connections in progress.
// Servers here use ports of their own and short time-outs; the shipped defaults stay 64 slots and
// 30 s.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "http/accept_backoff.hpp"
#include "http/server.hpp"
#include "http/socket.hpp"
#include "platform/worker_thread.hpp"
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
  // 5 + 10 + ... + 640 ms is 1.3 s: nine attempts by the thread that tries again, and one by
  // each other standing thread, which then gives up its slot.
  EXPECT_LE(calls->load(), 12);
}

struct ThreadCount {
  std::atomic<int> made{0};
  std::atomic<int> alive{0};
  std::atomic<int> refused{0};

  // Waits a while for exactly that many threads to be alive.
  bool settlesAt(int wanted) {
    for (int i = 0; i < 250 && alive != wanted; ++i) std::this_thread::sleep_for(20ms);
    return alive == wanted;
  }
};

// Real threads, counted; past `allowed` made (none when negative) refused as by a system out of
// threads, or out of memory.
ThreadStarter countedThreads(std::shared_ptr<ThreadCount> count, int allowed = -1,
                             bool outOfMemory = false) {
  return [=](std::function<void()> body) {
    if (allowed >= 0 && count->made >= allowed) {
      ++count->refused;
      if (outOfMemory) throw std::bad_alloc();
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    ++count->made;
    ++count->alive;
    return startWorkerThread([count, body = std::move(body)] {
      body();
      --count->alive;
    });
  };
}

std::string ask(const std::string& path) {
  return parseReply(exchange("GET " + path + " HTTP/1.1\r\n\r\n", test::AfterSending::keepOpen,
                             kPort, kPatience))
      .body;
}

// No thread can be made while the accepting thread serves a request that steps aside: nothing
// accepts until a thread is free, and then that thread does.
TEST(ServerLimits, AcceptingComesBackAfterThreadsCannotBeMade) {
  struct Case {
    const char* name;
    int threadsMade;
    bool outOfMemory;
    int waitingRequests;
  } const cases[] = {
      {"one thread, one waiting request", 1, false, 1},
      {"one thread, four waiting requests", 1, false, 4},
      {"two threads, five waiting requests", 2, false, 5},
      {"no memory for a thread", 1, true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerLimits limits = shortLimits(2);
    limits.waitingPlaces = 4;
    limits.standingThreads = 1;
    auto threads = std::make_shared<ThreadCount>();
    ConnectorServer server(kPort, limits, &ListeningSocket::open,
                           countedThreads(threads, c.threadsMade, c.outOfMemory));
    StopOnExit guard(server);
    Gate gate;  // opened once every thread made serves a waiting request
    ASSERT_TRUE(server.start([&](const HttpRequest& request) {
      if (request.path != "/wait") return HttpResponse{200, {}, "healthy"};
      request.stepAside();
      return gate.pass();
    }));
    std::vector<std::future<std::string>> waiting;
    for (int i = 0; i < c.waitingRequests; ++i)
      waiting.push_back(std::async(std::launch::async, ask, "/wait"));
    EXPECT_TRUE(gate.waitForRunning(c.threadsMade));
    EXPECT_GT(threads->refused, 0);
    gate.open();
    for (auto& reply : waiting) EXPECT_EQ(reply.get(), "passed");
    EXPECT_EQ(ask("/health"), "healthy");
  }
}

// Accepts for real, but has no memory for the first connections' objects.
class ListenerShortOfMemory : public ListeningSocket {
 public:
  explicit ListenerShortOfMemory(std::unique_ptr<ListeningSocket> real) : real_(std::move(real)) {}
  std::unique_ptr<StreamSocket> accept() override {
    std::unique_ptr<StreamSocket> connection = real_->accept();
    if (connection && failures_-- > 0) throw std::bad_alloc();  // closes the connection
    return connection;
  }
  void wake() noexcept override { real_->wake(); }
  bool bindsExclusively() const noexcept override { return real_->bindsExclusively(); }

 private:
  std::unique_ptr<ListeningSocket> real_;
  std::atomic<int> failures_{2};
};

TEST(ServerLimits, NoMemoryForAnAcceptedConnectionCostsOnlyThatConnection) {
  ConnectorServer server(
      kPort, shortLimits(2), [](std::uint16_t port, int backlog, PortSharing sharing) {
        ListeningSocket::Opened opened = ListeningSocket::open(port, backlog, sharing);
        if (opened.socket)
          opened.socket = std::make_unique<ListenerShortOfMemory>(std::move(opened.socket));
        return opened;
      });
  StopOnExit guard(server);
  ASSERT_TRUE(server.start([](const HttpRequest&) { return HttpResponse{200, {}, "healthy"}; }));
  EXPECT_EQ(askHealth(), "");  // closed unanswered, twice
  EXPECT_EQ(askHealth(), "");
  EXPECT_EQ(parseReply(askHealth()).body, "healthy");
}

// A burst starts threads, whether its requests keep their slots or step aside; once idle for the
// given time they leave, down to the standing threads a fresh server has.
TEST(ServerLimits, ThreadsStartedForABurstLeaveOnceIdle) {
  struct Case {
    const char* name;
    bool stepAside;
    int requests;
  } const cases[] = {{"requests that keep their slots", false, 6},
                     {"requests that step aside", true, 14}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerLimits limits = shortLimits(8);
    limits.waitingPlaces = 8;
    limits.standingThreads = 2;
    limits.idleThreadLife = 200ms;
    auto threads = std::make_shared<ThreadCount>();
    ConnectorServer server(kPort, limits, &ListeningSocket::open, countedThreads(threads));
    StopOnExit guard(server);
    Gate gate;
    ASSERT_TRUE(server.start([&](const HttpRequest& request) {
      if (c.stepAside) request.stepAside();
      return request.path == "/health" ? HttpResponse{200, {}, "healthy"} : gate.pass();
    }));
    ASSERT_TRUE(threads->settlesAt(2));
    std::vector<std::future<std::string>> replies;
    for (int i = 0; i < c.requests; ++i)
      replies.push_back(std::async(std::launch::async, ask, "/burst"));
    EXPECT_TRUE(gate.waitForRunning(c.requests));
    EXPECT_GT(threads->alive, c.requests);  // one more waits in accept
    gate.open();
    for (auto& reply : replies) EXPECT_EQ(reply.get(), "passed");
    EXPECT_TRUE(threads->settlesAt(2)) << threads->alive << " threads alive";
    EXPECT_EQ(ask("/health"), "healthy");
  }
}

}  // namespace
}  // namespace connector
