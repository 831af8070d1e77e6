// Port takeover against the real system: real listeners found through /proc, a real child killed.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/port_takeover.hpp"
#include "http/server.hpp"
#include "http/status_reason.hpp"

namespace connector {
namespace {

// A socket of this process listening on the connector's port; closed on every path.
class OwnListener {
 public:
  OwnListener(int family, const char* address) {
    fd_ = socket(family, SOCK_STREAM, 0);
    if (fd_ < 0) return;
    // Like the connector itself: connections of earlier tests lingering in TIME_WAIT must not
    // block the bind, while a live listener still does.
    const int reuse = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (family == AF_INET6) {
      const int v6only = 1;
      setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
      auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
      a->sin6_family = AF_INET6;
      a->sin6_port = htons(kConnectorPort);
      inet_pton(AF_INET6, address, &a->sin6_addr);
      length = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(&storage);
      a->sin_family = AF_INET;
      a->sin_port = htons(kConnectorPort);
      inet_pton(AF_INET, address, &a->sin_addr);
      length = sizeof *a;
    }
    if (bind(fd_, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(fd_, 4) != 0) {
      error_ = errno;
      close(fd_);
      fd_ = -1;
    }
  }
  ~OwnListener() {
    if (fd_ >= 0) close(fd_);
  }
  OwnListener(const OwnListener&) = delete;
  OwnListener& operator=(const OwnListener&) = delete;
  bool listening() const { return fd_ >= 0; }
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// A forked child that listens on 0.0.0.0:27843 until it is killed. The destructor kills and
// reaps it if the test did not.
class ListeningChild {
 public:
  ListeningChild() {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      OwnListener listener(AF_INET, "0.0.0.0");
      const char answer = listener.listening() ? 'L' : 'F';
      (void)!write(ready[1], &answer, 1);
      if (listener.listening()) {
        for (;;) pause();
      }
      _exit(1);
    }
    close(ready[1]);
    char answer = 0;
    if (pid_ > 0 && read(ready[0], &answer, 1) == 1) listening_ = answer == 'L';
    close(ready[0]);
  }
  ~ListeningChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);  // ECHILD when takeover already reaped it
    }
  }
  ListeningChild(const ListeningChild&) = delete;
  ListeningChild& operator=(const ListeningChild&) = delete;
  pid_t pid() const { return pid_; }
  bool listening() const { return listening_; }

 private:
  pid_t pid_ = -1;
  bool listening_ = false;
};

bool processExists(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

TEST(PortTakeoverPosix, FindsTerminatesAndOutwaitsAForeignListenerOnAnyAddress) {
  ASSERT_FALSE(PortTakeover().isPortInUse()) << "port 27843 is busy before the test";
  ListeningChild child;
  ASSERT_GT(child.pid(), 0);
  ASSERT_TRUE(child.listening());

  PortTakeover takeover;
  EXPECT_EQ(takeover.listeningProcesses(),
            std::set<ProcessId>{static_cast<ProcessId>(child.pid())});
  statusReason().clear();
  takeover.stopPortHolders();
  EXPECT_EQ(statusReason(), "");
  EXPECT_FALSE(takeover.isPortInUse());
  EXPECT_FALSE(processExists(child.pid()));  // killed and reaped, not left as a zombie
}

TEST(PortTakeoverPosix, RefusesToStopItsOwnProcess) {
  OwnListener own(AF_INET, "127.0.0.1");
  ASSERT_TRUE(own.listening()) << std::strerror(own.error());
  PortTakeover takeover;
  EXPECT_EQ(takeover.listeningProcesses(), std::set<ProcessId>{static_cast<ProcessId>(getpid())});
  takeover.stopPortHolders();
  EXPECT_EQ(statusReason(), "无法从外部停止当前连接器进程");
  statusReason().clear();
}

TEST(PortTakeoverPosix, DoesNotSeeAnIpv6OnlyListener) {
  OwnListener v6(AF_INET6, "::1");
  if (!v6.listening()) {
    GTEST_SKIP() << "no IPv6 loopback here: " << std::strerror(v6.error());
  }
  EXPECT_TRUE(PortTakeover().listeningProcesses().empty());
  EXPECT_FALSE(PortTakeover().isPortInUse());
}

}  // namespace
}  // namespace connector
