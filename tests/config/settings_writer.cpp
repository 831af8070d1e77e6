// A second process for the settings tests: another copy of the program saving the same file.
//   settings-writer add <prefix> <count>   adds origins https://<prefix>-<i>.example one by one
//   settings-writer hold                   takes the settings lock, says "held" and never returns
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include "config/config.hpp"

int main(int argc, char** argv) {
  using namespace connector;
  const std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "add" && argc == 4) {
      const int count = std::stoi(argv[3]);
      for (int i = 0; i < count; ++i) {
        addAllowedOrigin("https://" + std::string(argv[2]) + "-" + std::to_string(i) + ".example");
      }
      return 0;
    }
    if (mode == "hold") {
      updateConfig([](ConnectorConfig&) {
        std::fputs("held\n", stdout);
        std::fflush(stdout);
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        return false;
      });
      return 0;
    }
    std::fputs("usage: settings-writer add <prefix> <count> | hold\n", stderr);
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stdout, "failed: %s\n", error.what());
    return 1;
  }
}
