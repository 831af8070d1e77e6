#pragma once
// What the console front-end prints when it starts: where it serves and its status line on
// success; on failure the reason, on standard error, and the processes that hold the port.
#include <string>
#include <vector>

#include "app/port_takeover.hpp"
#include "app/status_line.hpp"

namespace connector {

inline constexpr const char* kServedAddress = "http://127.0.0.1:27843";

struct PortHolder {
  ProcessId id;
  std::string name;  // empty when the system would not tell
};

struct ConsoleReport {
  std::string out;  // standard output
  std::string err;  // standard error
  int exitCode;     // 1 after a failed start; 0 means: serve until a stop signal
};

// The console cannot stop another process as the window's toggle does, so where the window
// says "可停止连接" the console names the holders.
std::string portHeldLine(const std::vector<PortHolder>& holders);

// started: the service runs; line: the status line of the current state; reason: statusReason().
ConsoleReport consoleStartReport(bool started, const StatusLine& line, const std::string& reason,
                                 const std::vector<PortHolder>& holders);

}  // namespace connector
