// The console front-end: starts the connector at once, prints the status line the window would
// show, and serves until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>

#include <pthread.h>

#include "api/router.hpp"
#include "app/port_takeover.hpp"
#include "app/service_status.hpp"
#include "http/service.hpp"

int main() {
  using namespace connector;
  // Block the stop signals before any thread exists, so every thread inherits the mask and the
  // signals wait here for sigwait instead of interrupting some thread.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  const bool started = startServiceAtLaunch();
  const StatusLine line = currentStatusLine(PortTakeover());
  std::printf("%s\n", line.text.c_str());
  std::fflush(stdout);
  if (!started) return 1;

  int received = 0;
  while (sigwait(&stopSignals, &received) != 0) {
  }
  connectorService().stop();
  return 0;
}
