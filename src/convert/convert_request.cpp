#include "convert/convert_request.hpp"

#include <optional>
#include <stdexcept>
#include <string>

#include "encoding/codecs.hpp"
#include "encoding/json_parser.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

constexpr std::size_t kMaxSkeletonBytes = 64u * 1'048'576u;
constexpr std::size_t kMaxImageBytes = 32u * 1'048'576u;
constexpr std::size_t kMaxTotalImageBytes = 128u * 1'048'576u;
constexpr const char* kDefaultImagesFolder = "images";

// The member's text without copying it: the skeleton and the image data can be tens of megabytes.
const std::string& stringMember(const JsonValue& object, const std::string& key) {
  const JsonValue* member = object.isObject() ? object.find(key) : nullptr;
  if (member == nullptr || !member->isString()) {
    throw std::runtime_error("连接器请求缺少字段：" + key);
  }
  return member->asString();
}

void checkEnvelope(const JsonValue& body) {
  const JsonValue* schema = body.isObject() ? body.find("schemaVersion") : nullptr;
  if (schema == nullptr || !schema->isNumber() || schema->asNumber() != 1.0) {
    throw std::runtime_error("不支持的连接器请求格式");
  }
}

JsonValue parseSkeleton(const std::string& text) {
  if (text.size() > kMaxSkeletonBytes) throw std::runtime_error("Spine JSON 不能超过 64MB");
  try {
    return parseJson(text);
  } catch (const std::runtime_error&) {
    throw std::runtime_error("Spine JSON 格式无效");
  }
}

// "skeleton" must be an object holding a string "spine".
const JsonValue& skeletonMember(const JsonValue& document) {
  const JsonValue* skeleton = document.isObject() ? document.find("skeleton") : nullptr;
  const JsonValue* spine = skeleton != nullptr && skeleton->isObject() ? skeleton->find("spine") : nullptr;
  if (spine == nullptr || !spine->isString()) throw std::runtime_error("JSON 中缺少 Spine 版本");
  return *skeleton;
}

std::string imagesFolderOf(const JsonValue& skeleton) {
  const JsonValue* images = skeleton.find("images");
  if (images != nullptr && images->isString() && !images->asString().empty()) {
    return checkRelativePath(images->asString(), "Spine 图片");
  }
  return checkRelativePath(kDefaultImagesFolder, "Spine 图片");
}

std::string_view bytesOf(const std::vector<std::uint8_t>& data) {
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

// Decodes, checks, writes and keeps each image in request order.
std::vector<ArchiveEntry> stageImages(const JsonValue& body, const std::filesystem::path& folderPath,
                                      const std::string& folder) {
  std::vector<ArchiveEntry> entries;
  const JsonValue* images = body.find("images");
  if (images == nullptr || !images->isArray()) return entries;
  entries.reserve(images->asArray().size());
  std::size_t total = 0;
  for (const JsonValue& image : images->asArray()) {
    const std::string imagePath = checkRelativePath(stringMember(image, "path"), "图片");
    std::vector<std::uint8_t> data = decodeBase64(stringMember(image, "dataBase64"));
    if (data.size() > kMaxImageBytes) throw std::runtime_error("单张图片不能超过 32MB");
    total += data.size();
    if (total > kMaxTotalImageBytes) throw std::runtime_error("图片总大小不能超过 128MB");
    const std::filesystem::path target = folderPath / pathFromUtf8(imagePath);
    ConversionWorkspace::ensureDirectories(target.parent_path());
    ConversionWorkspace::writeFile(target, bytesOf(data), "无法写入临时文件");
    entries.push_back(ArchiveEntry{folder + "/" + imagePath, std::move(data)});
  }
  return entries;
}

}  // namespace

std::string requireString(const JsonValue& object, const std::string& key) {
  return stringMember(object, key);
}

ConvertRequest decodeConvertRequest(const JsonValue& body) {
  checkEnvelope(body);
  const std::string& skeletonText = stringMember(body, "skeletonJson");
  std::optional<JsonValue> document = parseSkeleton(skeletonText);
  const JsonValue& skeleton = skeletonMember(*document);
  std::string spineVersion = checkSpineVersion(skeleton.find("spine")->asString());
  const JsonValue* requested = body.find("spineVersion");
  if (requested != nullptr && requested->isString() &&
      checkSpineVersion(requested->asString()) != spineVersion) {
    throw std::runtime_error("请求版本与 JSON 版本不一致");
  }
  const std::string folder = imagesFolderOf(skeleton);
  std::string projectName = sanitizeProjectName(stringMember(body, "projectName"));

  ConversionWorkspace workspace = ConversionWorkspace::create();
  const std::filesystem::path& directory = workspace.directory();
  std::filesystem::path jsonPath = directory / pathFromUtf8(projectName + ".json");
  std::filesystem::path projectPath = directory / pathFromUtf8(projectName + ".spine");

  if (spineVersion == "3.8") {
    // Spine 3.8 resolves the images against this member, so it must name the cleaned folder.
    (*document)["skeleton"]["images"] = folder;
    const std::string staged = toJsonText(*document, 2) + "\n";
    document.reset();
    ConversionWorkspace::writeFile(jsonPath, staged, "无法写入 Spine JSON 临时文件");
  } else {
    document.reset();  // the parsed tree is several times the text; drop it before the images
    ConversionWorkspace::writeFile(jsonPath, skeletonText, "无法写入 Spine JSON 临时文件");
  }

  const std::filesystem::path folderPath = directory / pathFromUtf8(folder);
  ConversionWorkspace::ensureDirectories(folderPath);
  std::vector<ArchiveEntry> images = stageImages(body, folderPath, folder);

  return ConvertRequest{std::move(workspace), std::move(jsonPath), std::move(projectPath),
                        std::move(projectName), std::move(spineVersion), std::move(images)};
}

}  // namespace connector
