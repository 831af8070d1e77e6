#include "convert/workspace.hpp"

#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "platform/text.hpp"

namespace connector {
namespace {

constexpr int kCreateAttempts = 32;
constexpr int kRemoveAttempts = 20;
constexpr std::chrono::milliseconds kRemoveRetryDelay{25};
constexpr const char* kCannotCreate = "无法创建连接器临时目录";
constexpr const char* kNoTempDirectory = "无法确定系统临时目录";
constexpr const char* kCannotCreateFolder = "无法创建临时子目录";

std::filesystem::path systemTempDirectory() {
  std::error_code error;
  std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (error) throw std::runtime_error(kNoTempDirectory);
  return temp;
}

// Depth-first, files before their folder, and every error skipped so the rest still goes.
void removeTree(const std::filesystem::path& path) noexcept {
  try {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (error) return;
    if (std::filesystem::is_directory(status)) {
      std::filesystem::directory_iterator it(path, error);
      const std::filesystem::directory_iterator end;
      while (!error && it != end) {
        removeTree(it->path());
        it.increment(error);
      }
    }
    std::filesystem::remove(path, error);
  } catch (...) {
    // Out of memory while walking: leave the rest behind rather than fail.
  }
}

// Windows keeps a folder busy for a moment after the child that ran in it has ended, so
// whatever could not go yet is tried again briefly; destruction still never fails.
void removeWorkspace(const std::filesystem::path& directory) noexcept {
  for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
    if (attempt > 0) {
      try {
        std::this_thread::sleep_for(kRemoveRetryDelay);
      } catch (...) {
        return;
      }
    }
    removeTree(directory);
    std::error_code error;
    const auto status = std::filesystem::symlink_status(directory, error);
    if (error || !std::filesystem::exists(status)) return;
  }
}

}  // namespace

ConversionWorkspace::ConversionWorkspace(ConversionWorkspace&& other) noexcept
    : directory_(std::move(other.directory_)) {
  other.directory_.clear();
}

ConversionWorkspace& ConversionWorkspace::operator=(ConversionWorkspace&& other) noexcept {
  if (this != &other) {
    if (!directory_.empty()) removeWorkspace(directory_);
    directory_ = std::move(other.directory_);
    other.directory_.clear();
  }
  return *this;
}

ConversionWorkspace::~ConversionWorkspace() {
  if (!directory_.empty()) removeWorkspace(directory_);
}

ConversionWorkspace ConversionWorkspace::create() {
  std::random_device device;
  std::mt19937_64 generator(device());
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const std::string random = std::to_string(generator());
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    const std::string name = "glimmer-" + std::to_string(nanoseconds.count()) + "-" + random;
    std::filesystem::path candidate = systemTempDirectory() / pathFromUtf8(name);
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error) && !error) {
      return ConversionWorkspace(std::move(candidate));
    }
  }
  throw std::runtime_error(kCannotCreate);
}

void ConversionWorkspace::writeFile(const std::filesystem::path& path, std::string_view bytes,
                                    const char* failureMessage) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error(failureMessage);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  // A full disk shows only in the write or the flush; a short file must not pass as staged.
  if (!out) throw std::runtime_error(failureMessage);
}

void ConversionWorkspace::ensureDirectories(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error) throw std::runtime_error(kCannotCreateFolder);
}

}  // namespace connector
