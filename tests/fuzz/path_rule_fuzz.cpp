// The request path rule and the project-name clean-up on arbitrary text. Whatever they let through
// must name a file inside the workspace on every platform: nothing absolute, no ".." element,
// nothing Windows would turn into a drive, a stream, a device or another file's name.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "convert/project_name.hpp"
#include "convert/request_rules.hpp"
#include "fuzz_support.hpp"
#include "platform/text.hpp"
#include "windows_names.hpp"

using namespace connector;

namespace {

constexpr std::string_view kLabel = "图片";

// "a/.." is accepted as "." and "a/b/.." as "a/": the one trailing separator a removed ".." leaves.
void checkAcceptedPath(const std::string& path) {
  fuzz::check(!path.empty(), "an accepted path is not empty");
  fuzz::check(path.front() != '/', "an accepted path is relative", path);
  fuzz::check(path.find('\\') == std::string::npos && path.find('\0') == std::string::npos,
              "no backslash or NUL in an accepted path", path);
  fuzz::check(isValidUtf8(path), "an accepted path is UTF-8", path);
  if (path == ".") return;
  std::string_view elements(path);
  if (elements.ends_with('/')) elements.remove_suffix(1);
  std::string_view rest = elements;
  while (true) {
    const std::size_t slash = rest.find('/');
    const std::string_view element = rest.substr(0, slash);
    fuzz::check(!element.empty() && element != "." && element != "..",
                "no empty, \".\" or \"..\" element", path);
    if (const char* fault = fuzz::windowsElementFault(element)) fuzz::violated(fault, path);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  try {
    fuzz::check(checkRelativePath(path, kLabel) == elements,
                "an accepted path is accepted unchanged", path);
  } catch (const std::runtime_error&) {
    fuzz::violated("an accepted path is accepted again", path);
  }

  const std::filesystem::path workspace = "/workspace";
  fuzz::check(fuzz::staysInside(workspace, workspace / path),
              "an accepted path stays inside the workspace", path);
}

void checkRefusal(const std::runtime_error& error) {
  const std::string_view message = error.what();
  fuzz::check(message == std::string(kLabel) + "路径无效" ||
                  message == std::string(kLabel) + "必须使用相对路径" ||
                  message == std::string(kLabel) + "路径不能超出工程目录",
              "a refusal is the label and one of the three reasons", message);
}

void checkProjectName(std::string_view text) {
  const std::string name = sanitizeProjectName(text);
  fuzz::check(!name.empty() && name.front() != '.',
              "a project name is not empty and starts with no dot", name);
  fuzz::check(isValidUtf8(name), "a project name is UTF-8", name);
  for (const char c : name) {
    fuzz::check(static_cast<unsigned char>(c) >= 0x20 &&
                    std::string_view("\\/:*?\"<>|").find(c) == std::string_view::npos,
                "no control or reserved byte in a project name", name);
  }
  // The name is only ever used as the stem of the .json, .spine and .zip files.
  for (const char* extension : {".json", ".spine", ".zip"}) {
    const std::string file = name + extension;
    if (const char* fault = fuzz::windowsElementFault(file)) fuzz::violated(fault, file);
  }
}

void testOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    checkAcceptedPath(checkRelativePath(text, kLabel));
  } catch (const std::runtime_error& error) {
    checkRefusal(error);
  }
  checkProjectName(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::onSmallStack([&] { testOneInput(data, size); });
  return 0;
}
