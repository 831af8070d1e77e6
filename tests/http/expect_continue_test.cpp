// "Expect: 100-continue": a client that waits for leave before it sends its body gets it as soon
// as the head is accepted, and a final reply instead when the head alone decides the request.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "http/connection.hpp"

namespace connector {
namespace {

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

// A client that sends its head, then its body: at once, or only once the server has sent
// "100 Continue". While it waits, a read of its body finds the end of the stream, which the
// server answers with 400, as a real client's time-out would end in the body arriving late.
class Client : public ByteSource, public ByteSink {
 public:
  Client(std::string head, std::string body, bool waits)
      : head_(std::move(head)), body_(std::move(body)), waits_(waits) {}

  long receive(char* buffer, std::size_t size) override {
    std::string& next = head_.empty() && !(waits_ && received != kContinue) ? body_ : head_;
    const std::size_t count = std::min(size, next.size());
    std::memcpy(buffer, next.data(), count);
    next.erase(0, count);
    return static_cast<long>(count);
  }
  long send(const char* data, std::size_t size) override {
    received.append(data, size);
    return static_cast<long>(size);
  }

  std::string received;  // what the server sent before its final reply

 private:
  std::string head_;
  std::string body_;
  bool waits_;
};

TEST(ExpectContinue, InterimReplyOnlyWhenTheHeadIsAcceptedAndTheBodyAwaited) {
  struct Case {
    std::string name;
    std::string head;
    bool clientWaits;
    bool interim;
    int status;
    std::string body;  // as the handler saw it
  };
  const std::string post = "POST /v1/convert HTTP/1.1\r\n";
  const std::vector<Case> cases = {
      {"waiting client", post + "Expect: 100-continue\r\nContent-Length: 4\r\n\r\n", true, true,
       200, "abcd"},
      {"expectation in other case", post + "expect:  100-Continue \r\nContent-Length: 4\r\n\r\n",
       true, true, 200, "abcd"},
      {"no body announced", post + "Expect: 100-continue\r\n\r\n", false, false, 200, ""},
      {"empty body", post + "Expect: 100-continue\r\nContent-Length: 0\r\n\r\n", false, false, 200,
       ""},
      {"too long", post + "Expect: 100-continue\r\nContent-Length: 209715201\r\n\r\n", true, false,
       413, ""},
      {"bad length", post + "Expect: 100-continue\r\nContent-Length: x\r\n\r\n", true, false, 400,
       ""},
      {"malformed request line",
       "POST /v1/convert\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n", true, false, 400,
       ""},
      {"transfer coding", post + "Expect: 100-continue\r\nTransfer-Encoding: chunked\r\n\r\n", true,
       false, 400, ""},
      {"bad query", "POST /p?a=%zz HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n",
       true, false, 400, ""},
      {"HTTP/1.0 client", "POST / HTTP/1.0\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n",
       false, false, 200, "abcd"},
      {"other expectation", post + "Expect: 200-ok\r\nContent-Length: 4\r\n\r\n", false, false, 200,
       "abcd"},
      {"body sent along with the head",
       post + "Expect: 100-continue\r\nContent-Length: 4\r\n\r\nabcd", false, false, 200, "abcd"},
      {"no expectation", post + "Content-Length: 4\r\n\r\n", false, false, 200, "abcd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Client client(c.head, "abcd", c.clientWaits);
    std::string seen;
    const HttpResponse response = answerRequest(
        client,
        [&](const HttpRequest& request) {
          seen = request.body.view();
          return HttpResponse{};
        },
        &client);
    EXPECT_EQ(client.received, c.interim ? kContinue : "");
    EXPECT_EQ(response.status, c.status);
    EXPECT_EQ(seen, c.body);
  }
}

}  // namespace
}  // namespace connector
