#pragma once
// In-process router tests: a service that is never started (the router only needs its locks and
// port), a private settings file, a controllable clock, and an environment in which the Spine
// locator's answer is fixed by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "api/pairing_registry.hpp"
#include "api/router.hpp"
#include "api/service.hpp"
#include "support/test_helpers.hpp"

namespace connector::test {

class ApiTest : public ::testing::Test {
 protected:
  static constexpr std::uint16_t kTestPort = 40517;

  ApiTest();

  // Spine "found": SPINE_EXECUTABLE names an existing file (the test launcher).
  void spinePresent();
  // Nothing to find anywhere the locator looks.
  void spineAbsent();
  void advanceClock(std::chrono::nanoseconds step) { clockOffset_ += step.count(); }

  HttpResponse call(const std::string& method, const std::string& target,
                    const std::map<std::string, std::string>& headers = {},
                    const std::string& body = {});

  TempDirectory temp_;
  ScopedEnvironment environment_;
  ConnectorService service_;
  std::atomic<std::int64_t> clockOffset_{0};
  std::chrono::steady_clock::time_point clockBase_ = std::chrono::steady_clock::now();
  PairingRegistry registry_;
  RouteHandler handler_;
};

// The header value, or "<absent>".
std::string headerOf(const HttpResponse& response, const std::string& name);

}  // namespace connector::test
