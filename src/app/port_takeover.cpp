#include "app/port_takeover.hpp"

#include <utility>

#include "http/server.hpp"
#include "http/status_reason.hpp"

namespace connector {

namespace {
constexpr std::chrono::seconds kPortReleaseDeadline{3};
constexpr std::chrono::milliseconds kPortCheckPause{50};
}  // namespace

PortTakeover::PortTakeover(PortSystem system) : system_(std::move(system)) {}

PortTakeover::PortTakeover() : PortTakeover(systemPortCalls(kConnectorPort)) {}

std::set<ProcessId> PortTakeover::listeningProcesses() const { return system_.listeners(); }

bool PortTakeover::isPortInUse() const { return !listeningProcesses().empty(); }

void PortTakeover::stopPortHolders() const {
  std::string& reason = statusReason();
  reason.clear();
  // The holder may have gone away since the caller looked; take the set afresh.
  const std::set<ProcessId> holders = listeningProcesses();
  if (holders.empty()) return;
  // Nothing frees a port that the system itself listens on, so no other holder is ended either.
  if (system_.systemProcess && holders.contains(*system_.systemProcess)) {
    reason = kHttpServiceHoldsPort;
    return;
  }

  const ProcessId self = system_.currentProcessId();
  for (ProcessId id : holders) {  // std::set: ascending ids
    if (id == self) {
      reason = "无法从外部停止当前连接器进程";
      return;
    }
    switch (system_.terminateAndWait(id)) {
      case PortSystem::Stop::Stopped:
        break;
      case PortSystem::Stop::OpenRefused:
        reason = "无法停止占用端口 27843 的进程，请以管理员身份运行后重试";
        return;
      case PortSystem::Stop::TerminateRefused:
        reason = "停止占用端口 27843 的进程失败";
        return;
    }
  }

  const auto deadline = system_.now() + kPortReleaseDeadline;
  for (;;) {
    if (system_.now() >= deadline) {
      reason = "进程已停止，但端口 27843 仍未释放";
      return;
    }
    if (listeningProcesses().empty()) return;
    system_.sleep(kPortCheckPause);
  }
}

}  // namespace connector
