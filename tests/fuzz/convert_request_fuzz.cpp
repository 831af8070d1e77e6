// Reading and staging a conversion request on arbitrary bodies. Reading writes nothing; whatever
// happens, no workspace is left behind once the request is gone, and nothing is ever written
// outside the workspace.
// Input starting with "{": the whole request body. Anything else: lines of skeleton JSON, project
// name, requested version, then image path and Base64 data pairs, built into a body (so the
// mutations reach the skeleton and the paths without breaking the envelope's escapes).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/convert_plan.hpp"
#include "convert/convert_request.hpp"
#include "encoding/json.hpp"
#include "encoding/json_parser.hpp"
#include "fuzz_support.hpp"
#include "platform/environment.hpp"
#include "platform/text.hpp"

using namespace connector;

namespace {

const std::filesystem::path& temporaryFolder() { return fuzz::privateFolder("convert"); }

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (true) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) return lines;
    text.remove_prefix(end + 1);
  }
}

JsonValue bodyFromLines(std::string_view text) {
  const std::vector<std::string_view> lines = splitLines(text);
  JsonObject body;
  body["schemaVersion"] = 1;
  body["skeletonJson"] = std::string(lines[0]);
  body["projectName"] = std::string(lines.size() > 1 ? lines[1] : std::string_view());
  if (lines.size() > 2 && !lines[2].empty()) body["spineVersion"] = std::string(lines[2]);
  JsonArray images;
  for (std::size_t i = 3; i + 1 < lines.size(); i += 2) {
    JsonObject image;
    image["path"] = std::string(lines[i]);
    image["dataBase64"] = std::string(lines[i + 1]);
    images.push_back(std::move(image));
  }
  body["images"] = std::move(images);
  return body;
}

void checkStaged(const ConvertRequest& request) {
  const std::filesystem::path& workspace = request.workspace.directory();
  fuzz::check(workspace.parent_path() == temporaryFolder(),
              "the workspace is in the temporary folder");
  fuzz::check(!request.projectName.empty(), "a project name");
  fuzz::check(
      request.jsonPath.parent_path() == workspace && request.projectPath.parent_path() == workspace,
      "project files directly in the workspace", request.projectName);
  fuzz::check(std::filesystem::is_regular_file(request.jsonPath), "the skeleton is staged");
  for (std::size_t i = 0; i < request.images.entryCount(); ++i) {
    const std::string& name = request.images.entryName(i);
    const std::filesystem::path file = (workspace / pathFromUtf8(name)).lexically_normal();
    fuzz::check(fuzz::staysInside(workspace, file), "an image stays in the workspace", name);
    fuzz::check(std::filesystem::is_regular_file(file), "an image is staged where its entry says",
                name);
  }
  // Only the one workspace exists, and everything written is inside it.
  for (const auto& item : std::filesystem::directory_iterator(temporaryFolder())) {
    fuzz::check(item.path() == workspace, "nothing beside the workspace", pathToUtf8(item.path()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setEnvironment("TMPDIR", pathToUtf8(temporaryFolder()));
  fuzz::check(std::filesystem::temp_directory_path() == temporaryFolder(),
              "TMPDIR chooses the temporary folder");
  return 0;
}

namespace {

void testOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  JsonValue body;
  if (text.starts_with('{')) {
    try {
      body = parseJson(text);
    } catch (const JsonParseError&) {
      return;
    }
  } else {
    body = bodyFromLines(text);
  }
  try {
    ConvertPlan plan = readConvertRequest(body);
    fuzz::check(fuzz::isEmptyFolder(temporaryFolder()), "reading writes nothing");
    const ConvertRequest request = stageConvertRequest(std::move(plan));
    checkStaged(request);
  } catch (const std::runtime_error&) {
    // A refusal: only what is left on disk matters here.
  }
  fuzz::check(fuzz::isEmptyFolder(temporaryFolder()), "no workspace left behind");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::onSmallStack([&] { testOneInput(data, size); });
  return 0;
}
