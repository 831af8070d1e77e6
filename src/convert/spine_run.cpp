#include "convert/spine_run.hpp"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "convert/convert_request.hpp"
#include "convert/editor_version_search.hpp"
#include "convert/licence_line.hpp"
#include "convert/store_zip_builder.hpp"
#include "convert/workspace.hpp"
#include "encoding/ascii.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

constexpr const char* kLicenceHidden = "Spine 授权信息已隐藏";
constexpr const char* kCancelled = "连接器已停止，Spine 转换已取消";

std::vector<std::string> spineArguments(const ConvertRequest& request,
                                        const std::string& versionPattern) {
  // Spine 3.8 takes names relative to its working directory; later versions take full paths.
  const bool bareNames = request.spineVersion == "3.8";
  return {"--update", versionPattern,
          "--input",  bareNames ? request.projectName + ".json" : pathToUtf8(request.jsonPath),
          "--output", bareNames ? request.projectName + ".spine" : pathToUtf8(request.projectPath),
          "--import", request.projectName};
}

std::string readProject(const std::filesystem::path& path) {
  std::string bytes;
  if (!ConversionWorkspace::readFile(path, bytes) || bytes.empty()) {
    throw std::runtime_error("Spine 未生成有效的工程文件");
  }
  return bytes;
}

}  // namespace

std::string redactSpineOutput(const std::string& output) {
  std::string joined;
  joined.reserve(output.size());
  std::size_t start = 0;
  while (true) {
    const std::size_t end = output.find('\n', start);
    std::string_view line(output.data() + start,
                          (end == std::string::npos ? output.size() : end) - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (start > 0) joined += '\n';
    if (isLicenceLine(line)) {
      joined += kLicenceHidden;
    } else {
      joined += line;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::string(trimAsciiWhitespace(joined));
}

std::string findEditorVersion(const std::string& output, const std::string& versionPattern) {
  if (const auto version = findStartingLineVersion(output)) return std::string(*version);
  return versionPattern;
}

ConvertResult runSpineConversion(const JsonValue& body, const std::string& spineExecutable,
                                 std::stop_token stop) {
  return runSpineConversion(body, spineExecutable, ProcessRunner(), std::move(stop));
}

ConvertResult runSpineConversion(const JsonValue& body, const std::string& spineExecutable,
                                 const ProcessRunner& runner, std::stop_token stop) {
  // A conversion that was waiting for its turn when the service stopped writes no workspace: the
  // stop may be the end of the session, after which nothing would remove it.
  if (stop.stop_requested()) throw std::runtime_error(kCancelled);
  ConvertRequest request = decodeConvertRequest(body);
  const std::string versionPattern = request.spineVersion + ".xx";
  const ProcessResult run = runner.run(spineExecutable, spineArguments(request, versionPattern),
                                       request.workspace.directory(), std::move(stop));
  if (run.cancelled) throw std::runtime_error(kCancelled);
  if (run.timedOut) throw std::runtime_error("Spine 转换超时");
  if (run.exitCode != 0) {
    std::string message = redactSpineOutput(run.output);
    throw std::runtime_error(message.empty() ? std::string("Spine 命令执行失败") : message);
  }

  // The images are already in place in the archive; the project goes in front of them.
  const std::string project = readProject(request.projectPath);
  ConvertResult result;
  result.editorVersion = findEditorVersion(run.output, versionPattern);
  result.archive = request.images.finish(request.projectName + ".spine", project);
  result.fileName = request.projectName + ".zip";
  return result;
}

}  // namespace connector
