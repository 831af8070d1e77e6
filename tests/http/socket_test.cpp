#include "http/socket.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "http/server.hpp"

namespace connector {
namespace {

TEST(ListeningSocket, ExclusiveListenerLetsNobodyBindBeside) {
  const ListeningSocket::Opened ours =
      ListeningSocket::open(kConnectorPort, 4, PortSharing::exclusive);
  ASSERT_EQ(ours.status, ListenStatus::listening);
  EXPECT_TRUE(ours.socket->bindsExclusively());
  for (const PortSharing sharing : {PortSharing::reuseAddress, PortSharing::exclusive}) {
    EXPECT_EQ(ListeningSocket::open(kConnectorPort, 4, sharing).status, ListenStatus::bindFailed);
  }
}

TEST(ListeningSocket, AcceptsConnectionsUntilWoken) {
  const ListeningSocket::Opened listener =
      ListeningSocket::open(kConnectorPort, 4, PortSharing::exclusive);
  ASSERT_EQ(listener.status, ListenStatus::listening);

  const std::unique_ptr<StreamSocket> client = StreamSocket::connectLoopback(kConnectorPort);
  ASSERT_NE(client, nullptr);
  const std::unique_ptr<StreamSocket> accepted = listener.socket->accept();
  ASSERT_NE(accepted, nullptr);
  ASSERT_EQ(client->send("ping", 4), 4);
  client->shutdownSend();
  std::string seen;
  char buffer[16];
  for (long n; (n = accepted->receive(buffer, sizeof buffer)) > 0;)
    seen.append(buffer, static_cast<std::size_t>(n));
  EXPECT_EQ(seen, "ping");

  // A blocked accept returns once the listener is woken from another thread.
  std::unique_ptr<StreamSocket> afterWake;
  bool returned = false;
  std::thread waiter([&] {
    afterWake = listener.socket->accept();
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it block first
  listener.socket->wake();
  waiter.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(afterWake, nullptr);
}

}  // namespace
}  // namespace connector
