#pragma once
// The persisted settings file config.json.
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace connector {

struct ConnectorConfig {
  std::vector<std::string> allowedOrigins;
  std::string spineExecutable;  // UTF-8 path; empty means detect automatically
};

std::filesystem::path homeDirectory();
std::filesystem::path configFilePath();
// Never fails: a missing or broken file gives empty (or partial) settings.
ConnectorConfig loadConfig();
// Writes the whole file through a flushed temporary file and a rename.
// Throws std::runtime_error("无法写入连接器配置") or a filesystem error.
void saveConfig(const ConnectorConfig& config);
// Load, append the origin when it is new, save; all under settingsMutex().
void addAllowedOrigin(const std::string& origin);

// Held around every whole load-modify-save in the process (window and server alike).
// loadConfig, saveConfig and addAllowedOrigin take it themselves, so it is recursive: a caller
// holding it may still call them.
std::recursive_mutex& settingsMutex();

}  // namespace connector
