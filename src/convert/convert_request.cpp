#include "convert/convert_request.hpp"

#include <exception>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/image_staging.hpp"
#include "encoding/base64.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

// Room for the whole archive: every image at its decoded size, its two headers and names, and a
// project file of about the skeleton's size in front. Only what is written becomes resident, so
// a generous guess costs nothing.
std::size_t archiveCapacity(const std::vector<ImageToStage>& images, std::size_t skeletonSize) {
  constexpr std::size_t kHeadersPerEntry = 30 + 46;
  std::size_t size = 22 + kHeadersPerEntry + 2 * 256 + 1'048'576 + skeletonSize;
  for (const ImageToStage& image : images)
    size += kHeadersPerEntry + 2 * image.entryName.size() + image.size;
  return size;
}

}  // namespace

ConvertRequest stageConvertRequest(ConvertPlan plan) {
  ConversionWorkspace workspace = ConversionWorkspace::create();
  const std::filesystem::path& directory = workspace.directory();
  std::filesystem::path jsonPath = directory / pathFromUtf8(plan.projectName + ".json");
  std::filesystem::path projectPath = directory / pathFromUtf8(plan.projectName + ".spine");
  const std::string_view json = plan.legacyJson ? *plan.legacyJson : plan.skeletonText;
  ConversionWorkspace::writeFile(jsonPath, json, "无法写入 Spine JSON 临时文件");
  plan.legacyJson.reset();

  const std::filesystem::path folderPath = directory / pathFromUtf8(plan.imagesFolder);
  ConversionWorkspace::ensureDirectories(folderPath);
  StoreZipBuilder images;
  images.reserve(archiveCapacity(plan.images, plan.skeletonText.size()));
  stageImages(plan.images, folderPath, images);
  // The image that failed a check ends staging here, as if the images came one after the other.
  checkBase64(plan.imageData);
  if (plan.imageError) std::rethrow_exception(plan.imageError);

  return ConvertRequest{std::move(workspace),         std::move(jsonPath),
                        std::move(projectPath),       std::move(plan.projectName),
                        std::move(plan.spineVersion), std::move(images)};
}

ConvertRequest decodeConvertRequest(const JsonValue& body) {
  return stageConvertRequest(readConvertRequest(body));
}

}  // namespace connector
