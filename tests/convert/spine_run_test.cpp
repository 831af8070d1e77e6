#include "convert/spine_run.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "convert_test_support.hpp"
#include "platform/text.hpp"
#include "support/spine_stub.hpp"

namespace connector {
namespace {

using test::errorOf;
using test::requestBody;
using test::skeletonText;

// The lines of the project file the test launcher writes: "cwd=..." then one "arg=..." per
// argument.
struct StubProject {
  std::string cwd;
  std::vector<std::string> args;
};

StubProject parseStubProject(const std::string& text) {
  StubProject project;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.starts_with("cwd=")) project.cwd = line.substr(4);
    if (line.starts_with("arg=")) project.args.push_back(line.substr(4));
    start = end + 1;
  }
  return project;
}

std::string separator() { return pathToUtf8(std::filesystem::path("a") / "b").substr(1, 1); }

TEST(RunSpineConversion, Version42PassesFullPathsAndPacksProjectThenImages) {
  test::PrivateTemp temp;
  JsonValue body =
      requestBody(skeletonText("4.2.43", "./art"), "特效 hero",
                  {{"b\\2.png", std::string("\x89PNG\r\n\x1a\n\0\xff", 10)}, {"a.png", ""}});
  const ConvertResult result = runSpineConversion(body, test::spineStubPath());
  EXPECT_EQ(result.editorVersion, "4.2.43");

  const auto files = test::readZip(result.archive);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].name, "特效 hero.spine");
  EXPECT_EQ(files[1].name, "art/b/2.png");
  EXPECT_EQ(files[1].data, std::string("\x89PNG\r\n\x1a\n\0\xff", 10));
  EXPECT_EQ(files[2].name, "art/a.png");
  EXPECT_EQ(files[2].data, "");

  ASSERT_TRUE(files[0].data.starts_with("glimmer-stub-project\n")) << files[0].data;
  const StubProject project = parseStubProject(files[0].data);
  const std::string workspace = project.cwd;
  EXPECT_TRUE(workspace.starts_with(pathToUtf8(temp.path()) + separator() + "glimmer-"))
      << workspace;
  const std::vector<std::string> expected = {
      "--update", "4.2.xx",
      "--input",  workspace + separator() + "特效 hero.json",
      "--output", workspace + separator() + "特效 hero.spine",
      "--import", "特效 hero"};
  EXPECT_EQ(project.args, expected);
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(RunSpineConversion, Version38PassesBareNamesInTheWorkspace) {
  test::PrivateTemp temp;
  JsonValue body = requestBody(skeletonText("3.8.99"), "Old", {{"x.png", "X"}});
  body["spineVersion"] = "3.8";
  const ConvertResult result = runSpineConversion(body, test::spineStubPath());
  EXPECT_EQ(result.editorVersion, "3.8.43");
  const auto files = test::readZip(result.archive);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].name, "Old.spine");
  EXPECT_EQ(files[1].name, "images/x.png");
  const StubProject project = parseStubProject(files[0].data);
  EXPECT_TRUE(project.cwd.starts_with(pathToUtf8(temp.path()) + separator() + "glimmer-"))
      << project.cwd;
  const std::vector<std::string> expected = {"--update", "3.8.xx",    "--input",  "Old.json",
                                             "--output", "Old.spine", "--import", "Old"};
  EXPECT_EQ(project.args, expected);
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(RunSpineConversion, EditorVersionFallsBackToThePattern) {
  test::PrivateTemp temp;
  const ConvertResult result = runSpineConversion(
      requestBody(skeletonText("4.1"), "stub-no-version"), test::spineStubPath());
  EXPECT_EQ(result.editorVersion, "4.1.xx");
  EXPECT_EQ(test::readZip(result.archive).at(0).name, "stub-no-version.spine");
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(RunSpineConversion, FailuresReportTheirMessageAndRemoveTheWorkspace) {
  test::PrivateTemp temp;
  const ProcessRunner shortRunner(std::chrono::milliseconds(500));
  const std::pair<const char*, const char*> cases[] = {
      {"stub-fail", "Spine 授权信息已隐藏\nERROR: cannot import skeleton"},
      {"stub-fail-silent", "Spine 命令执行失败"},
      {"stub-no-project", "Spine 未生成有效的工程文件"},
      {"stub-empty-project", "Spine 未生成有效的工程文件"},
      {"stub-hang", "Spine 转换超时"},
      {"stub-crash", "stub: crashing"},  // what it wrote before it died
  };
  for (const auto& [name, expected] : cases) {
    const JsonValue body = requestBody(skeletonText("4.2"), name, {{"a.png", "A"}});
    // Only the hanging launcher gets the short limit: a slow start elsewhere must not look like a
    // hang.
    const ProcessRunner runner = std::string(name) == "stub-hang" ? shortRunner : ProcessRunner();
    EXPECT_EQ(errorOf([&] { runSpineConversion(body, test::spineStubPath(), runner); }), expected);
    EXPECT_TRUE(temp.leftovers().empty()) << name;
  }

  const JsonValue body = requestBody(skeletonText("4.2"), "Hero", {{"a.png", "A"}});
  const std::string missing = pathToUtf8(temp.path() / "no-such-launcher.exe");
  EXPECT_EQ(errorOf([&] { runSpineConversion(body, missing); }),
            "无法启动 Spine.com，请检查路径和权限");
  EXPECT_TRUE(temp.leftovers().empty());

  // A request refused while decoding never starts the launcher.
  EXPECT_EQ(
      errorOf([&] { runSpineConversion(requestBody(skeletonText("4.4")), test::spineStubPath()); }),
      "不支持的 Spine 版本：4.4");
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(RunSpineConversion, StopRequestEndsSpineAndFailsTheConversion) {
  test::PrivateTemp temp;
  std::stop_source stop;
  std::jthread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop.request_stop();
  });
  // A launcher whose grandchild runs in the workspace too: the workspace goes only when both end.
  const JsonValue body = requestBody(skeletonText("4.2"), "stub-tree-hang", {{"a.png", "A"}});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(errorOf([&] { runSpineConversion(body, test::spineStubPath(), stop.get_token()); }),
            "连接器已停止，Spine 转换已取消");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_TRUE(temp.leftovers().empty());

  // Stopped before the launcher starts: the same failure, and nothing left.
  EXPECT_EQ(errorOf([&] {
              runSpineConversion(requestBody(skeletonText("4.2"), "Hero"), test::spineStubPath(),
                                 ProcessRunner(), stop.get_token());
            }),
            "连接器已停止，Spine 转换已取消");
  EXPECT_TRUE(temp.leftovers().empty());

  // Nothing is even written: with no temporary folder to write in, the stop is still what fails
  // the conversion, not the workspace.
  test::ScopedEnvironment noTemp;
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
    noTemp.set(name, pathToUtf8(temp.path() / "missing"));
  }
  EXPECT_EQ(errorOf([&] {
              runSpineConversion(requestBody(skeletonText("4.2"), "Hero"), test::spineStubPath(),
                                 ProcessRunner(), stop.get_token());
            }),
            "连接器已停止，Spine 转换已取消");
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(RedactSpineOutput, Table) {
  const std::pair<std::string, std::string> cases[] = {
      {"Licensed to: Someone\r\nERROR: x\r\n", "Spine 授权信息已隐藏\nERROR: x"},
      {"licensed TO: someone\nok", "Spine 授权信息已隐藏\nok"},
      {"Note: Licensed to: someone", "Note: Licensed to: someone"},
      {"ok\n Licensed to: someone", "ok\n Licensed to: someone"},
      {"Licensed to: A\rB\r\nnext", "Spine 授权信息已隐藏\nnext"},
      {"a\r\r\nb", "a\r\nb"},
      {" \t\n\v\f\r", ""},
      {"", ""},
      {"\n\n  first\n\nlast  \n", "first\n\nlast"},
      {"Licensed to:", "Spine 授权信息已隐藏"},
      {"Licensed to", "Licensed to"},
  };
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(redactSpineOutput(input), expected) << input;
}

TEST(FindEditorVersion, FirstStartingLineWins) {
  EXPECT_EQ(
      findEditorVersion("x\r\nStarting:  Spine   4.2.43\r\nStarting: Spine 3.8.99\n", "4.2.xx"),
      "4.2.43");
  EXPECT_EQ(findEditorVersion("starting:\tspine 4.1.07 (beta)", "4.1.xx"), "4.1.07");
  EXPECT_EQ(findEditorVersion("Starting Spine 4.2.43", "4.2.xx"), "4.2.xx");
  EXPECT_EQ(findEditorVersion("Starting: SpineX 4.2", "4.2.xx"), "4.2.xx");
  EXPECT_EQ(findEditorVersion("", "3.8.xx"), "3.8.xx");
}

}  // namespace
}  // namespace connector
