#pragma once
// Reading a conversion request: the body becomes a plan of what to stage, with each field read
// once and every check run, all without touching the disk.
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/image_staging.hpp"
#include "encoding/json.hpp"

namespace connector {

// Holds views into the body it was read from, which must outlive it.
struct ConvertPlan {
  std::string spineVersion;  // major.minor
  std::string projectName;   // cleaned, never empty
  std::string imagesFolder;  // normalised, relative
  std::string_view skeletonText;
  // For 3.8, what is staged instead of skeletonText: the whole document re-serialised with
  // "skeleton"."images" naming imagesFolder.
  std::optional<std::string> legacyJson;
  // In request order, up to the first image that fails a check that needs no decoding.
  std::vector<ImageToStage> images;
  // That image's error, reported where staging one image after the other would meet it: after
  // the images before it, and after its own bad data (imageData) when it failed a size limit.
  std::exception_ptr imageError;
  std::string_view imageData;
};

// Throws the message of the first check that fails, in the order of the request's fields; only
// an image's failure waits in the plan.
ConvertPlan readConvertRequest(const JsonValue& body);
std::string requireString(const JsonValue& object, const std::string& key);

}  // namespace connector
