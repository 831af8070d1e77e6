#include "http/request_parser.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "allocation_probe.hpp"
#include "memory_stream.hpp"

namespace connector {
namespace {

using test::ChunkSource;
using test::GeneratedSource;

struct Outcome {
  bool parsed = false;
  int status = 400;
  HttpRequest request;
};

Outcome parse(std::vector<std::string> chunks) {
  ChunkSource source(std::move(chunks));
  Outcome outcome;
  outcome.parsed = parseRequest(source, outcome.request, outcome.status);
  return outcome;
}

Outcome parse(const std::string& raw) { return parse(std::vector<std::string>{raw}); }

// A request whose head is exactly headSize bytes including the blank line.
std::string headOfSize(std::size_t headSize) {
  const std::string start = "GET / HTTP/1.1\r\nX-Fill: ";
  const std::string end = "\r\n\r\n";
  return start + std::string(headSize - start.size() - end.size(), 'a') + end;
}

TEST(RequestParser, SplitsTargetIntoPathAndDecodedQuery) {
  using Query = std::map<std::string, std::string, std::less<>>;
  struct Case {
    std::string target;
    std::string path;
    Query query;
  };
  const std::vector<Case> cases = {
      {"/v1/health?x=1&y=a%20b", "/v1/health", {{"x", "1"}, {"y", "a b"}}},
      {"/pair?origin=a&origin=b", "/pair", {{"origin", "b"}}},
      {"/p?a", "/p", {{"a", ""}}},
      {"/p?a=1&", "/p", {{"a", "1"}, {"", ""}}},
      {"/p?x=a+b%2Fc=d", "/p", {{"x", "a b/c=d"}}},
      {"/p?%41=1&&b=%4", "/p", {{"A", "1"}, {"", ""}, {"b", "%4"}}},
      {"/p?", "/p", {{"", ""}}},
      {"/plain", "/plain", {}},
      {"*", "*", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const Outcome outcome = parse("GET " + c.target + " HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(outcome.parsed);
    EXPECT_EQ(outcome.request.method, "GET");
    EXPECT_EQ(outcome.request.target, c.target);
    EXPECT_EQ(outcome.request.path, c.path);
    EXPECT_EQ(outcome.request.query, c.query);
    EXPECT_FALSE(outcome.request.secure);
  }
}

TEST(RequestParser, ReadsTheRequestLineByWhiteSpaceTokens) {
  struct Case {
    std::string line;
    std::string method;
    std::string target;
  };
  const std::vector<Case> cases = {
      {"GET /v1/health HTTP/1.0", "GET", "/v1/health"},
      {"get /x anything", "get", "/x"},
      {"  POST\t/a   HTTP/1.1 extra tokens", "POST", "/a"},
      {"OPTIONS /b HTTP/1.1\r", "OPTIONS", "/b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Outcome outcome = parse(c.line + "\r\n\r\n");
    ASSERT_TRUE(outcome.parsed);
    EXPECT_EQ(outcome.request.method, c.method);
    EXPECT_EQ(outcome.request.target, c.target);
  }
}

TEST(RequestParser, TrimsAndLowerCasesHeaderNamesLaterLinesWin) {
  const Outcome outcome = parse(
      "GET / HTTP/1.1\r\n"
      "Origin: x\r\n"
      "  ORIGIN:  y  \r\n"
      "no colon here\r\n"
      "X-Empty:\r\n"
      "\tContent-TYPE :\ttext/plain; a=b:c \r\n"
      "Bare-LF: 1\n"
      "\r\n\r\n");
  ASSERT_TRUE(outcome.parsed);
  const HeaderMap expected = {
      {"origin", "y"}, {"x-empty", ""}, {"content-type", "text/plain; a=b:c"}, {"bare-lf", "1"}};
  EXPECT_EQ(outcome.request.headers, expected);
}

TEST(RequestParser, RefusesMalformedOrIncompleteRequests) {
  using namespace std::string_literals;
  struct Case {
    std::string name;
    std::vector<std::string> chunks;
    int status;
  };
  const std::vector<Case> cases = {
      {"bad escape in a value", {"GET /p?a=%zz HTTP/1.1\r\n\r\n"}, 400},
      {"bad escape in a name", {"GET /p?ok=1&%zz=1 HTTP/1.1\r\n\r\n"}, 400},
      {"two tokens", {"GET /v1/health\r\n\r\n"}, 400},
      {"no request line", {"\r\n\r\n"}, 400},
      {"closed before any byte", {}, 400},
      {"closed inside the head", {"GET / HTTP/1.1\r\nHost: x\r\n"}, 400},
      {"closed inside the body", {"POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n", "abc"}, 400},
      // Control bytes in a header line could be echoed into a reply header as a line break.
      {"carriage return inside a value", {"GET / HTTP/1.1\r\nOrigin: a\rb\r\n\r\n"}, 400},
      {"carriage return ending a value", {"GET / HTTP/1.1\r\nOrigin: a\r\r\nX: 1\r\n\r\n"}, 400},
      {"carriage return in a name", {"GET / HTTP/1.1\r\nOri\rgin: a\r\n\r\n"}, 400},
      {"NUL inside a value", {"GET / HTTP/1.1\r\nOrigin: a\0b\r\n\r\n"s}, 400},
      {"NUL in a name", {"GET / HTTP/1.1\r\nx\0: 1\r\n\r\n"s}, 400},
      // No transfer coding can be read, so its body would be taken for an empty one.
      {"chunked body",
       {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n"},
       400},
      {"transfer coding and a length",
       {"POST / HTTP/1.1\r\nContent-Length: 2\r\ntransfer-encoding: gzip\r\n\r\n{}"},
       400},
      {"transfer coding and a length past the limit",
       {"POST / HTTP/1.1\r\nTRANSFER-ENCODING: chunked\r\nContent-Length: 209715201\r\n\r\n"},
       400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = parse(c.chunks);
    EXPECT_FALSE(outcome.parsed);
    EXPECT_EQ(outcome.status, c.status);
  }
}

// A line feed always ends a line, so no header value can hold one: a bare line feed inside
// what a client meant as one value splits it, and the rest (without a colon) is skipped.
TEST(RequestParser, NoHeaderValueKeepsALineFeed) {
  const Outcome outcome = parse("GET / HTTP/1.1\r\nOrigin: a\nb\r\nX: 1\r\n\r\n");
  ASSERT_TRUE(outcome.parsed);
  EXPECT_EQ(outcome.request.headers, (HeaderMap{{"origin", "a"}, {"x", "1"}}));
}

TEST(RequestParser, ReadsContentLengthLikeStrtoull) {
  const std::string available = "0123456789abcdefghij";
  struct Case {
    std::string value;
    int status;        // 0: parsed
    std::string body;  // when parsed
  };
  const std::vector<Case> cases = {
      {"12abc", 0, "0123456789ab"},
      {"+5", 0, "01234"},
      {"0", 0, ""},
      {"-0", 0, ""},
      {"20", 0, available},
      {"abc", 400, ""},
      {"", 400, ""},
      {"- 1", 400, ""},
      {"+", 400, ""},
      {"18446744073709551616", 400, ""},
      {"99999999999999999999999", 400, ""},
      {"-1", 413, ""},
      {"209715201", 413, ""},
      {"18446744073709551615", 413, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("Content-Length: " + c.value);
    const Outcome outcome =
        parse("POST / HTTP/1.1\r\nContent-Length: " + c.value + "\r\n\r\n" + available);
    if (c.status == 0) {
      ASSERT_TRUE(outcome.parsed);
      EXPECT_EQ(outcome.request.body, c.body);
    } else {
      EXPECT_FALSE(outcome.parsed);
      EXPECT_EQ(outcome.status, c.status);
    }
  }
}

TEST(RequestParser, CutsTheBodyToItsLengthAndIgnoresBytesWithoutOne) {
  Outcome outcome = parse("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloEXTRA");
  ASSERT_TRUE(outcome.parsed);
  EXPECT_EQ(outcome.request.body, "hello");

  outcome = parse({"POST / HTTP/1.1\r\nContent-Length: 12\r\n\r\nhel", "lo wor", "ld!", "more"});
  ASSERT_TRUE(outcome.parsed);
  EXPECT_EQ(outcome.request.body, "hello world!");

  outcome = parse("POST / HTTP/1.1\r\nHost: x\r\n\r\nstray bytes");
  ASSERT_TRUE(outcome.parsed);
  EXPECT_EQ(outcome.request.body, "");
}

// The blank line may arrive split over receives at any point, and the body after it may be
// partly in the head's chunk.
TEST(RequestParser, FindsTheBlankLineWhereverTheChunksBreak) {
  const std::string raw = "POST /a HTTP/1.1\r\nA: 1\r\nContent-Length: 4\r\n\r\nbody";
  for (std::size_t first = 1; first < raw.size(); ++first) {
    for (std::size_t second = first + 1; second <= raw.size(); ++second) {
      SCOPED_TRACE(std::to_string(first) + "/" + std::to_string(second));
      const Outcome outcome =
          parse({raw.substr(0, first), raw.substr(first, second - first), raw.substr(second)});
      ASSERT_TRUE(outcome.parsed);
      EXPECT_EQ(outcome.request.headers.at("a"), "1");
      EXPECT_EQ(outcome.request.body, "body");
    }
  }
  // Byte by byte, and a "\r\n\r" that is not followed by "\n" must not count.
  std::vector<std::string> bytes;
  for (char c : std::string("GET / HTTP/1.1\r\nA: \r\n\rx\r\n\r\n")) bytes.emplace_back(1, c);
  const Outcome outcome = parse(bytes);
  ASSERT_TRUE(outcome.parsed);
  EXPECT_EQ(outcome.request.headers.at("a"), "");
}

TEST(RequestParser, LimitsTheBufferedHeadTo65536Bytes) {
  struct Case {
    std::string name;
    std::vector<std::string> chunks;
    bool parsed;
    int status;
  };
  const std::string noBlankLine65537 = "GET / HTTP/1.1\r\nX: " + std::string(65537 - 19, 'a');
  const std::string smallHeadLongBody =
      "POST / HTTP/1.1\r\nContent-Length: 70000\r\nX: " + std::string(65400, 'a') + "\r\n\r\n" +
      std::string(70000, 'b');
  const std::vector<Case> cases = {
      {"head of exactly 65536 bytes", {headOfSize(65536)}, true, 400},
      {"65537 bytes without a blank line", {noBlankLine65537}, false, 413},
      {"65536 bytes without a blank line, then closed",
       {noBlankLine65537.substr(0, 65536)},
       false,
       400},
      // The receive that completes the head also passes the limit: refused all the same.
      {"head completed at byte 65537", {headOfSize(65537)}, false, 413},
      // Only the head counts: body bytes in the receive that ends it are not held against it.
      {"head of 65447 bytes, and body bytes in the same receive pass 65536",
       {smallHeadLongBody.substr(0, 100), smallHeadLongBody.substr(100)},
       true,
       400},
      {"the same request in receives that stop at 65536", {smallHeadLongBody}, true, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = parse(c.chunks);
    EXPECT_EQ(outcome.parsed, c.parsed);
    EXPECT_EQ(outcome.status, c.status);
  }
}

// The same requests whatever sizes the pieces arrive in: the head's own length decides.
TEST(RequestParser, HeadLimitCountsTheHeadWhateverThePieceSizes) {
  struct Case {
    std::size_t headSize;  // blank line included
    bool parsed;
    int status;
  };
  const std::vector<Case> cases = {{65000, true, 400}, {65536, true, 400}, {65537, false, 413}};
  const std::string body(4000, 'b');
  for (const std::size_t piece : {1u, 1000u, 8000u, 8192u}) {
    for (const Case& c : cases) {
      SCOPED_TRACE("head " + std::to_string(c.headSize) + ", pieces of " + std::to_string(piece));
      std::string raw = headOfSize(c.headSize);
      raw.insert(raw.size() - 4, "\r\nContent-Length: 4000");
      raw.erase(raw.find("X-Fill: ") + 8, 22);  // the same head size with the length in it
      ASSERT_EQ(raw.size(), c.headSize);
      raw += body;
      std::vector<std::string> pieces;
      for (std::size_t at = 0; at < raw.size(); at += piece) {
        pieces.push_back(raw.substr(at, piece));
      }
      const Outcome outcome = parse(pieces);
      EXPECT_EQ(outcome.parsed, c.parsed);
      EXPECT_EQ(outcome.status, c.status);
      EXPECT_EQ(outcome.request.body, c.parsed ? body : std::string());
    }
  }
}

TEST(RequestParser, ReceivesInPiecesOf8192Bytes) {
  ChunkSource source({headOfSize(20000)});
  HttpRequest request;
  int status = 400;
  ASSERT_TRUE(parseRequest(source, request, status));
  EXPECT_EQ(source.calls, 3);  // 8192 + 8192 + 3616
}

// The announced length alone must not cost memory: an idle or slow client costs about what it
// sent. The body then arrives in reads larger than the head's.
TEST(RequestParser, BodyMemoryFollowsTheBytesThatArrive) {
  const std::string head = "POST /v1/convert HTTP/1.1\r\nContent-Length: 209715200\r\n\r\n";
  {
    ChunkSource source({head});  // then closed
    HttpRequest request;
    int status = 400;
    test::LargestAllocation probe;
    EXPECT_FALSE(parseRequest(source, request, status));
    EXPECT_EQ(status, 400);
    EXPECT_LT(probe.bytes(), 1u << 20);
    EXPECT_LT(request.body.committed(), 1u << 20);
  }
  {
    ChunkSource source({head, std::string(3u << 20, 'x')});
    HttpRequest request;
    int status = 400;
    test::LargestAllocation probe;
    EXPECT_FALSE(parseRequest(source, request, status));
    EXPECT_LT(probe.bytes(), 8u << 20);  // at most about twice the 3 MiB that came
    EXPECT_EQ(request.body.size(), 3u << 20);
    EXPECT_LT(request.body.committed(), 8u << 20);
    EXPECT_GT(source.asked.back(), kReceiveSize);
  }
}

TEST(RequestParser, AcceptsABodyOfExactly200MiB) {
  GeneratedSource source("POST /v1/convert HTTP/1.1\r\nContent-Length: 209715200\r\n\r\n",
                         209715200 + 100);
  HttpRequest request;
  int status = 400;
  ASSERT_TRUE(parseRequest(source, request, status));
  ASSERT_EQ(request.body.size(), 209715200u);
  EXPECT_EQ(request.body.view().substr(0, 12), "012345678901");
  EXPECT_EQ(request.body.view().substr(209715200 - 3), "789");  // 209715197 % 10 == 7
}

}  // namespace
}  // namespace connector
