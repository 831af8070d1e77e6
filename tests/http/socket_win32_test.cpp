// Winsock's SO_REUSEADDR lets two programs share a port; no listener of ours ever sets it.
#include "platform/win32.hpp"  // SO_EXCLUSIVEADDRUSE, WSAEACCES

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "http/server.hpp"
#include "http/socket.hpp"
#include "http/socket_system.hpp"
#include "platform/host.hpp"

namespace connector {
namespace {

TEST(ListeningSocketWin32, OnlyTheExclusiveListenerAsksForExclusiveUse) {
  {
    const ListeningSocket::Opened shared =
        ListeningSocket::open(kConnectorPort, 4, PortSharing::plain);
    ASSERT_EQ(shared.status, ListenStatus::listening);
    EXPECT_FALSE(shared.socket->bindsExclusively());
  }
  const ListeningSocket::Opened exclusive =
      ListeningSocket::open(kConnectorPort, 4, PortSharing::exclusive);
  ASSERT_EQ(exclusive.status, ListenStatus::listening);
  EXPECT_TRUE(exclusive.socket->bindsExclusively());
}

// Each start tries the exclusive bind first; its fallback sets no option, never SO_REUSEADDR,
// with which any program could bind beside it. Only WSAEACCES reads as the system refusing.
TEST(ListeningSocketWin32, TheFallbackAsksForNoOptionAndOnlyAccessDeniedIsARefusal) {
  EXPECT_EQ(socket_system::sharingOptions(PortSharing::exclusive),
            std::vector<int>{SO_EXCLUSIVEADDRUSE});
  EXPECT_EQ(socket_system::sharingOptions(PortSharing::plain), std::vector<int>{});
  EXPECT_EQ(socket_system::bindFailure(WSAEACCES), ListenStatus::bindRefused);
  EXPECT_EQ(socket_system::bindFailure(WSAEADDRINUSE), ListenStatus::bindFailed);
}

// Every connection thread starts and releases the socket library; the last release closes all
// sockets of the process, so a miscount would close the listener under load.
TEST(SocketLibraryWin32, ThreadsStartingAndReleasingTheLibraryLeaveTheListenerOpen) {
  const ListeningSocket::Opened listener =
      ListeningSocket::open(kConnectorPort, 4, PortSharing::exclusive);
  ASSERT_EQ(listener.status, ListenStatus::listening);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([] {
        for (int i = 0; i < 2000; ++i) SocketLibrary library;
      });
    }
    for (std::thread& thread : threads) thread.join();
    // Asking the socket for an option fails once it has been closed behind our back.
    ASSERT_TRUE(listener.socket->bindsExclusively()) << "listener closed in round " << round;
  }
}

std::optional<std::size_t> listenersOnPort(std::uint16_t port) {
  const auto rows = ipv4ListenersOn(port);
  return rows ? std::optional<std::size_t>(rows->size()) : std::nullopt;
}

// A start decides on this count whether to bind without the exclusive option.
TEST(ListenerTableWin32, CountsTheListenersOnThePort) {
  const std::optional<std::size_t> before = listenersOnPort(kConnectorPort);
  ASSERT_TRUE(before.has_value());
  EXPECT_EQ(*before, 0u);
  {
    const ListeningSocket::Opened listener =
        ListeningSocket::open(kConnectorPort, 4, PortSharing::exclusive);
    ASSERT_EQ(listener.status, ListenStatus::listening);
    EXPECT_EQ(listenersOnPort(kConnectorPort), std::optional<std::size_t>(1));
  }
  EXPECT_EQ(listenersOnPort(kConnectorPort), std::optional<std::size_t>(0));
}

}  // namespace
}  // namespace connector
