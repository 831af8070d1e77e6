#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

#include "api_fixture.hpp"
#include "encoding/json.hpp"
#include "encoding/json_parser.hpp"
#include "support/base64_reference.hpp"

namespace connector::test {
namespace {

std::string conversionBody(const std::string& projectName) {
  JsonObject image;
  image["path"] = "sub/a.png";
  image["dataBase64"] = encodeBase64(std::string("\x89PNG\r\n\x1a\n\0\xff", 10));
  JsonObject body;
  body["schemaVersion"] = 1;
  body["skeletonJson"] = "{\"skeleton\":{\"spine\":\"4.2.11\"}}";
  body["projectName"] = projectName;
  body["images"] = JsonArray{JsonValue(image)};
  return toJsonText(JsonValue(body), -1);
}

TEST_F(ApiTest, RefusedOriginGetsPairingLinkBeforeAnythingElse) {
  // Spine is present and the body would convert; the refusal comes first, and a body that is not
  // even JSON shows the parser (and therefore Spine) was never reached.
  for (const std::string& body : {conversionBody("x"), std::string("not json")}) {
    HttpResponse response =
        call("POST", "/v1/convert", {{"origin", "https://other.example"}}, body);
    EXPECT_EQ(response.status, 403);
    EXPECT_EQ(
        response.body,
        "{\"code\":\"ORIGIN_NOT_ALLOWED\",\"message\":\"需要先授权当前网站使用本地 Spine "
        "连接器\",\"pairUrl\":\"http://127.0.0.1:27843/pair?origin=https%3A%2F%2Fother.example\"}");
    EXPECT_EQ(headerOf(response, "Access-Control-Allow-Origin"), "https://other.example");
    EXPECT_EQ(headerOf(response, "Vary"), "Origin");
  }
}

TEST_F(ApiTest, MissingSpineIsReportedBeforeTheBodyIsParsed) {
  spineAbsent();
  for (const std::string origin : {"http://localhost:5173", ""}) {
    HttpResponse response = call("POST", "/v1/convert", {{"origin", origin}}, "not json");
    EXPECT_EQ(response.status, 503);
    EXPECT_EQ(response.body,
              "{\"code\":\"SPINE_NOT_FOUND\",\"message\":\"没有找到 Spine，请在连接器应用中选择 "
              "Spine 路径\"}");
  }
}

TEST_F(ApiTest, SuccessfulConversionNamesTheDownload) {
  HttpResponse response =
      call("POST", "/v1/convert", {{"origin", "http://localhost:5173"}}, conversionBody("特效"));
  ASSERT_EQ(response.status, 200) << response.body;
  EXPECT_EQ(headerOf(response, "Content-Type"), "application/zip");
  EXPECT_EQ(headerOf(response, "Content-Disposition"),
            "attachment; filename=\"Glimmer.zip\"; filename*=UTF-8''%E7%89%B9%E6%95%88.zip");
  EXPECT_EQ(headerOf(response, "X-Spine-File-Name"), "%E7%89%B9%E6%95%88.zip");
  EXPECT_EQ(headerOf(response, "X-Spine-Editor-Version"), "4.2.43");
  EXPECT_EQ(headerOf(response, "Access-Control-Expose-Headers"),
            "X-Spine-File-Name, X-Spine-Editor-Version");
  EXPECT_EQ(headerOf(response, "Access-Control-Allow-Origin"), "http://localhost:5173");
  EXPECT_EQ(headerOf(response, "Access-Control-Allow-Methods"), "GET, POST, OPTIONS");
  EXPECT_EQ(response.headers.size(), 10u);
  // A Store archive: the entries' names and the launcher's project bytes appear verbatim.
  // The archive is the large body, as it was built; nothing else is sent after the head.
  EXPECT_EQ(response.body, "");
  const std::string_view archive = response.largeBody.view();
  EXPECT_EQ(archive.substr(0, 4), std::string("PK\x03\x04", 4));
  EXPECT_NE(archive.find("特效.spine"), std::string::npos);
  EXPECT_NE(archive.find("images/sub/a.png"), std::string::npos);
  EXPECT_NE(archive.find("glimmer-stub-project\n"), std::string::npos);
  EXPECT_NE(archive.find(std::string("\x89PNG\r\n\x1a\n\0\xff", 10)), std::string::npos);

  // A project name that sanitises to nothing still gives a download name.
  response = call("POST", "/v1/convert", {}, conversionBody(""));
  ASSERT_EQ(response.status, 200) << response.body;
  EXPECT_EQ(headerOf(response, "X-Spine-File-Name"), "Glimmer.zip");
  EXPECT_EQ(headerOf(response, "Access-Control-Allow-Origin"), "<absent>");
}

// A conversion that must wait for another one's turn first lets its connection step aside, so
// that it does not keep health and pairing requests out while it waits; one that finds no other
// conversion running does not.
TEST_F(ApiTest, AConversionThatMustWaitStepsAsideFirst) {
  for (const bool busy : {false, true}) {
    SCOPED_TRACE(busy ? "another conversion runs" : "no other conversion");
    std::unique_lock running(service_.conversionLock(), std::defer_lock);
    if (busy) running.lock();
    HttpRequest request;
    request.method = "POST";
    request.target = request.path = "/v1/convert";
    request.body = conversionBody("x");
    std::promise<void> steppedAside;
    std::atomic<int> calls{0};
    request.stepAside = [&] {
      if (calls++ == 0) steppedAside.set_value();
    };
    auto reply = std::async(std::launch::async, [&] { return handler_(request); });
    if (busy) {
      // Released only once the waiting conversion has stepped aside (or after a minute without).
      EXPECT_EQ(steppedAside.get_future().wait_for(std::chrono::minutes(1)),
                std::future_status::ready);
      running.unlock();
    }
    EXPECT_EQ(reply.get().status, 200);
    EXPECT_EQ(calls.load(), busy ? 1 : 0);
  }
}

TEST_F(ApiTest, ConversionFailureIsReportedWithItsOwnText) {
  // The launcher fails with a licence line and an error line: the cleaned-up text is the message.
  HttpResponse response = call("POST", "/v1/convert", {{"origin", "http://localhost:5173"}},
                               conversionBody("stub-fail"));
  EXPECT_EQ(response.status, 500);
  JsonValue reply = parseJson(response.body);
  EXPECT_EQ(reply.find("code")->asString(), "CONVERSION_FAILED");
  EXPECT_EQ(reply.find("message")->asString(),
            "Spine 授权信息已隐藏\nERROR: cannot import skeleton");
  EXPECT_TRUE(service_.conversionLock().try_lock());
  service_.conversionLock().unlock();
}

}  // namespace
}  // namespace connector::test
