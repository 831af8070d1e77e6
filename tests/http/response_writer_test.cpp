#include "http/response_writer.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "http/connection.hpp"
#include "memory_stream.hpp"

namespace connector {
namespace {

using test::ChunkSource;
using test::RecordingSink;

const std::string kGet = "GET /v1/health HTTP/1.1\r\nOrigin: http://a\r\n\r\n";

// What a connection puts on the wire for the request bytes and the handler.
std::string wire(const std::string& request, const RouteHandler& handler) {
  ChunkSource source({request});
  RecordingSink sink;
  writeResponse(sink, answerRequest(source, handler));
  return sink.received;
}

RouteHandler answering(HttpResponse response) {
  return [response](const HttpRequest&) { return response; };
}

TEST(ResponseWriter, WritesTheReplyAsTheClientSeesIt) {
  struct Case {
    std::string name;
    HttpResponse response;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"headers in ascending byte order",
       {200,
        {{"Vary", "Origin"}, {"Content-Type", "text/plain"}, {"Access-Control-Allow-Origin", "*"}},
        "hi"},
       "HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n"
       "Content-Length: 2\r\nContent-Type: text/plain\r\nVary: Origin\r\n\r\nhi"},
      {"unknown status and empty body",
       {201, {}, ""},
       "HTTP/1.1 201 Response\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"},
      {"the server's own headers replace the handler's",
       {204,
        {{"Content-Length", "999"}, {"Connection", "keep-alive"}, {"a", "lower case sorts last"}},
        ""},
       "HTTP/1.1 204 No Content\r\nConnection: close\r\nContent-Length: 0\r\n"
       "a: lower case sorts last\r\n\r\n"},
      {"body bytes passed through unchanged",
       {404, {}, std::string("\0\r\n\xff", 4)},
       "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 4\r\n\r\n" +
           std::string("\0\r\n\xff", 4)},
      {"a large body follows the body and is counted with it",
       {200, {}, "ab", ByteBuffer(std::string("PK\x03\x04\0", 5))},
       "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 7\r\n\r\nabPK\x03\x04" +
           std::string(1, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(wire(kGet, answering(c.response)), c.expected);
  }
}

TEST(ResponseWriter, ReasonPhrases) {
  const std::vector<std::pair<int, std::string>> cases = {
      {200, "OK"},
      {204, "No Content"},
      {400, "Bad Request"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {413, "Payload Too Large"},
      {500, "Internal Server Error"},
      {503, "Service Unavailable"},
      {201, "Response"},
      {302, "Response"},
      {0, "Response"},
      {-1, "Response"},
  };
  for (const auto& [status, text] : cases) EXPECT_EQ(reasonPhrase(status), text) << status;
}

TEST(ResponseWriter, SendsInPiecesOfAtMostOneMebibyteContinuingAfterShortSends) {
  HttpResponse response{200, {{"X", "y"}}, std::string(2 * kSendPiece + 300000, '\0')};
  for (std::size_t i = 0; i < response.body.size(); ++i)
    response.body[i] = static_cast<char>(i % 251);
  const std::string head = responseHead(response);

  RecordingSink whole;
  writeResponse(whole, response);
  EXPECT_EQ(whole.requested,
            (std::vector<std::size_t>{head.size(), kSendPiece, kSendPiece, 300000}));
  EXPECT_EQ(whole.received, head + response.body);

  // Short sends: every piece starts where the previous send stopped.
  RecordingSink shortSends;
  shortSends.perCall = 700000;
  writeResponse(shortSends, response);
  EXPECT_EQ(shortSends.received, head + response.body);
  EXPECT_EQ(shortSends.requested,
            (std::vector<std::size_t>{head.size(), kSendPiece, kSendPiece, 997152, 297152}));
}

// A small body goes out in the head's send; a large one in sends of its own.
TEST(ResponseWriter, AFailedSendDropsTheRestOfThatPartOnly) {
  for (const std::size_t bodySize : {std::size_t{4}, std::size_t{100000}}) {
    SCOPED_TRACE(bodySize);
    const HttpResponse response{200, {}, std::string(bodySize, 'b')};
    const std::string head = responseHead(response);

    RecordingSink headFails;
    headFails.failingCalls = {0};
    writeResponse(headFails, response);
    EXPECT_EQ(headFails.received, response.body);  // the body is still attempted

    RecordingSink headCut;  // the first send takes part of the head only, the next fails
    headCut.perCall = 10;
    headCut.failingCalls = {1};
    writeResponse(headCut, response);
    EXPECT_EQ(headCut.received, head.substr(0, 10) + response.body);

    RecordingSink bodyFails;  // fails right after the head
    bodyFails.perCall = head.size();
    bodyFails.failingCalls = {1};
    writeResponse(bodyFails, response);
    EXPECT_EQ(bodyFails.received, head);
  }
}

TEST(Connection, AnswersUnreadableRequestsWithBadRequest) {
  const RouteHandler unreachable = [](const HttpRequest&) -> HttpResponse {
    ADD_FAILURE() << "handler called for a bad request";
    return {};
  };
  struct Case {
    std::string request;
    int status;
  };
  const std::vector<Case> cases = {
      {"GET /p?a=%zz HTTP/1.1\r\n\r\n", 400},
      {"GET /\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n", 400},
      {"POST / HTTP/1.1\r\nContent-Length: 209715201\r\n\r\n", 413},
      {"GET / HTTP/1.1\r\nX: " + std::string(70000, 'a'), 413},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.substr(0, 40));
    ChunkSource source({c.request});
    const HttpResponse response = answerRequest(source, unreachable);
    EXPECT_EQ(response.status, c.status);
    EXPECT_EQ(response.body, "Bad request");
    EXPECT_EQ(response.headers, (HeaderMap{{"Connection", "close"}, {"Content-Length", "11"}}));
  }
}

TEST(Connection, TurnsAThrowingHandlerIntoAnInternalErrorReply) {
  struct Case {
    std::string message;
    std::string escaped;
  };
  const std::vector<Case> cases = {
      {"boom", "boom"},
      {"say \"hi\"", R"(say \"hi\")"},
      {"a\\b\n\x01/é", "a\\\\b\\n\\u0001/é"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ChunkSource source({kGet});
    const HttpResponse response = answerRequest(
        source, [&](const HttpRequest&) -> HttpResponse { throw std::runtime_error(c.message); });
    const std::string body = R"({"code":"INTERNAL_ERROR","message":")" + c.escaped + "\"}";
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.body, body);
    EXPECT_EQ(response.headers, (HeaderMap{{"Connection", "close"},
                                           {"Content-Length", std::to_string(body.size())},
                                           {"Content-Type", "application/json; charset=utf-8"}}));
  }
}

TEST(Connection, HandsTheParsedRequestToTheHandler) {
  ChunkSource source({"PUT /x?k=v HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"});
  HttpRequest seen;
  answerRequest(source, [&](const HttpRequest& request) {
    seen = request;
    return HttpResponse{};
  });
  EXPECT_EQ(seen.method, "PUT");
  EXPECT_EQ(seen.path, "/x");
  EXPECT_EQ(seen.query.at("k"), "v");
  EXPECT_EQ(seen.body, "abc");
}

}  // namespace
}  // namespace connector
