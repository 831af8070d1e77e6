// The console front-end: starts the connector at once, prints where it serves and the status
// line the window would show, and serves until SIGINT, SIGTERM or SIGHUP. A failed start prints
// its reason on standard error and exits with 1.
#include <csignal>
#include <cstdio>
#include <vector>

#include <malloc.h>
#include <pthread.h>

#include "api/service.hpp"
#include "api/service_instance.hpp"
#include "app/console_report.hpp"
#include "app/port_takeover.hpp"
#include "app/process_name.hpp"
#include "app/service_status.hpp"
#include "http/status_reason.hpp"

namespace {

constexpr int kLargeBufferBytes = 1 << 20;

}  // namespace

int main() {
  using namespace connector;
  // A conversion's other buffers (a 3.8 skeleton's tree and text, the project file read back)
  // can be megabytes each and are made on any pool thread. A fixed threshold maps every one of them
  // on its own and gives it back when freed; glibc's sliding default would keep them in per-thread
  // arenas, so the resident size would climb from one request to the next.
  mallopt(M_MMAP_THRESHOLD, kLargeBufferBytes);
  // Block the stop signals before any thread exists, so every thread inherits the mask and the
  // signals wait here for sigwait instead of interrupting some thread. A closed terminal
  // (SIGHUP) stops the connector in order, like Ctrl+C.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  const bool started = startServiceAtLaunch();
  const PortTakeover takeover;
  std::vector<PortHolder> holders;
  if (!started) {
    for (ProcessId id : takeover.listeningProcesses()) holders.push_back({id, processName(id)});
  }
  StatusLine line = currentStatusLine(takeover);
  if (!holders.empty()) line.text = portHeldLine(holders);
  const ConsoleReport report = consoleStartReport(started, line, statusReason(), holders);
  std::fputs(report.out.c_str(), stdout);
  std::fflush(stdout);
  std::fputs(report.err.c_str(), stderr);
  if (!started) return report.exitCode;

  int received = 0;
  while (sigwait(&stopSignals, &received) != 0) {
  }
  connectorService().stop();
  return 0;
}
