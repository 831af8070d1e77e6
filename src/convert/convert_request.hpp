#pragma once
// Staging a read conversion request: its workspace, with the skeleton JSON and the images in it.
#include <filesystem>
#include <string>

#include "convert/convert_plan.hpp"
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

// Creates the workspace and writes the plan into it; a failure removes the workspace. The body
// the plan was read from must still be alive.
ConvertRequest stageConvertRequest(ConvertPlan plan);
// Reading, then staging.
ConvertRequest decodeConvertRequest(const JsonValue& body);

}  // namespace connector
