#pragma once
// Runs Spine's launcher on a staged request and packs the project with its images.
#include <cstdint>
#include <string>
#include <vector>

#include "encoding/json.hpp"
#include "platform/process_runner.hpp"

namespace connector {

struct ConvertResult {
  std::string archive;  // the ZIP bytes, ready to become a reply body as they are
  std::string editorVersion;
};

ConvertResult runSpineConversion(const JsonValue& body, const std::string& spineExecutable,
                                 const ProcessRunner& runner = ProcessRunner());
std::string redactSpineOutput(const std::string& output);
// The version of the first "Starting: Spine <version>" line of the output, else versionPattern.
std::string findEditorVersion(const std::string& output, const std::string& versionPattern);

}  // namespace connector
