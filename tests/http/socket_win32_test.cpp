// Winsock's SO_REUSEADDR lets two programs share a port; only an exclusive listener is safe.
#include <gtest/gtest.h>

#include "http/server.hpp"
#include "http/socket.hpp"

namespace connector {
namespace {

TEST(ListeningSocketWin32, OnlyTheExclusiveListenerAsksForExclusiveUse) {
  {
    const ListeningSocket::Opened shared =
        ListeningSocket::open(kConnectorPort, 4, PortSharing::reuseAddress);
    ASSERT_EQ(shared.status, ListenStatus::listening);
    EXPECT_FALSE(shared.socket->bindsExclusively());
  }
  const ListeningSocket::Opened exclusive =
      ListeningSocket::open(kConnectorPort, 4, PortSharing::exclusive);
  ASSERT_EQ(exclusive.status, ListenStatus::listening);
  EXPECT_TRUE(exclusive.socket->bindsExclusively());
}

}  // namespace
}  // namespace connector
