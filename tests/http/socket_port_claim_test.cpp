// The start's claim of its port, over injected binds and listener tables.
#include "http/socket_port_claim.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace connector {
namespace {

using Count = std::optional<std::size_t>;
constexpr ListenStatus kListening = ListenStatus::listening;
constexpr ListenStatus kBindFailed = ListenStatus::bindFailed;
constexpr ListenStatus kRefused = ListenStatus::bindRefused;

class FakeListener : public ListeningSocket {
 public:
  FakeListener(PortSharing sharing, int& alive) : sharing_(sharing), alive_(alive) { ++alive_; }
  ~FakeListener() override { --alive_; }
  std::unique_ptr<StreamSocket> accept() override { return nullptr; }
  void wake() noexcept override {}
  bool bindsExclusively() const noexcept override { return sharing_ == PortSharing::exclusive; }

 private:
  PortSharing sharing_;
  int& alive_;
};

struct Case {
  const char* what;
  ListenStatus exclusive;  // what the exclusive bind gives
  Count before;            // the table after that bind
  ListenStatus reusing;    // what the bind without the exclusive option gives
  Count after;             // the table after that bind
  const char* calls;       // X: exclusive bind, R: bind without it, T: table read
  ListenStatus status;
  const char* listener;  // "exclusive", "shared" or "none"
};

const Case kCases[] = {
    {"exclusive bind works", kListening, 0, kListening, 1, "X", kListening, "exclusive"},
    {"refused, nobody listens", kBindFailed, 0, kListening, 1, "XTRT", kListening, "shared"},
    {"refused, table unread after", kBindFailed, 0, kListening, {}, "XTRT", kListening, "shared"},
    {"refused, another listens", kBindFailed, 1, kListening, 2, "XT", kBindFailed, "none"},
    {"refused, table unknown", kBindFailed, {}, kListening, 1, "XT", kBindFailed, "none"},
    {"refused twice", kBindFailed, 0, kBindFailed, 0, "XTR", kBindFailed, "none"},
    {"another bound in between", kBindFailed, 0, kListening, 2, "XTRT", kBindFailed, "none"},
    // The system refuses the bind itself (WSAEACCES): a reserved port only while nobody listens.
    {"reserved port", kRefused, 0, kRefused, 0, "XTR", kRefused, "none"},
    {"denied, another listens", kRefused, 1, kListening, 2, "XT", kBindFailed, "none"},
    {"denied, another bound in between", kRefused, 0, kListening, 2, "XTRT", kBindFailed, "none"},
    {"in use, then denied", kBindFailed, 0, kRefused, 0, "XTR", kRefused, "none"},
    {"no socket library", ListenStatus::libraryFailed, 0, kListening, 1, "X",
     ListenStatus::libraryFailed, "none"},
    {"no socket", ListenStatus::createFailed, 0, kListening, 1, "X", ListenStatus::createFailed,
     "none"},
};

TEST(PortClaim, BindsWithoutTheExclusiveOptionOnlyWhenNobodyListens) {
  for (const Case& c : kCases) {
    std::string calls;
    int alive = 0;
    int tableReads = 0;
    const PortClaimCalls injected{
        [&](PortSharing sharing) {
          const bool exclusive = sharing == PortSharing::exclusive;
          calls += exclusive ? "X" : "R";
          ListeningSocket::Opened opened{exclusive ? c.exclusive : c.reusing, nullptr};
          if (opened.status == kListening)
            opened.socket = std::make_unique<FakeListener>(sharing, alive);
          return opened;
        },
        [&] {
          calls += "T";
          return ++tableReads == 1 ? c.before : c.after;
        }};
    const ListeningSocket::Opened claimed = claimPort(injected);
    EXPECT_EQ(calls, c.calls) << c.what;
    EXPECT_EQ(claimed.status, c.status) << c.what;
    const std::string listener = !claimed.socket                      ? "none"
                                 : claimed.socket->bindsExclusively() ? "exclusive"
                                                                      : "shared";
    EXPECT_EQ(listener, c.listener) << c.what;
    EXPECT_EQ(alive, claimed.socket ? 1 : 0) << c.what << ": a listener left open";
  }
}

}  // namespace
}  // namespace connector
