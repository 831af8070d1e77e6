#include "support/test_helpers.hpp"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "platform/environment.hpp"
#include "platform/text.hpp"

namespace connector::test {

TempDirectory::TempDirectory() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "glimmer-test-" << random() << '-' << counter++;
    auto candidate = std::filesystem::temp_directory_path() / name.str();
    if (std::filesystem::create_directory(candidate)) {
      path_ = std::move(candidate);
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary test directory");
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDirectory::operator/(std::string_view utf8) const {
  return path_ / pathFromUtf8(utf8);
}

void ScopedEnvironment::set(std::string_view name, std::optional<std::string> value) {
  // Environment values are read as text with no "unset" marker, so remember an empty value as
  // unset.
  std::string old = readEnvironment(name);
  saved_.push_back(
      {std::string(name), old.empty() ? std::nullopt : std::optional<std::string>(old)});
  if (value) {
    setEnvironment(name, *value);
  } else {
    unsetEnvironment(name);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->value) {
      setEnvironment(it->name, *it->value);
    } else {
      unsetEnvironment(it->name);
    }
  }
}

std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + pathToUtf8(path));
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + pathToUtf8(path));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace connector::test
