#pragma once
// Which status text and colour the window (and the console) shows.
#include <string>

#include "app/palette.hpp"

namespace connector {

struct StatusLine {
  std::string text;  // UTF-8
  Rgb colour;
  bool active;  // the toggle reads "停止连接" when true, "启动连接" otherwise
};

// runningHere: the plain server runs in this process; portHeld: some process listens on the port;
// spineFound: the locator found Spine (only consulted when running here).
StatusLine chooseStatusLine(bool runningHere, bool portHeld, bool spineFound,
                            const std::string& reason);

}  // namespace connector
