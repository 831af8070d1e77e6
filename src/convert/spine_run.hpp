#pragma once
// Runs Spine's launcher on a staged request and packs the project with its images.
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "encoding/json.hpp"
#include "platform/byte_buffer.hpp"
#include "platform/process_runner.hpp"

namespace connector {

struct ConvertResult {
  ByteBuffer archive;  // the ZIP bytes, ready to become a reply body as they are
  std::string editorVersion;
  std::string fileName;  // the download's name: the cleaned project name + ".zip"
};

// A stop request while Spine runs ends Spine and all it started, and the conversion fails with
// "连接器已停止，Spine 转换已取消"; as on every failure, the workspace is removed.
ConvertResult runSpineConversion(const JsonValue& body, const std::string& spineExecutable,
                                 const ProcessRunner& runner = ProcessRunner(),
                                 std::stop_token stop = {});
ConvertResult runSpineConversion(const JsonValue& body, const std::string& spineExecutable,
                                 std::stop_token stop);
std::string redactSpineOutput(const std::string& output);
// The version of the first "Starting: Spine <version>" line of the output, else versionPattern.
std::string findEditorVersion(const std::string& output, const std::string& versionPattern);

}  // namespace connector
