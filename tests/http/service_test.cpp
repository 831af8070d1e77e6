#include "http/service.hpp"

#include <gtest/gtest.h>

#include <string>

#include "test_client.hpp"

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

}  // namespace
}  // namespace connector
