#pragma once
// Validation and staging of a conversion request body.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "convert/store_zip_builder.hpp"
#include "convert/workspace.hpp"
#include "encoding/json.hpp"

namespace connector {

struct ConvertRequest {
  ConversionWorkspace workspace;
  std::filesystem::path jsonPath;
  std::filesystem::path projectPath;
  std::string projectName;
  std::string spineVersion;  // major.minor
  // The images in request order, each decoded once, straight into the archive that Spine's
  // project file will lead (named images folder + "/" + normalised path).
  StoreZipBuilder images;
};

ConvertRequest decodeConvertRequest(const JsonValue& body);
std::string requireString(const JsonValue& object, const std::string& key);

}  // namespace connector
