#pragma once
// The two things both front-ends (window and console) do with the process-wide service:
// start it at launch, and say what state it is in.
#include "app/port_takeover.hpp"
#include "app/status_line.hpp"

namespace connector {

// Starts connectorService(); a start that throws leaves "连接器启动失败" in statusReason().
bool startServiceAtLaunch();

// The status line for the current state: service running here, port held by another process
// (asked only when the service is not running here), Spine found, statusReason().
StatusLine currentStatusLine(const PortTakeover& takeover);

}  // namespace connector
