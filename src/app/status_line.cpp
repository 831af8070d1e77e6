#include "app/status_line.hpp"

namespace connector {

namespace {
constexpr Rgb kGrey{166, 164, 162};
constexpr Rgb kRed{255, 69, 58};
constexpr Rgb kOrange{255, 159, 10};
constexpr Rgb kGreen{48, 209, 88};
}  // namespace

StatusLine chooseStatusLine(bool runningHere, bool portHeld, bool spineFound,
                            const std::string& reason) {
  if (runningHere) {
    if (spineFound) return {"● 连接器运行中 · Spine 已就绪", kGreen, true};
    return {"● 连接器运行中 · 未找到 Spine", kOrange, true};
  }
  // Another process on the port outranks any stored reason: that reason is stale while the
  // holder still listens, and is shown once the port is free again.
  if (portHeld) return {"● 端口 27843 正在运行 · 可停止连接", kGreen, true};
  if (reason.empty()) return {"● 连接器已断开", kGrey, false};
  return {"● 连接器未启动 · " + reason, kRed, false};
}

}  // namespace connector
