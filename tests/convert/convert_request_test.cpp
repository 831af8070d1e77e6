#include "convert/convert_request.hpp"

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "convert/convert_plan.hpp"
#include "convert/request_rules.hpp"
#include "convert/store_zip_builder.hpp"
#include "convert_test_support.hpp"
#include "encoding/json_parser.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;
using test::errorOf;
using test::requestBody;
using test::skeletonText;

// The failure of decoding body. The endpoint hands over a body parsed in place, whose plain
// strings are views into the request text: that body must fail exactly alike.
std::string decodeError(const JsonValue& body) {
  const std::string error = errorOf([&] { decodeConvertRequest(body); });
  const std::string text = toJsonText(body, -1);
  EXPECT_EQ(errorOf([&] { decodeConvertRequest(parseJsonInPlace(text)); }), error)
      << "parsed in place";
  return error;
}

std::vector<std::string> entryNames(const ConvertRequest& request) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < request.images.entryCount(); ++i)
    names.push_back(request.images.entryName(i));
  return names;
}

std::string fileText(const ConvertRequest& request, std::string_view relative) {
  return test::readWholeFile(request.workspace.directory() / pathFromUtf8(relative));
}

TEST(DecodeConvertRequest, Envelope) {
  test::PrivateTemp temp;
  const JsonValue valid = requestBody(skeletonText("4.2.43"));

  JsonValue text = valid;
  text["schemaVersion"] = "1";
  JsonValue two = valid;
  two["schemaVersion"] = 2;
  JsonValue missing = valid;
  missing.makeObject().erase("schemaVersion");
  JsonValue array = JsonArray{valid};
  for (const JsonValue* body : {&text, &two, &missing, &array}) {
    EXPECT_EQ(decodeError(*body), "不支持的连接器请求格式");
  }
  EXPECT_EQ(decodeError(JsonValue()), "不支持的连接器请求格式");

  JsonValue skeletonNumber = valid;
  skeletonNumber["skeletonJson"] = 5;
  EXPECT_EQ(decodeError(skeletonNumber), "连接器请求缺少字段：skeletonJson");
  JsonValue noName = valid;
  noName.makeObject().erase("projectName");
  EXPECT_EQ(decodeError(noName), "连接器请求缺少字段：projectName");

  JsonValue oneDotZero =
      parseJson(R"({"schemaVersion":1.0,"skeletonJson":"{\"skeleton\":{\"spine\":\"4.2\"}}",)"
                R"("projectName":"p","extra":[1,2]})");
  const ConvertRequest request = decodeConvertRequest(oneDotZero);
  EXPECT_EQ(request.spineVersion, "4.2");
  EXPECT_TRUE((request.images.entryCount() == 0));
  EXPECT_TRUE(temp.leftovers().size() == 1);  // only the returned workspace
}

TEST(DecodeConvertRequest, RequireString) {
  JsonValue object;
  object["s"] = "text";
  object["n"] = 1;
  EXPECT_EQ(requireString(object, "s"), "text");
  EXPECT_EQ(errorOf([&] { requireString(object, "n"); }), "连接器请求缺少字段：n");
  EXPECT_EQ(errorOf([&] { requireString(object, "x"); }), "连接器请求缺少字段：x");
  EXPECT_EQ(errorOf([&] { requireString(JsonValue("s"), "s"); }), "连接器请求缺少字段：s");
}

TEST(CheckSpineVersion, Table) {
  const std::pair<const char*, const char*> accepted[] = {
      {"4.2.43", "4.2"}, {" 4.1 ", "4.1"}, {"3.8", "3.8"},           {"3.8.99", "3.8"},
      {"4.0.0", "4.0"},  {"4.3", "4.3"},   {"\t\r\n4.2\v\f", "4.2"},
  };
  for (const auto& [input, expected] : accepted)
    EXPECT_EQ(checkSpineVersion(input), expected) << input;
  const char* refused[] = {"4.4.0", "4.2.1.1", "4.2-beta", " 4.4 ", "3.7",
                           "4.2.",  "",        "v4.2",     "4.10",  "4.2a"};
  for (const char* input : refused) {
    EXPECT_EQ(errorOf([&] { checkSpineVersion(input); }),
              std::string("不支持的 Spine 版本：") + input);
  }
}

TEST(DecodeConvertRequest, Versions) {
  test::PrivateTemp temp;
  EXPECT_EQ(decodeConvertRequest(requestBody(skeletonText("4.2.43"))).spineVersion, "4.2");
  EXPECT_EQ(decodeConvertRequest(requestBody(skeletonText(" 4.1 "))).spineVersion, "4.1");
  EXPECT_EQ(decodeError(requestBody(skeletonText("4.4.0"))), "不支持的 Spine 版本：4.4.0");

  JsonValue same = requestBody(skeletonText("4.2.43"));
  same["spineVersion"] = "4.2";
  EXPECT_EQ(decodeConvertRequest(same).spineVersion, "4.2");
  JsonValue differs = same;
  differs["spineVersion"] = "4.1";
  EXPECT_EQ(decodeError(differs), "请求版本与 JSON 版本不一致");
  JsonValue unsupported = same;
  unsupported["spineVersion"] = " 5.0";
  EXPECT_EQ(decodeError(unsupported), "不支持的 Spine 版本： 5.0");
  JsonValue number = same;
  number["spineVersion"] = 4.1;
  EXPECT_EQ(decodeConvertRequest(number).spineVersion, "4.2");

  const char* noVersion[] = {
      R"({"skeleton":"4.2"})", R"({"skeleton":{"spine":4.2}})",     R"({"skeleton":{}})",
      R"({"spine":"4.2"})",    R"([{"skeleton":{"spine":"4.2"}}])",
  };
  for (const char* skeleton : noVersion) {
    EXPECT_EQ(decodeError(requestBody(skeleton)), "JSON 中缺少 Spine 版本") << skeleton;
  }
  EXPECT_EQ(decodeError(requestBody("\xEF\xBB\xBF" + skeletonText("4.2"))), "Spine JSON 格式无效");
  EXPECT_EQ(decodeError(requestBody("{\"skeleton\":")), "Spine JSON 格式无效");
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(DecodeConvertRequest, SkeletonIsCheckedWholeButOnlyItsSkeletonMemberRead) {
  test::PrivateTemp temp;
  // The members read follow the full tree's rule: the last of a repeated key wins.
  const std::pair<const char*, const char*> cases[] = {
      {R"({"skeleton":{"spine":"4.2"},"skeleton":{"images":"x"}})", "JSON 中缺少 Spine 版本"},
      {R"({"skeleton":{"spine":"4.2","spine":3}})", "JSON 中缺少 Spine 版本"},
      {R"({"skeleton":{"spine":"9"},"skeleton":{"spine":"4.1","images":"../up"}})",
       "Spine 图片路径不能超出工程目录"},
      // Faults anywhere else in the document still make it invalid.
      {R"({"skeleton":{"spine":"4.2"},"bones":[{"x":1e400}]})", "Spine JSON 格式无效"},
      {R"({"skeleton":{"spine":"4.2"},"bones":[{"x":1,}]})", "Spine JSON 格式无效"},
      {R"({"skeleton":{"spine":"4.2"},"s":"\q"})", "Spine JSON 格式无效"},
      {R"({"skeleton":{"spine":"4.2"}} [])", "Spine JSON 格式无效"},
  };
  for (const auto& [skeleton, expected] : cases) {
    EXPECT_EQ(decodeError(requestBody(skeleton)), expected) << skeleton;
  }
  const ConvertRequest request = decodeConvertRequest(requestBody(
      R"({"skeleton":{"spine":"0"},"skeleton":{"spine":"4.3.1","images":"a"},"n":[1.5,-2e-3]})",
      "H", {{"p.png", "P"}}));
  EXPECT_EQ(request.spineVersion, "4.3");
  EXPECT_EQ(entryNames(request), std::vector<std::string>{"a/p.png"});
  EXPECT_EQ(decodeError(requestBody(R"({"skeleton":{"spine":"4.2"},"d":[)" +
                                    std::string(1001, '[') + std::string(1001, ']') + "]}")),
            "Spine JSON 格式无效");
}

TEST(DecodeConvertRequest, BodyParsedInPlaceStagesTheSameBytes) {
  test::PrivateTemp temp;
  for (const std::string& skeleton :
       {std::string(R"({"skeleton":{"spine":"3.8.1","images":"i"},"z":["\u00e9",1]})"),
        std::string("{\"skeleton\":{\"spine\":\"4.2\"},\r\n\"z\":\"\\\"q\\\"\"}")}) {
    const JsonValue owned =
        requestBody(skeleton, "H", {{"a.png", std::string("\0\xFF\x89PNG", 6)}, {"b/c.png", ""}});
    const std::string text = toJsonText(owned, -1);
    const ConvertRequest expected = decodeConvertRequest(owned);
    const ConvertRequest inPlace = decodeConvertRequest(parseJsonInPlace(text));
    EXPECT_EQ(test::readWholeFile(inPlace.jsonPath), test::readWholeFile(expected.jsonPath));
    EXPECT_EQ(entryNames(inPlace), entryNames(expected));
    for (std::size_t i = 0; i < 2; ++i)
      EXPECT_EQ(inPlace.images.entryData(i), expected.images.entryData(i));
    EXPECT_EQ(inPlace.images.entryData(0), std::string("\0\xFF\x89PNG", 6));
    EXPECT_EQ(
        fileText(inPlace, skeleton.find("3.8") != std::string::npos ? "i/a.png" : "images/a.png"),
        std::string("\0\xFF\x89PNG", 6));
  }
}

TEST(CheckRelativePath, Table) {
  const std::pair<const char*, const char*> accepted[] = {
      {"images", "images"},
      {"./images/", "images"},
      {"a/../b", "b"},
      {"sub\\a.png", "sub/a.png"},
      {".", "."},
      {"././x", "x"},
      {"a//b///c", "a/b/c"},
      {"a/./b/.", "a/b"},
      {"a/b/..", "a/"},
      {"a/..", "."},
      {"a/b/../../c", "c"},
      {"特效/图.png", "特效/图.png"},
      {"..a/b", "..a/b"},
  };
  for (const auto& [input, expected] : accepted)
    EXPECT_EQ(checkRelativePath(input, "L"), expected) << input;

  const std::pair<std::string, const char*> refused[] = {
      {"", "L路径无效"},
      {"./", "L路径无效"},
      {"/", "L路径无效"},
      {"\\\\", "L路径无效"},
      {std::string("a\0b", 3), "L路径无效"},
      {"1:x", "L路径无效"},  // a drive to Windows, though not an ASCII letter
      {"a/C:x", "L路径无效"},
      {"..a/b..", "L路径无效"},
      {"/x", "L必须使用相对路径"},
      {"\\x", "L必须使用相对路径"},
      {"//server/share", "L必须使用相对路径"},
      {"C:x", "L必须使用相对路径"},
      {"c:\\x", "L必须使用相对路径"},
      {"Z:", "L必须使用相对路径"},
      {"/../x", "L必须使用相对路径"},
      {"..", "L路径不能超出工程目录"},
      {"../images", "L路径不能超出工程目录"},
      {"a/../../b.png", "L路径不能超出工程目录"},
      {"a\\..\\..", "L路径不能超出工程目录"},
      // What the rule adds (NUL, text that is not UTF-8) comes after its own checks.
      {std::string("/a\0b", 4), "L必须使用相对路径"},
      {std::string("../\0", 4), "L路径不能超出工程目录"},
      {"/\xFF", "L必须使用相对路径"},
      {"\xED\xB0\x80.png", "L路径无效"},  // a lone surrogate, as an escape in JSON leaves it
      {"a/\xC3", "L路径无效"},
  };
  for (const auto& [input, expected] : refused) {
    EXPECT_EQ(errorOf([&] { checkRelativePath(input, "L"); }), expected) << input;
  }
}

TEST(DecodeConvertRequest, ImagesFolderAndPaths) {
  test::PrivateTemp temp;
  {
    const ConvertRequest request = decodeConvertRequest(requestBody(
        skeletonText("4.2", "./images/"), "Hero", {{"sub\\a.png", "A"}, {"b.png", "B"}}));
    EXPECT_EQ(entryNames(request), (std::vector<std::string>{"images/sub/a.png", "images/b.png"}));
    EXPECT_EQ(fileText(request, "images/sub/a.png"), "A");
    EXPECT_EQ(fileText(request, "images/b.png"), "B");
    EXPECT_EQ(request.images.entryData(0), "A");
  }
  EXPECT_EQ(entryNames(decodeConvertRequest(
                requestBody(skeletonText("4.2", "a/../b"), "H", {{"x", "1"}}))),
            std::vector<std::string>{"b/x"});
  EXPECT_EQ(
      entryNames(decodeConvertRequest(requestBody(skeletonText("4.2", ""), "H", {{"x", "1"}}))),
      std::vector<std::string>{"images/x"});
  {
    const ConvertRequest request =
        decodeConvertRequest(requestBody(skeletonText("4.2", "."), "H", {{"x.png", "1"}}));
    EXPECT_EQ(entryNames(request), std::vector<std::string>{"./x.png"});
    EXPECT_EQ(fileText(request, "x.png"), "1");
    EXPECT_EQ(normalizeEntryName(request.images.entryName(0)), "x.png");
  }
  const std::pair<std::string, const char*> badFolders[] = {
      {"../images", "Spine 图片路径不能超出工程目录"}, {"/x", "Spine 图片必须使用相对路径"},
      {"C:x", "Spine 图片必须使用相对路径"},           {"./", "Spine 图片路径无效"},
      {"\xED\xB0\x80", "Spine 图片路径无效"},
  };
  for (const auto& [folder, expected] : badFolders) {
    EXPECT_EQ(decodeError(requestBody(skeletonText("4.2", folder))), expected) << folder;
  }
  const std::pair<std::string, const char*> badImages[] = {
      {"", "图片路径无效"},
      {"./", "图片路径无效"},
      {"a/../../b.png", "图片路径不能超出工程目录"},
      {"/etc/x.png", "图片必须使用相对路径"},
      {"ok/\xFF.png", "图片路径无效"},
  };
  for (const auto& [path, expected] : badImages) {
    EXPECT_EQ(decodeError(requestBody(skeletonText("4.2"), "H", {{path, "x"}})), expected) << path;
  }
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(DecodeConvertRequest, ProjectNames) {
  test::PrivateTemp temp;
  const std::pair<const char*, const char*> cases[] = {{"", "Glimmer"},
                                                       {" 特效 ", "特效"},
                                                       {"a/b", "a_b"},
                                                       {"a\xFF"
                                                        "b",
                                                        "a_b"},
                                                       {"\xED\xB0\x80", "___"}};
  for (const auto& [name, expected] : cases) {
    const ConvertRequest request = decodeConvertRequest(requestBody(skeletonText("4.2"), name));
    EXPECT_EQ(request.projectName, expected);
    EXPECT_EQ(request.jsonPath,
              request.workspace.directory() / pathFromUtf8(std::string(expected) + ".json"));
    EXPECT_EQ(request.projectPath,
              request.workspace.directory() / pathFromUtf8(std::string(expected) + ".spine"));
    EXPECT_TRUE(fs::is_regular_file(request.jsonPath));
    EXPECT_FALSE(fs::exists(request.projectPath));
  }
}

TEST(DecodeConvertRequest, DuplicateImagePathsKeepBothEntries) {
  test::PrivateTemp temp;
  const ConvertRequest request = decodeConvertRequest(
      requestBody(skeletonText("4.2"), "H", {{"a.png", "first"}, {"./a.png", "second"}}));
  ASSERT_EQ(entryNames(request), (std::vector<std::string>{"images/a.png", "images/a.png"}));
  EXPECT_EQ(request.images.entryData(0), "first");
  EXPECT_EQ(request.images.entryData(1), "second");
  EXPECT_EQ(fileText(request, "images/a.png"), "second");
}

TEST(DecodeConvertRequest, FailuresAfterTheWorkspaceExistsLeaveNothing) {
  test::PrivateTemp temp;
  const JsonValue good =
      requestBody(skeletonText("4.2"), "H", {{"a.png", "AAA"}, {"b.png", "BBB"}});
  const auto withSecond = [&](const char* key, JsonValue value) {
    JsonValue body = good;
    (*body["images"].arrayIf())[1][key] = std::move(value);
    return body;
  };
  JsonValue noData = good;
  (*noData["images"].arrayIf())[1].makeObject().erase("dataBase64");
  JsonValue notObject = good;
  (*notObject["images"].arrayIf())[1] = "b.png";
  JsonValue fileInTheWay = good;  // a folder where the first image already is a file
  (*fileInTheWay["images"].arrayIf())[1]["path"] = "a.png/b.png";
  const std::pair<JsonValue, const char*> cases[] = {
      {noData, "连接器请求缺少字段：dataBase64"},
      {notObject, "连接器请求缺少字段：path"},
      {withSecond("path", 7), "连接器请求缺少字段：path"},
      {withSecond("dataBase64", "QQ="), "图片数据格式无效"},
      {withSecond("dataBase64", "QU JD"), "图片数据格式无效"},
      {withSecond("path", "../x"), "图片路径不能超出工程目录"},
  };
  for (const auto& [body, expected] : cases) {
    EXPECT_EQ(decodeError(body), expected);
    EXPECT_TRUE(temp.leftovers().empty()) << expected;
  }
  EXPECT_NE(decodeError(fileInTheWay), "(no error)");
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(DecodeConvertRequest, StagedSkeletonText) {
  test::PrivateTemp temp;
  {
    const std::string original =
        R"({ "skeleton" : {"spine":"3.8.99","images":"./imgs\\"}, "z":[1, 2.5]})";
    const ConvertRequest request =
        decodeConvertRequest(requestBody(original, "Old", {{"p.png", "P"}}));
    JsonValue expected = parseJson(original);
    expected["skeleton"]["images"] = "imgs";
    EXPECT_EQ(test::readWholeFile(request.jsonPath), toJsonText(expected, 2) + "\n");
    EXPECT_EQ(entryNames(request), std::vector<std::string>{"imgs/p.png"});
  }
  {
    // 3.8 without an images member gets one.
    const ConvertRequest request =
        decodeConvertRequest(requestBody(R"({"skeleton":{"spine":"3.8"}})"));
    EXPECT_EQ(parseJson(test::readWholeFile(request.jsonPath))
                  .find("skeleton")
                  ->find("images")
                  ->asString(),
              "images");
  }
  {
    const std::string original =
        "{ \"skeleton\" : {\"spine\":\"4.1.0\",\"images\":\"./imgs/\"},\r\n\"z\":[1.50]}";
    const ConvertRequest request = decodeConvertRequest(requestBody(original));
    EXPECT_EQ(test::readWholeFile(request.jsonPath), original);
    EXPECT_TRUE(fs::is_directory(request.workspace.directory() / "imgs"));
  }
}

// Reading needs no disk: with the temporary folder gone it gives the plan, and only staging
// fails. An image's failure waits in the plan, behind the images before it.
TEST(ReadConvertRequest, NeedsNoDiskAndLeavesAnImagesFailureToStaging) {
  test::PrivateTemp temp;
  test::ScopedEnvironment gone;
  for (const char* name : {"TMPDIR", "TMP", "TEMP"})
    gone.set(name, pathToUtf8(temp.path() / "gone"));
  const std::string tooLarge(((32u << 20) / 3 + 1) * 4, 'A');
  const struct {
    std::vector<std::pair<std::string, std::string>> images;  // path, Base64
    std::vector<std::string> read;
    const char* error;
  } cases[] = {
      {{{"a.png", "QQ=="}, {"s\\b", "QkI="}}, {"art/a.png", "art/s/b"}, "(no error)"},
      {{{"a.png", "QQ=="}, {"../b", "QkI="}, {"c", "Q"}},
       {"art/a.png"},
       "图片路径不能超出工程目录"},
      {{{"a.png", "QQ="}, {"/b", "QkI="}}, {}, "图片数据格式无效"},
      {{{"a.png", "QQ=="}, {"b", tooLarge}, {"c", "Q"}}, {"art/a.png"}, "单张图片不能超过 32MB"},
  };
  for (const auto& [images, read, error] : cases) {
    JsonValue body = requestBody(skeletonText("4.2", "./art"), " P ");
    for (const auto& [path, base64] : images)
      body["images"].arrayIf()->push_back(JsonObject{{"path", path}, {"dataBase64", base64}});
    const ConvertPlan plan = readConvertRequest(body);
    EXPECT_EQ(plan.spineVersion + "|" + plan.projectName + "|" + plan.imagesFolder, "4.2|P|art");
    EXPECT_FALSE(plan.legacyJson.has_value());
    std::vector<std::string> names;
    for (const ImageToStage& image : plan.images) names.push_back(image.entryName);
    EXPECT_EQ(names, read) << error;
    EXPECT_EQ(errorOf([&] {
                if (plan.imageError) std::rethrow_exception(plan.imageError);
              }),
              error);
    const bool sizeFailed = std::string_view(error) == "单张图片不能超过 32MB";
    EXPECT_EQ(plan.imageData, sizeFailed ? std::string_view(tooLarge) : std::string_view());
    EXPECT_NE(errorOf([&] { decodeConvertRequest(body); }), "(no error)");
  }
  // A 3.8 skeleton the request does not declare, its version anywhere in the text.
  const std::string legacy = R"({"bones":[{"x":1.5}],"skeleton":{"spine":" 3.8.99"},"z":"\u00e9"})";
  const ConvertPlan plan = readConvertRequest(requestBody(legacy));
  JsonValue expected = parseJson(legacy);
  expected["skeleton"]["images"] = "images";
  EXPECT_EQ(plan.legacyJson, toJsonText(expected, 2) + "\n");
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(DecodeConvertRequest, ImagesThatAreNotAnArrayMeanNone) {
  test::PrivateTemp temp;
  JsonValue body = requestBody(skeletonText("4.2", "art/sprites"));
  body["images"] = JsonObject{{"path", "a.png"}, {"dataBase64", "QQ=="}};
  const ConvertRequest request = decodeConvertRequest(body);
  EXPECT_TRUE((request.images.entryCount() == 0));
  EXPECT_TRUE(fs::is_directory(request.workspace.directory() / "art" / "sprites"));
  body.makeObject().erase("images");
  EXPECT_TRUE((decodeConvertRequest(body).images.entryCount() == 0));
}

}  // namespace
}  // namespace connector
