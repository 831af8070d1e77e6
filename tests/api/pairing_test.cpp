#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <memory>
#include <regex>
#include <thread>
#include <vector>

#include "api_fixture.hpp"
#include "config/config.hpp"
#include "config/origin_allow_list.hpp"
#include "encoding/json_parser.hpp"
#include "platform/text.hpp"

namespace connector::test {
namespace {

namespace fs = std::filesystem;

const std::string kPrefix =
    "<!doctype html><meta charset=\"utf-8\"><title>Glimmer连接器</title><style>body{font:16px "
    "system-ui;max-width:620px;margin:60px auto;padding:24px;color:#e9ebff;background:#10131e}"
    "main{padding:28px;border:1px solid #38415d;border-radius:12px;background:#181e2c}button{"
    "padding:10px 18px;border:0;border-radius:7px;color:white;background:#5b5ce2;cursor:pointer}"
    "code{word-break:break-all;color:#aeb8e8}</style><main>";
const std::string kInvalidPage = kPrefix + "<h2>授权地址无效</h2></main>";
const std::string kExpiredPage = kPrefix + "<h2>授权已过期，请返回编辑器重试</h2></main>";

std::string confirmationPage(const std::string& origin, const std::string& nonce) {
  return kPrefix +
         "<h2>授权 Glimmer编辑器</h2><p>是否允许下面的网站调用本机 Spine，将它生成的 JSON 转换为 "
         "<code>.spine</code> 文件？</p><p><code>" +
         origin +
         "</code></p><form method=\"post\" action=\"/pair\"><input type=\"hidden\" name=\"nonce\" "
         "value=\"" +
         nonce + "\"><button type=\"submit\">允许此网站</button></form></main>";
}

std::string successPage(const std::string& origin) {
  return kPrefix + "<h2>授权成功</h2><p><code>" + origin +
         "</code> 现在可以生成 Spine 工程。请关闭此页面并回到编辑器重试。</p></main>";
}

// Every pairing page: HTML, not cached, not frameable, no cross-origin headers.
void expectPageHeaders(const HttpResponse& response) {
  EXPECT_EQ(response.headers.size(), 4u);
  EXPECT_EQ(headerOf(response, "Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(headerOf(response, "Cache-Control"), "no-store");
  EXPECT_EQ(headerOf(response, "X-Frame-Options"), "DENY");
  EXPECT_EQ(headerOf(response, "Content-Security-Policy"), "frame-ancestors 'none'");
  EXPECT_EQ(headerOf(response, "Access-Control-Allow-Origin"), "<absent>");
}

std::string nonceOf(const HttpResponse& page) {
  static const std::regex pattern("name=\"nonce\" value=\"([0-9a-f]{48})\"");
  std::smatch match;
  if (!std::regex_search(page.body, match, pattern)) return {};
  return match[1].str();
}

class PairingTest : public ApiTest {
 protected:
  // The headers a browser sends: the Origin header plays no part in pairing.
  HttpResponse getPage(const std::string& origin) {
    return call("GET", "/pair?origin=" + origin, {{"origin", "http://unrelated.test"}});
  }
  HttpResponse confirm(const std::string& nonce) {
    return call("POST", "/pair", {{"content-type", "application/x-www-form-urlencoded"}},
                "nonce=" + nonce);
  }
  std::string offer(const std::string& origin) {
    HttpResponse page = getPage(origin);
    EXPECT_EQ(page.status, 200);
    return nonceOf(page);
  }
};

TEST_F(PairingTest, PagesAreExactAndCarryTheirHeaders) {
  for (const std::string origin : {"", "http://localhost:5173/", "HTTP://localhost", "http://a_b",
                                   "http://x:123456", "ftp://x", "http://<b>"}) {
    SCOPED_TRACE(origin);
    HttpResponse invalid = getPage(origin);
    EXPECT_EQ(invalid.status, 400);
    EXPECT_EQ(invalid.body, kInvalidPage);
    expectPageHeaders(invalid);
  }
  HttpResponse noQuery = call("GET", "/pair");
  EXPECT_EQ(noQuery.status, 400);
  EXPECT_EQ(noQuery.body, kInvalidPage);

  const std::string origin = "https://[::1]:8443";
  HttpResponse page = getPage(origin);
  const std::string nonce = nonceOf(page);
  ASSERT_EQ(nonce.size(), 48u) << page.body;
  EXPECT_EQ(page.status, 200);
  // The page as it always was, then the click guard: one inline script and nothing else.
  const std::string unguarded = confirmationPage(origin, nonce);
  EXPECT_EQ(page.body.substr(0, unguarded.size()), unguarded);
  const std::string guard = page.body.substr(std::min(unguarded.size(), page.body.size()));
  EXPECT_TRUE(guard.starts_with("<script>") && guard.ends_with("</script>")) << guard;
  EXPECT_EQ(guard.find("</"), guard.size() - 9) << guard;
  expectPageHeaders(page);
  EXPECT_FALSE(OriginAllowList::isOriginAllowed(origin));

  HttpResponse success = confirm(nonce);
  EXPECT_EQ(success.status, 200);
  EXPECT_EQ(success.body, successPage(origin));
  expectPageHeaders(success);
  EXPECT_TRUE(OriginAllowList::isOriginAllowed(origin));

  // A nonce is good for one confirmation only.
  HttpResponse again = confirm(nonce);
  EXPECT_EQ(again.status, 400);
  EXPECT_EQ(again.body, kExpiredPage);
  expectPageHeaders(again);

  for (const std::string& body :
       {std::string(), std::string("nonce="), std::string("nonce=0123"), "other=" + nonce}) {
    SCOPED_TRACE(body);
    HttpResponse expired = call("POST", "/pair", {}, body);
    EXPECT_EQ(expired.status, 400);
    EXPECT_EQ(expired.body, kExpiredPage);
  }
}

TEST_F(PairingTest, EveryOfferIsItsOwnNonceAndStoresTheOriginOnce) {
  const std::string origin = "http://editor.example:8080";
  const std::string first = offer(origin);
  const std::string second = offer(origin);
  ASSERT_EQ(first.size(), 48u);
  EXPECT_NE(first, second);
  EXPECT_EQ(confirm(second).status, 200);
  EXPECT_EQ(confirm(first).status, 200);
  EXPECT_EQ(loadConfig().allowedOrigins, std::vector<std::string>{origin});

  // The server has already decoded the query; the form body is decoded here.
  const std::string third = offer("http://a.example");
  HttpResponse success = call("POST", "/pair", {}, "x=1&nonce=" + third + "&nonce=zz");
  EXPECT_EQ(success.status, 200);
  EXPECT_EQ(success.body, successPage("http://a.example"));
}

TEST_F(PairingTest, NonceExpiresAfterFiveMinutes) {
  const std::string onTime = offer("http://on-time.example");
  const std::string late = offer("http://late.example");
  advanceClock(std::chrono::minutes(5));
  // Exactly at its expiry a pairing is still accepted.
  EXPECT_EQ(confirm(onTime).status, 200);
  advanceClock(std::chrono::nanoseconds(1));
  HttpResponse expired = confirm(late);
  EXPECT_EQ(expired.status, 400);
  EXPECT_EQ(expired.body, kExpiredPage);
  EXPECT_EQ(confirm(late).status, 400);
  EXPECT_FALSE(OriginAllowList::isOriginAllowed("http://late.example"));
  EXPECT_TRUE(OriginAllowList::isOriginAllowed("http://on-time.example"));
}

TEST_F(PairingTest, ExpiredOffersAreDroppedWhenANewOneIsMade) {
  offer("http://a.example");
  advanceClock(std::chrono::minutes(2));
  const std::string young = offer("http://b.example");
  EXPECT_EQ(registry_.size(), 2u);

  advanceClock(std::chrono::minutes(3));  // the first is exactly at its expiry: kept
  offer("http://c.example");
  EXPECT_EQ(registry_.size(), 3u);

  advanceClock(std::chrono::nanoseconds(1));  // now past it
  offer("http://d.example");
  EXPECT_EQ(registry_.size(), 3u);

  advanceClock(std::chrono::minutes(10));  // everything older is gone
  offer("http://e.example");
  EXPECT_EQ(registry_.size(), 1u);
  EXPECT_EQ(confirm(young).status, 400);
}

// A page looping over GET /pair: the table stays bounded, the newest link still confirms, and an
// evicted one confirms as expired.
TEST_F(PairingTest, AFloodStaysBoundedAndAFreshLinkStillWorks) {
  const std::string early = offer("http://user.example");
  std::vector<std::string> flood;
  for (int i = 0; i < 200; ++i) flood.push_back(offer("http://flood.example"));
  // One origin's flood evicts only its own oldest offers.
  EXPECT_EQ(registry_.size(), 1 + PairingRegistry::kMaxPerOrigin);
  HttpResponse evicted = confirm(flood.front());
  EXPECT_EQ(evicted.status, 400);
  EXPECT_EQ(evicted.body, kExpiredPage);
  EXPECT_EQ(confirm(flood.back()).status, 200);
  EXPECT_EQ(confirm(early).status, 200);

  // Many origins: the total bound holds, the oldest go first, the fresh link works.
  const std::string stale = offer("http://stale.example");
  for (std::size_t i = 0; i < PairingRegistry::kMaxEntries; ++i) {
    registry_.add("flood-" + std::to_string(i), "http://h" + std::to_string(i) + ".example");
  }
  EXPECT_EQ(registry_.size(), PairingRegistry::kMaxEntries);
  const std::string fresh = offer("http://fresh.example");
  EXPECT_EQ(registry_.size(), PairingRegistry::kMaxEntries);
  EXPECT_EQ(confirm(stale).body, kExpiredPage);
  HttpResponse success = confirm(fresh);
  EXPECT_EQ(success.status, 200);
  EXPECT_EQ(success.body, successPage("http://fresh.example"));
  EXPECT_EQ(loadConfig().allowedOrigins,
            (std::vector<std::string>{"http://flood.example", "http://user.example",
                                      "http://fresh.example"}));
}

TEST(PairingRegistryBounds, LongOriginsAreBoundedByBytes) {
  PairingRegistry registry;
  const std::string longHost(60'000, 'a');
  for (int i = 0; i < 1'000; ++i) {
    registry.add(std::to_string(i), "http://" + std::to_string(i) + longHost);
  }
  EXPECT_LE(registry.size() * longHost.size(), PairingRegistry::kMaxBytes);
  EXPECT_GT(registry.size(), PairingRegistry::kMaxBytes / longHost.size() / 2);
  EXPECT_EQ(registry.take("999"), "http://999" + longHost);  // the newest is kept
  EXPECT_EQ(registry.take("0"), std::nullopt);
}

// The work of an add does not grow with the table: per add at 1,000 and at 100,000 offers (the
// table full for most of them), and after a mass expiry, whose entries are each visited once.
TEST(PairingRegistryBounds, AddsDoNotScanTheTable) {
  auto clock =
      std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
  const auto workPerAdd = [&](std::size_t adds, bool distinctOrigins) {
    PairingRegistry registry([clock] { return *clock; });
    for (std::size_t i = 0; i < adds; ++i) {
      registry.add(std::to_string(i),
                   distinctOrigins ? "http://h" + std::to_string(i) : "http://one");
      if (registry.entriesVisited() > 3 * (i + 1)) {  // a scan shows at once; stop before it crawls
        ADD_FAILURE() << registry.entriesVisited() << " entries visited by " << i + 1 << " adds";
        break;
      }
    }
    EXPECT_LE(registry.size(), PairingRegistry::kMaxEntries);
    return static_cast<double>(registry.entriesVisited()) / static_cast<double>(adds);
  };
  for (bool distinct : {true, false}) {
    SCOPED_TRACE(distinct ? "distinct origins" : "one origin");
    const double small = workPerAdd(1'000, distinct);
    const double large = workPerAdd(100'000, distinct);
    EXPECT_LE(small, 3.0);
    EXPECT_LE(large, 3.0);
  }

  PairingRegistry registry([clock] { return *clock; });
  for (int i = 0; i < 10'000; ++i) registry.add(std::to_string(i), "http://h" + std::to_string(i));
  *clock += PairingRegistry::kLifetime;
  registry.add("alive", "http://alive");  // exactly at their expiry the others are kept
  EXPECT_EQ(registry.size(), 10'001u);
  *clock += std::chrono::nanoseconds(1);
  const std::uint64_t before = registry.entriesVisited();
  registry.add("next", "http://next");
  EXPECT_EQ(registry.size(), 2u);
  EXPECT_EQ(registry.entriesVisited() - before, 10'001u);  // 10,000 expired and the live one
  const std::uint64_t after = registry.entriesVisited();
  registry.add("last", "http://last");
  EXPECT_LE(registry.entriesVisited() - after, 2u);
  EXPECT_EQ(registry.take("alive"), "http://alive");
  EXPECT_EQ(registry.take("5"), std::nullopt);
}

// A settings file that cannot be read is not replaced by the pairing: the router's error reply.
TEST_F(PairingTest, UnreadableSettingsAreNotOverwritten) {
  const fs::path file = temp_ / "config.json";
  const std::string broken =
      "\xEF\xBB\xBF{\"allowedOrigins\":[\"https://a.example\"],\"spineExecutable\":\"x\"}";
  writeWholeFile(file, broken);
  const std::string nonce = offer("http://new.example");
  HttpResponse failed = confirm(nonce);
  EXPECT_EQ(failed.status, 500);
  const JsonValue reply = parseJson(failed.body);
  EXPECT_EQ(reply.find("code")->asString(), "CONVERSION_FAILED");
  EXPECT_EQ(reply.find("message")->asString(),
            "连接器配置文件无法读取，未保存：" + pathToUtf8(file));
  EXPECT_EQ(readWholeFile(file), broken);
}

TEST_F(PairingTest, ConcurrentConfirmationsOfOneNonceSucceedOnce) {
  const std::string nonce = offer("http://race.example");
  constexpr int kThreads = 8;
  std::vector<int> statuses(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      statuses[i] = confirm(nonce).status;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 200), 1);
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 400), kThreads - 1);
  EXPECT_EQ(loadConfig().allowedOrigins, std::vector<std::string>{"http://race.example"});
}

}  // namespace
}  // namespace connector::test
