#include "convert/convert_plan.hpp"

#include <stdexcept>
#include <string>
#include <utility>

#include "convert/project_name.hpp"
#include "convert/request_rules.hpp"
#include "encoding/ascii.hpp"
#include "encoding/base64.hpp"
#include "encoding/json_parser.hpp"

namespace connector {
namespace {

constexpr std::size_t kMaxSkeletonBytes = 64u * 1'048'576u;
constexpr std::size_t kMaxImageBytes = 32u * 1'048'576u;
constexpr std::size_t kMaxTotalImageBytes = 128u * 1'048'576u;
constexpr const char* kDefaultImagesFolder = "images";

// The member's text without copying it: the skeleton and the image data can be tens of megabytes,
// and the image data stays a view into the request body.
std::string_view requiredText(const JsonValue* member, const std::string& key) {
  if (member == nullptr || !member->isString()) {
    throw std::runtime_error("连接器请求缺少字段：" + key);
  }
  return member->stringView();
}

// Whether a "skeleton" member may be a 3.8 one, whose whole document is staged: every version the
// rule reads as 3.8 starts so once trimmed. The rule itself runs on the member the parse keeps.
bool mayBeLegacy(const JsonValue& skeleton) {
  const JsonValue* spine = skeleton.find("spine");
  return spine != nullptr && trimAsciiWhitespace(spine->stringView()).starts_with("3.8");
}

// Checks the whole text in one parse, building its "skeleton" member, and the whole tree only
// for a 3.8 skeleton: the rest of a later one can be tens of megabytes of numbers.
JsonValue parseSkeleton(std::string_view text) {
  if (text.size() > kMaxSkeletonBytes) throw std::runtime_error("Spine JSON 不能超过 64MB");
  static constexpr std::string_view kRead[] = {"skeleton"};
  try {
    return parseJsonMembers(text, kRead, mayBeLegacy);
  } catch (const std::runtime_error&) {
    throw std::runtime_error("Spine JSON 格式无效");
  }
}

std::string imagesFolderOf(const JsonValue& skeleton) {
  const JsonValue* images = skeleton.find("images");
  if (images != nullptr && images->isString() && !images->stringView().empty()) {
    return checkRelativePath(images->stringView(), "Spine 图片");
  }
  return checkRelativePath(kDefaultImagesFolder, "Spine 图片");
}

// Spine 3.8 resolves the images against "skeleton"."images", so the staged document is the whole
// tree re-serialised with that member naming the cleaned folder.
std::string legacyText(JsonValue document, const std::string& folder) {
  document["skeleton"]["images"] = folder;
  return toJsonText(document, 2) + "\n";
}

// The checks of each image that need no decoding, in request order; the first image to fail one
// ends the list, and its error waits in the plan.
void readImages(const JsonValue* images, ConvertPlan& plan) {
  if (images == nullptr || !images->isArray()) return;
  std::size_t total = 0;
  for (const JsonValue& image : images->asArray()) {
    ImageToStage next;
    try {
      next.path = checkRelativePath(requiredText(image.find("path"), "path"), "图片");
      next.base64 = requiredText(image.find("dataBase64"), "dataBase64");
      next.size = base64DecodedSize(next.base64);
      next.entryName = plan.imagesFolder + "/" + next.path;
    } catch (...) {
      plan.imageError = std::current_exception();
      return;
    }
    const char* limit = nullptr;
    if (next.size > kMaxImageBytes) {
      limit = "单张图片不能超过 32MB";
    } else if ((total += next.size) > kMaxTotalImageBytes) {
      limit = "图片总大小不能超过 128MB";
    }
    if (limit != nullptr) {
      plan.imageError = std::make_exception_ptr(std::runtime_error(limit));
      plan.imageData = next.base64;  // decoding comes before the limits
      return;
    }
    plan.images.push_back(std::move(next));
  }
}

}  // namespace

std::string requireString(const JsonValue& object, const std::string& key) {
  return std::string(requiredText(object.find(key), key));
}

ConvertPlan readConvertRequest(const JsonValue& body) {
  const JsonValue* schema = body.find("schemaVersion");
  if (schema == nullptr || !schema->isNumber() || schema->asNumber() != 1.0) {
    throw std::runtime_error("不支持的连接器请求格式");
  }
  ConvertPlan plan;
  plan.skeletonText = requiredText(body.find("skeletonJson"), "skeletonJson");
  JsonValue document = parseSkeleton(plan.skeletonText);
  // "skeleton" must be an object holding a string "spine".
  const JsonValue* skeleton = document.find("skeleton");
  const JsonValue* spine = skeleton != nullptr ? skeleton->find("spine") : nullptr;
  if (spine == nullptr || !spine->isString()) throw std::runtime_error("JSON 中缺少 Spine 版本");
  plan.spineVersion = checkSpineVersion(spine->stringView());
  const JsonValue* requested = body.find("spineVersion");
  if (requested != nullptr && requested->isString() &&
      checkSpineVersion(requested->stringView()) != plan.spineVersion) {
    throw std::runtime_error("请求版本与 JSON 版本不一致");
  }
  plan.imagesFolder = imagesFolderOf(*skeleton);
  plan.projectName = sanitizeProjectName(requiredText(body.find("projectName"), "projectName"));
  if (plan.spineVersion == "3.8")
    plan.legacyJson = legacyText(std::move(document), plan.imagesFolder);
  readImages(body.find("images"), plan);
  return plan;
}

}  // namespace connector
