#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "api_fixture.hpp"
#include "encoding/json_parser.hpp"
#include "expected_platform.hpp"
#include "platform/file_lock.hpp"

namespace connector::test {
namespace {

const std::string kCorsFields[] = {"Vary", "Access-Control-Allow-Private-Network",
                                   "Access-Control-Allow-Headers", "Access-Control-Allow-Methods"};

void expectCors(const HttpResponse& response, const std::string& origin) {
  EXPECT_EQ(headerOf(response, "Access-Control-Allow-Origin"),
            origin.empty() ? "<absent>" : origin);
  EXPECT_EQ(headerOf(response, "Vary"), "Origin");
  EXPECT_EQ(headerOf(response, "Access-Control-Allow-Private-Network"), "true");
  EXPECT_EQ(headerOf(response, "Access-Control-Allow-Headers"), "Content-Type");
  EXPECT_EQ(headerOf(response, "Access-Control-Allow-Methods"), "GET, POST, OPTIONS");
}

TEST_F(ApiTest, PreflightAnswersAnyPathWithCorsHeadersOnly) {
  for (const std::string origin : {"http://localhost:5173", ""}) {
    for (const std::string target : {"/v1/convert", "/nowhere", "/pair?origin=x"}) {
      SCOPED_TRACE(origin + " " + target);
      std::map<std::string, std::string> headers;
      if (!origin.empty()) headers["origin"] = origin;
      HttpResponse response = call("OPTIONS", target, headers);
      EXPECT_EQ(response.status, 204);
      EXPECT_EQ(response.body, "");
      EXPECT_EQ(response.headers.size(), origin.empty() ? 4u : 5u);
      expectCors(response, origin);
    }
  }
}

TEST_F(ApiTest, HealthReportsAuthorizationAndSpineInMemberOrder) {
  const std::string platform = expectedPlatform();
  const std::string tail = "\"platform\":\"" + platform +
                           "\",\"secureAvailable\":false,\"spineFound\":true,"
                           "\"supportedVersions\":[\"3.8\",\"4.0\",\"4.1\",\"4.2\",\"4.3\"]}";
  struct Case {
    const char* origin;
    std::string body;
  } cases[] = {
      {"http://localhost:5173", "{\"authorized\":true,\"connectorVersion\":\"2.0.0\"," + tail},
      {"", "{\"authorized\":true,\"connectorVersion\":\"2.0.0\"," + tail},
      {"http://127.0.0.1:3000",
       "{\"authorized\":false,\"connectorVersion\":\"2.0.0\",\"pairUrl\":\"http://127.0.0.1:27843/"
       "pair?origin=http%3A%2F%2F127.0.0.1%3A3000\"," +
           tail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.origin);
    std::map<std::string, std::string> headers;
    if (*c.origin != '\0') headers["origin"] = c.origin;
    // The query plays no part in routing.
    HttpResponse response = call("GET", "/v1/health?x=1", headers);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, c.body);
    EXPECT_EQ(headerOf(response, "Content-Type"), "application/json; charset=utf-8");
    expectCors(response, c.origin);
  }

  spineAbsent();
  HttpResponse response = call("GET", "/v1/health");
  EXPECT_NE(response.body.find("\"spineFound\":false"), std::string::npos) << response.body;
}

// The search for Spine may take long (its settings locked by another program, a launcher on a
// stalled share); it runs before the state lock, which pairings and conversions wait for.
TEST_F(ApiTest, HealthSearchesForSpineWithoutHoldingTheStateLock) {
  spinePresent();
  std::optional<FileLock> settingsHeld;
  ASSERT_EQ(FileLock::acquire(temp_ / "config.json.lock", FileLock::Mode::Exclusive, true,
                              {1, std::chrono::milliseconds(0)}, settingsHeld),
            Attempt::Done);
  auto health = std::async(std::launch::async, [this] { return call("GET", "/v1/health"); });
  int stateLockBusy = 0;
  for (int i = 0; i < 40; ++i) {  // while the search waits for the settings
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::unique_lock lock(service_.stateLock(), std::try_to_lock);
    if (!lock.owns_lock()) ++stateLockBusy;
  }
  settingsHeld.reset();
  EXPECT_EQ(health.get().status, 200);
  EXPECT_EQ(stateLockBusy, 0);
}

TEST_F(ApiTest, UnknownRoutesAreNotFound) {
  const std::pair<std::string, std::string> routes[] = {
      {"GET", "/v1/health/"}, {"GET", "/V1/health"},  {"HEAD", "/v1/health"}, {"get", "/v1/health"},
      {"DELETE", "/pair"},    {"GET", "/v1/convert"}, {"PUT", "/v1/convert"}, {"GET", "/"},
  };
  for (const auto& [method, target] : routes) {
    SCOPED_TRACE(method + " " + target);
    HttpResponse response = call(method, target, {{"origin", "http://evil.test"}});
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.body, "{\"code\":\"NOT_FOUND\",\"message\":\"接口不存在\"}");
    expectCors(response, "http://evil.test");
  }
}

TEST_F(ApiTest, EndpointFailuresBecomeConversionFailed) {
  // A body that is not JSON, from an allowed origin with Spine present: the parser's own message.
  std::string parserMessage;
  try {
    parseJson("not json");
  } catch (const JsonParseError& error) {
    parserMessage = error.what();
  }
  ASSERT_FALSE(parserMessage.empty());
  HttpResponse response =
      call("POST", "/v1/convert", {{"origin", "http://localhost:5173"}}, "not json");
  EXPECT_EQ(response.status, 500);
  JsonValue reply = parseJson(response.body);
  EXPECT_EQ(reply.asObject().size(), 2u);
  EXPECT_EQ(reply.find("code")->asString(), "CONVERSION_FAILED");
  EXPECT_EQ(reply.find("message")->asString(), parserMessage);
  expectCors(response, "http://localhost:5173");

  // The same catch covers the pairing form.
  response = call("POST", "/pair", {{"origin", "http://localhost:5173"}}, "nonce=%zz");
  EXPECT_EQ(response.status, 500);
  EXPECT_EQ(response.body, "{\"code\":\"CONVERSION_FAILED\",\"message\":\"URL 编码无效\"}");
  expectCors(response, "http://localhost:5173");

  // A failing endpoint leaves no lock behind.
  EXPECT_TRUE(service_.stateLock().try_lock());
  service_.stateLock().unlock();
  EXPECT_TRUE(service_.conversionLock().try_lock());
  service_.conversionLock().unlock();
}

}  // namespace
}  // namespace connector::test
