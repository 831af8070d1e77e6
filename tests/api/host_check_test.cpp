#include <gtest/gtest.h>

#include "api/host_check.hpp"
#include "api_fixture.hpp"

namespace connector::test {
namespace {

const std::string kRefusal =
    "{\"code\":\"HOST_NOT_ALLOWED\",\"message\":\"不允许通过此地址访问连接器\"}";

TEST_F(ApiTest, OnlyTheConnectorsOwnHostNamesAreServed) {
  const std::string port = std::to_string(kTestPort);
  struct Case {
    std::string host;
    bool allowed;
  } cases[] = {
      {"127.0.0.1", true},
      {"127.0.0.1:" + port, true},
      {"localhost", true},
      {"localhost:" + port, true},
      {"LOCALHOST", true},
      {"LocalHost:" + port, true},
      {"[::1]", true},
      {"[::1]:" + port, true},
      {"localhost:27843", false},  // not the port this server listens on
      {"localhost:1234", false},
      {"localhost:", false},
      {"localhost:0" + port, false},
      {"localhost:+" + port, false},
      {"localhost.", false},
      {"evil.example", false},
      {"evil.example:" + port, false},
      {"127.0.0.1.evil.example", false},
      {"127.0.0.1.evil.example:" + port, false},
      {"localhost.evil.example", false},
      {"127.0.0.2", false},
      {"::1", false},
      {"[::1", false},
      {"[::2]:" + port, false},
      {"[::1]evil:" + port, false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(isConnectorHost(c.host, kTestPort), c.allowed);
    // Through the router: preflights are refused as well, and the refusal is not readable
    // cross-origin.
    for (const std::string method : {"GET", "OPTIONS"}) {
      HttpResponse response =
          call(method, "/v1/health", {{"host", c.host}, {"origin", "http://localhost:5173"}});
      if (c.allowed) {
        EXPECT_EQ(response.status, method == "GET" ? 200 : 204);
        EXPECT_EQ(headerOf(response, "Access-Control-Allow-Origin"), "http://localhost:5173");
      } else {
        EXPECT_EQ(response.status, 403);
        EXPECT_EQ(response.body, kRefusal);
        EXPECT_EQ(response.headers.size(), 1u);
        EXPECT_EQ(headerOf(response, "Content-Type"), "application/json; charset=utf-8");
      }
    }
  }
  // A request without any Host header is served as before.
  EXPECT_EQ(call("GET", "/v1/health").status, 200);
}

TEST(HostCheck, ComparesWithTheShippedPort) {
  EXPECT_TRUE(isConnectorHost("localhost:27843", 27843));
  EXPECT_TRUE(isConnectorHost("127.0.0.1:27843", 27843));
  EXPECT_FALSE(isConnectorHost("localhost:1234", 27843));
  EXPECT_FALSE(isConnectorHost("evil.example:27843", 27843));
}

TEST_F(ApiTest, ForeignHostCannotPairOrConvert) {
  const std::map<std::string, std::string> headers = {
      {"host", "rebound.example:" + std::to_string(kTestPort)}};
  HttpResponse page = call("GET", "/pair?origin=http://rebound.example", headers);
  EXPECT_EQ(page.status, 403);
  EXPECT_EQ(registry_.size(), 0u);
  EXPECT_EQ(call("POST", "/pair", headers, "nonce=x").status, 403);
  EXPECT_EQ(call("POST", "/v1/convert", headers, "{}").body, kRefusal);
}

}  // namespace
}  // namespace connector::test
