#include "app/status_line.hpp"

#include "app/port_takeover.hpp"

namespace connector {

StatusLine chooseStatusLine(bool runningHere, bool portHeld, bool spineFound,
                            const std::string& reason) {
  if (runningHere) {
    if (spineFound) return {"● 连接器运行中 · Spine 已就绪", palette::kGreen, true};
    return {"● 连接器运行中 · 未找到 Spine", palette::kOrange, true};
  }
  // Another process on the port outranks any stored reason: that reason is stale while the
  // holder still listens, and is shown once the port is free again. Not so when the holder is
  // the system's HTTP service: no press of the toggle can stop it, and it may never let go.
  if (portHeld && reason == kHttpServiceHoldsPort)
    return {"● 连接器未启动 · " + reason, palette::kRed, false};
  if (portHeld) return {"● 端口 27843 正在运行 · 可停止连接", palette::kGreen, true};
  if (reason.empty()) return {"● 连接器已断开", palette::kMuted, false};
  return {"● 连接器未启动 · " + reason, palette::kRed, false};
}

}  // namespace connector
