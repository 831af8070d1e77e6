#include "convert/convert_request.hpp"

#include <algorithm>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert/image_staging.hpp"
#include "convert/project_name.hpp"
#include "convert/request_rules.hpp"
#include "encoding/base64.hpp"
#include "encoding/json_parser.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

constexpr std::size_t kMaxSkeletonBytes = 64u * 1'048'576u;
constexpr std::size_t kMaxImageBytes = 32u * 1'048'576u;
constexpr std::size_t kMaxTotalImageBytes = 128u * 1'048'576u;
constexpr const char* kDefaultImagesFolder = "images";

// The member's text without copying it: the skeleton and the image data can be tens of megabytes,
// and the image data stays a view into the request body.
std::string_view stringMember(const JsonValue& object, const std::string& key) {
  const JsonValue* member = object.isObject() ? object.find(key) : nullptr;
  if (member == nullptr || !member->isString()) {
    throw std::runtime_error("连接器请求缺少字段：" + key);
  }
  return member->stringView();
}

void checkEnvelope(const JsonValue& body) {
  const JsonValue* schema = body.isObject() ? body.find("schemaVersion") : nullptr;
  if (schema == nullptr || !schema->isNumber() || schema->asNumber() != 1.0) {
    throw std::runtime_error("不支持的连接器请求格式");
  }
}

[[noreturn]] void failSkeletonFormat() { throw std::runtime_error("Spine JSON 格式无效"); }

// Checks the whole skeleton text; builds the whole tree, or only its "skeleton" member.
JsonValue parseSkeleton(std::string_view text, bool whole) {
  if (text.size() > kMaxSkeletonBytes) throw std::runtime_error("Spine JSON 不能超过 64MB");
  static constexpr std::string_view kRead[] = {"skeleton"};
  try {
    return whole ? parseJson(text) : parseJsonMembers(text, kRead);
  } catch (const std::runtime_error&) {
    failSkeletonFormat();
  }
}

// "skeleton" must be an object holding a string "spine".
const JsonValue& skeletonMember(const JsonValue& document) {
  const JsonValue* skeleton = document.isObject() ? document.find("skeleton") : nullptr;
  const JsonValue* spine =
      skeleton != nullptr && skeleton->isObject() ? skeleton->find("spine") : nullptr;
  if (spine == nullptr || !spine->isString()) throw std::runtime_error("JSON 中缺少 Spine 版本");
  return *skeleton;
}

std::string imagesFolderOf(const JsonValue& skeleton) {
  const JsonValue* images = skeleton.find("images");
  if (images != nullptr && images->isString() && !images->stringView().empty()) {
    return checkRelativePath(images->stringView(), "Spine 图片");
  }
  return checkRelativePath(kDefaultImagesFolder, "Spine 图片");
}

// A 3.8 skeleton is staged as its whole tree re-serialised; later versions need only the
// "skeleton" member, and the rest can be tens of megabytes of numbers.
bool requestsLegacyVersion(const JsonValue& body) {
  const JsonValue* requested = body.find("spineVersion");
  if (requested == nullptr || !requested->isString()) return false;
  try {
    return checkSpineVersion(requested->stringView()) == "3.8";
  } catch (const std::runtime_error&) {
    return false;  // its own check, in its turn, reports it
  }
}

// Spine 3.8 resolves the images against "skeleton"."images", so the staged document is the whole
// tree re-serialised with that member naming the cleaned folder.
std::string stagedLegacyText(JsonValue document, const std::string& folder) {
  document["skeleton"]["images"] = folder;
  return toJsonText(document, 2) + "\n";
}

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

// Checks, decodes, writes and keeps each image as if one after the other in request order. The
// checks that need no decoding come first, for all images: the first image to fail one is
// where staging ends, with its error reported once the images before it are staged, after its
// own bad data if it has any (decoding comes before the limits). Nothing after it is decoded.
void checkAndStageImages(const JsonValue& body, const std::filesystem::path& folderPath,
                         const std::string& folder, std::size_t skeletonSize,
                         StoreZipBuilder& entries) {
  std::vector<ImageToStage> staged;
  std::exception_ptr stop;
  std::string_view stopData;  // the failing image's data when its error comes after its decoding
  const JsonValue* images = body.find("images");
  if (images != nullptr && images->isArray()) {
    std::size_t total = 0;
    for (const JsonValue& image : images->asArray()) {
      ImageToStage next;
      try {
        next.path = checkRelativePath(stringMember(image, "path"), "图片");
        next.base64 = stringMember(image, "dataBase64");
        next.size = base64DecodedSize(next.base64);
        next.entryName = folder + "/" + next.path;
      } catch (...) {
        stop = std::current_exception();
        break;
      }
      const char* limit = nullptr;
      if (next.size > kMaxImageBytes) {
        limit = "单张图片不能超过 32MB";
      } else if ((total += next.size) > kMaxTotalImageBytes) {
        limit = "图片总大小不能超过 128MB";
      }
      if (limit != nullptr) {
        stop = std::make_exception_ptr(std::runtime_error(limit));
        stopData = next.base64;
        break;
      }
      staged.push_back(std::move(next));
    }
  }
  entries.reserve(archiveCapacity(staged, skeletonSize));
  stageImages(staged, folderPath, entries);
  checkBase64(stopData);
  if (stop) std::rethrow_exception(stop);
}

}  // namespace

std::string requireString(const JsonValue& object, const std::string& key) {
  return std::string(stringMember(object, key));
}

ConvertRequest decodeConvertRequest(const JsonValue& body) {
  checkEnvelope(body);
  const std::string_view skeletonText = stringMember(body, "skeletonJson");
  bool whole = requestsLegacyVersion(body);
  std::optional<JsonValue> document = parseSkeleton(skeletonText, whole);
  std::string spineVersion =
      checkSpineVersion(skeletonMember(*document).find("spine")->stringView());
  const JsonValue* requested = body.find("spineVersion");
  if (requested != nullptr && requested->isString() &&
      checkSpineVersion(requested->stringView()) != spineVersion) {
    throw std::runtime_error("请求版本与 JSON 版本不一致");
  }
  const std::string folder = imagesFolderOf(skeletonMember(*document));
  if (spineVersion == "3.8" && !whole) {
    document = parseSkeleton(skeletonText, true);  // the request did not say 3.8; rare
    whole = true;
  }
  if (!whole) document.reset();
  std::string projectName = sanitizeProjectName(stringMember(body, "projectName"));

  ConversionWorkspace workspace = ConversionWorkspace::create();
  const std::filesystem::path& directory = workspace.directory();
  std::filesystem::path jsonPath = directory / pathFromUtf8(projectName + ".json");
  std::filesystem::path projectPath = directory / pathFromUtf8(projectName + ".spine");

  if (spineVersion == "3.8") {
    ConversionWorkspace::writeFile(jsonPath, stagedLegacyText(std::move(*document), folder),
                                   "无法写入 Spine JSON 临时文件");
  } else {
    ConversionWorkspace::writeFile(jsonPath, skeletonText, "无法写入 Spine JSON 临时文件");
  }

  const std::filesystem::path folderPath = directory / pathFromUtf8(folder);
  ConversionWorkspace::ensureDirectories(folderPath);
  document.reset();
  StoreZipBuilder images;
  checkAndStageImages(body, folderPath, folder, skeletonText.size(), images);

  return ConvertRequest{std::move(workspace),   std::move(jsonPath),     std::move(projectPath),
                        std::move(projectName), std::move(spineVersion), std::move(images)};
}

}  // namespace connector
