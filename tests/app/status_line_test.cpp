#include "app/status_line.hpp"

#include <gtest/gtest.h>

namespace connector {
namespace {

TEST(ChooseStatusLine, PicksTextColourAndToggleState) {
  const Rgb grey{166, 164, 162}, red{255, 69, 58}, orange{255, 159, 10}, green{48, 209, 88};
  const std::string portReason = "端口 27843 已被占用，可能已有连接器正在运行";
  const std::string httpService = "端口 27843 被系统 HTTP 服务（HTTP.sys）占用，无法停止";
  struct Case {
    bool runningHere, portHeld, spineFound;
    std::string reason;
    std::string text;
    Rgb colour;
    bool active;
  };
  const Case cases[] = {
      {false, false, false, "", "● 连接器已断开", grey, false},
      {false, false, true, "", "● 连接器已断开", grey, false},
      {false, false, false, "无法创建本地服务", "● 连接器未启动 · 无法创建本地服务", red, false},
      {true, false, false, "", "● 连接器运行中 · 未找到 Spine", orange, true},
      {true, false, true, "", "● 连接器运行中 · Spine 已就绪", green, true},
      {false, true, false, "", "● 端口 27843 正在运行 · 可停止连接", green, true},
      // The port-held state hides a stored reason until the port is free again.
      {false, true, false, portReason, "● 端口 27843 正在运行 · 可停止连接", green, true},
      // Running here wins over both a reported holder (ourselves) and a stale reason.
      {true, true, true, portReason, "● 连接器运行中 · Spine 已就绪", green, true},
      // A holder no toggle can stop is named while it holds the port, not offered for stopping.
      {false, true, false, httpService, "● 连接器未启动 · " + httpService, red, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " / reason: " + c.reason);
    const StatusLine line = chooseStatusLine(c.runningHere, c.portHeld, c.spineFound, c.reason);
    EXPECT_EQ(line.text, c.text);
    EXPECT_EQ(line.colour, c.colour);
    EXPECT_EQ(line.active, c.active);
  }
}

}  // namespace
}  // namespace connector
