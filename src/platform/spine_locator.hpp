#pragma once
#include <string>

namespace connector {

class SpineLocator {
 public:
  // UTF-8 path of Spine's launcher, or "" when none is found. Never throws; never caches.
  static std::string locate();
};

}  // namespace connector
