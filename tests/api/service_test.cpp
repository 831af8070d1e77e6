#include "api/service.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "http/test_client.hpp"

namespace connector {
namespace {

using test::exchange;
using test::parseReply;

TEST(ConnectorService, StartsOnlyThePlainServerAndStopsIdempotently) {
  int handlersMade = 0;
  ConnectorService* boundTo = nullptr;
  {
    ConnectorService service([&](ConnectorService& owner) -> RouteHandler {
      ++handlersMade;
      boundTo = &owner;
      return [&owner, number = handlersMade](const HttpRequest&) {
        // The handler reaches the service's locks, as the connector API does.
        std::lock_guard<std::mutex> lock(owner.stateLock());
        return HttpResponse{200, {}, "handler " + std::to_string(number)};
      };
    });
    struct StopService {
      ConnectorService& service;
      ~StopService() { service.stop(); }
    } guard{service};

    ASSERT_TRUE(service.start());
    EXPECT_TRUE(service.start());
    EXPECT_EQ(handlersMade, 1);  // a running service keeps its handler
    EXPECT_EQ(boundTo, &service);
    EXPECT_TRUE(service.plainServer().isRunning());
    EXPECT_EQ(service.plainServer().port(), kConnectorPort);
    EXPECT_FALSE(service.secureServer().isRunning());
    EXPECT_EQ(service.secureServer().port(), kSecurePort);
    EXPECT_EQ(parseReply(exchange("GET /v1/health HTTP/1.1\r\n\r\n")).body, "handler 1");

    service.stop();
    service.stop();
    EXPECT_FALSE(service.plainServer().isRunning());
    EXPECT_FALSE(test::canConnect());

    ASSERT_TRUE(service.start());  // a fresh handler for the fresh start
    EXPECT_EQ(handlersMade, 2);
    EXPECT_EQ(parseReply(exchange("GET / HTTP/1.1\r\n\r\n")).body, "handler 2");
  }
  // Destroying the service stopped it.
  EXPECT_FALSE(test::canConnect());
}

// Each run has its own stop signal: stopping requests it, and a fresh start gets a fresh one.
TEST(ConnectorService, EveryRunHasAStopTokenThatTheStopRequests) {
  ConnectorService service(
      [](ConnectorService&) -> RouteHandler {
        return [](const HttpRequest&) { return HttpResponse{}; };
      },
      27862);
  ASSERT_TRUE(service.start());
  const std::stop_token first = service.stopToken();
  EXPECT_TRUE(first.stop_possible());
  EXPECT_FALSE(first.stop_requested());
  service.stop();
  EXPECT_TRUE(first.stop_requested());
  EXPECT_TRUE(service.stopToken().stop_requested());

  ASSERT_TRUE(service.start());
  EXPECT_FALSE(service.stopToken().stop_requested());
  EXPECT_TRUE(first.stop_requested());
  service.stop();
}

// A handler that watches the stop token (as a conversion does) is told before the stop waits
// for it, so the stop is quick and its client still gets the handler's reply.
TEST(ConnectorService, StopSignalsRunningHandlersBeforeWaitingForThem) {
  using namespace std::chrono_literals;
  std::atomic<bool> entered{false};
  ConnectorService service(
      [&](ConnectorService& owner) -> RouteHandler {
        return [&, owner = &owner](const HttpRequest&) {
          const std::stop_token stop = owner->stopToken();
          entered = true;
          const auto giveUp = std::chrono::steady_clock::now() + 20s;
          while (!stop.stop_requested() && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(5ms);
          }
          return HttpResponse{200, {}, stop.stop_requested() ? "ended by the stop" : "not told"};
        };
      },
      27862);
  ASSERT_TRUE(service.start());
  auto reply = std::async(std::launch::async, [] {
    return exchange("GET / HTTP/1.1\r\n\r\n", test::AfterSending::keepOpen, 27862);
  });
  while (!entered) std::this_thread::yield();
  const auto before = std::chrono::steady_clock::now();
  service.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);  // the bounded wait is 3 s
  EXPECT_EQ(parseReply(reply.get()).body, "ended by the stop");
}

// A conversion told to stop still ends its Spine and removes its workspace under the conversion
// lock; the stop returns only after that, however short its wait for the connections (the session
// may end the moment it returns).
TEST(ConnectorService, StopReturnsOnceTheConversionUnderWayHasCleanedUp) {
  using namespace std::chrono_literals;
  std::atomic<bool> entered{false}, cleanedUp{false};
  ServerLimits limits;
  limits.stopWait = 20ms;
  ConnectorService service(
      [&](ConnectorService& owner) -> RouteHandler {
        return [&, owner = &owner](const HttpRequest&) {
          const std::lock_guard lock(owner->conversionLock());
          entered = true;
          while (!owner->stopToken().stop_requested()) std::this_thread::sleep_for(5ms);
          std::this_thread::sleep_for(300ms);  // the tree's end and the workspace's removal
          cleanedUp = true;
          return HttpResponse{500, {}, "cancelled"};
        };
      },
      27862, limits);
  ASSERT_TRUE(service.start());
  auto reply = std::async(std::launch::async, [] {
    return exchange("GET / HTTP/1.1\r\n\r\n", test::AfterSending::keepOpen, 27862);
  });
  while (!entered) std::this_thread::yield();
  service.stop();
  EXPECT_TRUE(cleanedUp.load());
}

// A handler still running when the stop's wait is over (it ignores the stop signal) keeps the
// service alive: the destructor waits for it, so its use of the service's locks is safe. It also
// asks the secure server whether it runs (the health report does), so that server must outlive the
// plain server's connections: members are destroyed in reverse order of declaration, and one
// declared later lies at a higher address.
TEST(ConnectorService, NoConnectionThreadOutlivesTheServiceOrItsSecureServer) {
  using namespace std::chrono_literals;
  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
  std::future<std::string> reply;
  {
    ServerLimits limits;
    limits.stopWait = 50ms;
    ConnectorService service(
        [&](ConnectorService& owner) -> RouteHandler {
          return [&, owner = &owner](const HttpRequest&) {
            entered = true;
            std::this_thread::sleep_for(400ms);  // past the stop's wait: members are going
            const std::lock_guard lock(owner->conversionLock());
            finished = true;
            return HttpResponse{200, {}, owner->secureServer().isRunning() ? "secure" : "plain"};
          };
        },
        27862, limits);
    EXPECT_TRUE(std::less<const void*>()(&service.secureServer(), &service.plainServer()));
    ASSERT_TRUE(service.start());
    reply = std::async(std::launch::async, [] {
      return exchange("GET / HTTP/1.1\r\n\r\n", test::AfterSending::keepOpen, 27862);
    });
    while (!entered) std::this_thread::yield();
    service.stop();
  }
  EXPECT_TRUE(finished.load());
  EXPECT_EQ(parseReply(reply.get()).body, "plain");
}

}  // namespace
}  // namespace connector
