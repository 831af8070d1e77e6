#include "config/config.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "config/durable_file.hpp"
#include "config/home_fallback.hpp"
#include "encoding/json.hpp"
#include "encoding/json_parser.hpp"
#include "platform/environment.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

constexpr const char* kWriteFailed = "无法写入连接器配置";

// Environment values name paths, so they must decode exactly: a repaired value would point
// somewhere else.
std::string environmentText(std::string_view name) { return readEnvironmentStrict(name); }

std::string settingsText(const ConnectorConfig& config) {
  JsonArray origins;
  origins.reserve(config.allowedOrigins.size());
  for (const auto& origin : config.allowedOrigins) origins.emplace_back(origin);
  JsonObject document;
  document["allowedOrigins"] = JsonValue(std::move(origins));
  document["spineExecutable"] = JsonValue(config.spineExecutable);
  return toJsonText(JsonValue(std::move(document)), 2) + "\n";
}

std::string readBytes(const std::filesystem::path& path, bool& opened) {
  std::ifstream in(path, std::ios::binary);
  opened = static_cast<bool>(in);
  if (!opened) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::recursive_mutex& settingsMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

std::filesystem::path homeDirectory() {
  const std::string profile = environmentText("USERPROFILE");
  if (!profile.empty()) return pathFromUtf8(profile);
  const std::string drivePath = environmentText("HOMEDRIVE") + environmentText("HOMEPATH");
  if (!drivePath.empty()) return pathFromUtf8(drivePath);
  const std::string fallback = homeFallback();
  if (!fallback.empty()) return pathFromUtf8(fallback);
  return std::filesystem::current_path();
}

std::filesystem::path configFilePath() {
  const std::string overridden = environmentText("SPINE_CONNECTOR_CONFIG");
  if (!overridden.empty()) return pathFromUtf8(overridden);
  const std::string appData = environmentText("APPDATA");
  const std::filesystem::path base = appData.empty() ? homeDirectory() : pathFromUtf8(appData);
  return base / u8"GlimmerConnector" / u8"config.json";
}

ConnectorConfig loadConfig() {
  ConnectorConfig config;
  try {
    // Readers wait for a save in progress: on Windows an open reader would make the save's
    // rename over the file fail.
    std::lock_guard lock(settingsMutex());
    bool opened = false;
    const std::string bytes = readBytes(configFilePath(), opened);
    if (!opened) return config;
    const JsonValue document = parseJson(bytes);
    if (const JsonValue* origins = document.find("allowedOrigins"); origins && origins->isArray()) {
      for (const JsonValue& origin : origins->asArray()) {
        if (origin.isString()) config.allowedOrigins.push_back(origin.asString());
      }
    }
    if (const JsonValue* executable = document.find("spineExecutable");
        executable && executable->isString()) {
      config.spineExecutable = executable->asString();
    }
  } catch (...) {
    // A broken or unreadable file means no (or partial) settings; it is replaced at the next save.
  }
  return config;
}

void saveConfig(const ConnectorConfig& config) {
  std::lock_guard lock(settingsMutex());
  const std::string text = settingsText(config);
  const std::filesystem::path file = configFilePath();
  // A bare file name has no folder to create: it lives in the working directory.
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());

  std::filesystem::path temporary = file;
  temporary += u8".tmp";
  switch (writeFileDurably(temporary, text)) {
    case DurableWrite::Written:
      break;
    case DurableWrite::OpenFailed:
      throw std::runtime_error(kWriteFailed);
    case DurableWrite::WriteFailed: {
      // Never let a partial file stand in for the settings; the old file stays as it was.
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw std::runtime_error(kWriteFailed);
    }
  }
  replaceFile(temporary, file);
}

void addAllowedOrigin(const std::string& origin) {
  std::lock_guard lock(settingsMutex());
  ConnectorConfig config = loadConfig();
  const auto& origins = config.allowedOrigins;
  if (std::find(origins.begin(), origins.end(), origin) != origins.end()) return;
  config.allowedOrigins.push_back(origin);
  saveConfig(config);
}

}  // namespace connector
