#include "app/console_report.hpp"

namespace connector {

std::string portHeldLine(const std::vector<PortHolder>& holders) {
  std::string line = "● 端口 27843 正在运行 · 占用进程 ";
  for (std::size_t i = 0; i < holders.size(); ++i) {
    if (i > 0) line += "、";
    line += std::to_string(holders[i].id);
    if (!holders[i].name.empty()) line += "（" + holders[i].name + "）";
  }
  return line;
}

ConsoleReport consoleStartReport(bool started, const StatusLine& line, const std::string& reason,
                                 const std::vector<PortHolder>& holders) {
  if (started)
    return {std::string("Glimmer连接器 ") + kServedAddress + "\n" + line.text + "\n", "", 0};
  // The reason itself, which the window would hide behind the port-held line, then the holders.
  std::string err =
      "● 连接器未启动 · " + (reason.empty() ? std::string("连接器启动失败") : reason) + "\n";
  if (!holders.empty()) err += portHeldLine(holders) + "\n";
  return {"", err, 1};
}

}  // namespace connector
