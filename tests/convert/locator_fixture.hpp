#pragma once
// A fake environment for the Spine search: every variable it reads is unset, and the settings
// live in a private folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "config/config.hpp"
#include "convert/spine_locator.hpp"
#include "platform/text.hpp"
#include "support/test_helpers.hpp"

namespace connector::test {

class LocatorTest : public ::testing::Test {
 protected:
  LocatorTest() {
    for (const char* name : {"SPINE_EXECUTABLE", "ProgramFiles", "ProgramFiles(x86)",
                             "LOCALAPPDATA", "HOME", "PATH"}) {
      environment_.set(name, std::nullopt);
    }
    environment_.set("SPINE_CONNECTOR_CONFIG", pathToUtf8(root_ / "settings.json"));
  }

  // Creates a small regular file (and its folders) and returns its path.
  std::filesystem::path makeFile(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    writeWholeFile(path, "#!/bin/sh\n");
    return path;
  }
  void setPathVariable(const char* name, const std::filesystem::path& value) {
    environment_.set(name, pathToUtf8(value));
  }
  void setVariable(const char* name, std::optional<std::string> value) {
    environment_.set(name, value);
  }
  void saveChoice(const std::filesystem::path& path) { saveConfig({{}, pathToUtf8(path)}); }
  // The launcher's file name of this build (Spine.com or Spine.sh) inside folder.
  static std::filesystem::path launcherIn(const std::filesystem::path& folder) {
    return folder / pathFromUtf8(launcherName());
  }

  TempDirectory root_;
  ScopedEnvironment environment_;
};

}  // namespace connector::test
