#pragma once
// The persisted settings file config.json.
#include <filesystem>
#include <functional>
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
// For reading only. Never fails: a missing or broken file gives empty (or partial) settings.
ConnectorConfig loadConfig();
// Writes the whole file through a flushed temporary file and a rename.
// Throws std::runtime_error("无法写入连接器配置") or a filesystem error, or
// std::runtime_error("连接器配置文件正被另一个程序锁定，未保存：" + path) when another process
// keeps the settings lock for seconds.
void saveConfig(const ConnectorConfig& config);
// One whole load-modify-save, serialised with every other one in this process and in any other
// process using the same settings file. No file starts from the empty record; a file that exists
// but cannot be read or is not a JSON object is left as it is and
// std::runtime_error("连接器配置文件无法读取，未保存：" + path) is thrown. `change` returns
// whether anything changed; when it returns false nothing is written. Otherwise throws what
// saveConfig throws.
void updateConfig(const std::function<bool(ConnectorConfig&)>& change);
// updateConfig appending the origin when it is not listed yet.
void addAllowedOrigin(const std::string& origin);

// The in-process half of the settings lock; loadConfig, saveConfig and updateConfig take it
// themselves, and it is recursive, so a caller holding it may still call them.
std::recursive_mutex& settingsMutex();

}  // namespace connector
