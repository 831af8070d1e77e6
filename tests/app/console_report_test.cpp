// What the console prints at start: the address and status line, or the reason and the holders.
#include <gtest/gtest.h>

#include "app/console_report.hpp"

namespace connector {
namespace {

TEST(ConsoleReport, AStartedConnectorPrintsItsAddressAndStatusLine) {
  const StatusLine line = chooseStatusLine(true, false, false, "");
  const ConsoleReport report = consoleStartReport(true, line, "", {});
  EXPECT_EQ(report.out, "Glimmer连接器 http://127.0.0.1:27843\n● 连接器运行中 · 未找到 Spine\n");
  EXPECT_EQ(report.err, "");
  EXPECT_EQ(report.exitCode, 0);
}

TEST(ConsoleReport, AFailedStartGoesToStandardErrorAndNamesThePortHolders) {
  const std::string reason = "端口 27843 已被占用，可能已有连接器正在运行";
  std::vector<PortHolder> holders{{812, "python3"}, {4242, ""}};
  const ConsoleReport held =
      consoleStartReport(false, chooseStatusLine(false, true, false, reason), reason, holders);
  EXPECT_EQ(held.out, "");
  EXPECT_EQ(held.err,
            "● 连接器未启动 · 端口 27843 已被占用，可能已有连接器正在运行\n"
            "● 端口 27843 正在运行 · 占用进程 812（python3）、4242\n");
  EXPECT_EQ(held.err.find("可停止连接"), std::string::npos);  // the console cannot stop it
  EXPECT_EQ(held.exitCode, 1);

  // Holders the system hides (another user's process): the reason alone.
  const ConsoleReport hidden =
      consoleStartReport(false, chooseStatusLine(false, false, false, reason), reason, {});
  EXPECT_EQ(hidden.err, "● 连接器未启动 · 端口 27843 已被占用，可能已有连接器正在运行\n");
  EXPECT_EQ(hidden.exitCode, 1);

  const ConsoleReport socketFailure = consoleStartReport(
      false, chooseStatusLine(false, false, false, "无法创建本地服务"), "无法创建本地服务", {});
  EXPECT_EQ(socketFailure.err, "● 连接器未启动 · 无法创建本地服务\n");
}

}  // namespace
}  // namespace connector
