#include "config/config.hpp"

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "encoding/json.hpp"
#include "encoding/json_parser.hpp"
#include "platform/durable_file.hpp"
#include "platform/environment.hpp"
#include "platform/file_lock.hpp"
#include "platform/host.hpp"
#include "platform/read_file.hpp"
#include "platform/system_error.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

constexpr const char* kWriteFailed = "无法写入连接器配置";
constexpr const char* kUnreadable = "连接器配置文件无法读取，未保存：";
constexpr const char* kLockedElsewhere = "连接器配置文件正被另一个程序锁定，未保存：";
// Another copy saves in milliseconds; one that holds the lock this long has hung, or the
// settings live on a share that stalls. The window and every health request wait on this.
constexpr RetryLimit kSettingsLockWait{60, std::chrono::milliseconds(50)};

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

std::filesystem::path withSuffix(std::filesystem::path file, const char8_t* suffix) {
  file += suffix;
  return file;
}

// The settings lock: the recursive mutex for the threads of this process, a lock file beside the
// settings for other processes. Only the outermost holder in the process takes the file lock
// (a second flock on another descriptor would wait for the first); the depth is guarded by the
// mutex, so it only ever counts the current thread's nesting.
class SettingsLock {
 public:
  enum class Purpose { Reading, Changing };

  SettingsLock(const std::filesystem::path& file, Purpose purpose) : inProcess_(settingsMutex()) {
    if (depth_++ > 0) return;
    try {
      const std::filesystem::path lockFile = withSuffix(file, u8".lock");
      if (purpose == Purpose::Reading) {
        // Best effort: readers wait for a save in progress (on Windows an open reader could make
        // its rename fail), but never create anything and never fail.
        FileLock::acquire(lockFile, FileLock::Mode::Shared, false, kSettingsLockWait,
                          acrossProcesses_);
        return;
      }
      switch (FileLock::acquire(lockFile, FileLock::Mode::Exclusive, true, kSettingsLockWait,
                                acrossProcesses_)) {
        case Attempt::Done:
          break;
        case Attempt::Busy:
          throw std::runtime_error(kLockedElsewhere + pathToUtf8(file));
        case Attempt::Failed:
          throw std::runtime_error(kWriteFailed);
      }
    } catch (...) {
      --depth_;
      throw;
    }
  }
  ~SettingsLock() { --depth_; }
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;

 private:
  std::lock_guard<std::recursive_mutex> inProcess_;
  std::optional<FileLock> acrossProcesses_;
  static inline int depth_ = 0;
};

void createParentFolder(const std::filesystem::path& file) {
  // A bare file name has no folder to create: it lives in the working directory.
  if (!file.has_parent_path()) return;
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  // The standard library's own words, with the system's reason in text the user can read.
  if (error) {
    throw std::filesystem::filesystem_error("cannot create directories", file.parent_path(),
                                            readableError(error));
  }
}

std::runtime_error unreadable(const std::filesystem::path& file) {
  return std::runtime_error(kUnreadable + pathToUtf8(file));
}

// The settings for a change: the empty record when there is no file or an empty one, else the
// file's object.
// Anything else throws, so what cannot be read is never replaced by what was not read.
ConnectorConfig readForChange(const std::filesystem::path& file) {
  ConnectorConfig config;
  std::string bytes;
  switch (readWholeFile(file, bytes)) {
    case FileRead::Missing:
      return config;
    case FileRead::Unreadable:
      throw unreadable(file);
    case FileRead::Read:
      break;
  }
  // A file of nothing but white space (one a crash left empty, say) holds nothing to protect.
  if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) return config;
  JsonValue document;
  try {
    document = parseJson(bytes);
  } catch (const JsonParseError&) {
    throw unreadable(file);
  }
  if (!document.isObject()) throw unreadable(file);
  if (const JsonValue* origins = document.find("allowedOrigins"); origins && origins->isArray()) {
    for (const JsonValue& origin : origins->asArray()) {
      if (origin.isString()) config.allowedOrigins.push_back(origin.asString());
    }
  }
  if (const JsonValue* executable = document.find("spineExecutable");
      executable && executable->isString()) {
    config.spineExecutable = executable->asString();
  }
  return config;
}

// The write half of saveConfig; the caller holds the settings lock for changing.
void writeSettings(const std::filesystem::path& file, const ConnectorConfig& config) {
  const std::string text = settingsText(config);
  const std::filesystem::path temporary = withSuffix(file, u8".tmp");
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
  try {
    const std::filesystem::path file = configFilePath();
    SettingsLock lock(file, SettingsLock::Purpose::Reading);
    return readForChange(file);
  } catch (...) {
    // A broken or unreadable file means no settings for a reader; only a change refuses it.
    return {};
  }
}

void saveConfig(const ConnectorConfig& config) {
  const std::filesystem::path file = configFilePath();
  createParentFolder(file);
  SettingsLock lock(file, SettingsLock::Purpose::Changing);
  writeSettings(file, config);
}

void updateConfig(const std::function<bool(ConnectorConfig&)>& change) {
  const std::filesystem::path file = configFilePath();
  createParentFolder(file);
  SettingsLock lock(file, SettingsLock::Purpose::Changing);
  ConnectorConfig config = readForChange(file);
  if (!change(config)) return;
  writeSettings(file, config);
}

void addAllowedOrigin(const std::string& origin) {
  updateConfig([&origin](ConnectorConfig& config) {
    auto& origins = config.allowedOrigins;
    if (std::find(origins.begin(), origins.end(), origin) != origins.end()) return false;
    origins.push_back(origin);
    return true;
  });
}

}  // namespace connector
