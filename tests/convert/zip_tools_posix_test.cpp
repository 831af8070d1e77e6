// Archives read back by tools written independently of ours.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "convert/store_zip_builder.hpp"
#include "platform/text.hpp"
#include "support/store_zip_writer.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

bool toolExists(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string quoted(const std::filesystem::path& path) { return "'" + pathToUtf8(path) + "'"; }

TEST(StoreZipTools, ArchiveOpensInUnzipAndPython) {
  ASSERT_TRUE(toolExists("unzip")) << "unzip is missing: run scripts/install-deps.sh";
  ASSERT_TRUE(toolExists("python3")) << "python3 is missing: run scripts/install-deps.sh";

  std::string binary;
  for (int i = 0; i < 256 * 40; ++i) binary.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
  const std::vector<ArchiveEntry> entries = {
      {"特效.spine", {'p', 'r', 'o', 'j'}},
      {"images/空.png", {}},
      {"images\\sub\\binary.bin", std::vector<std::uint8_t>(binary.begin(), binary.end())},
  };
  const auto archive = StoreZipWriter::write(entries);

  test::TempDirectory temp;
  const auto zipPath = temp / "archive.zip";
  test::writeWholeFile(zipPath, std::string(archive.begin(), archive.end()));
  test::writeWholeFile(temp / "binary.bin", binary);

  EXPECT_EQ(std::system(("unzip -t -qq " + quoted(zipPath) + " >/dev/null").c_str()), 0);

  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None, 'bad CRC'\n"
      "names = z.namelist()\n"
      "assert names == ['特效.spine', 'images/空.png', 'images/sub/binary.bin'], names\n"
      "assert z.read(names[0]) == b'proj'\n"
      "assert z.read(names[1]) == b''\n"
      "assert z.read(names[2]) == open(sys.argv[2], 'rb').read()\n"
      "assert all(i.compress_type == zipfile.ZIP_STORED for i in z.infolist())\n"
      "assert all(i.flag_bits & 0x800 for i in z.infolist())\n";
  const auto scriptPath = temp / "check.py";
  test::writeWholeFile(scriptPath, script);
  EXPECT_EQ(std::system(("python3 " + quoted(scriptPath) + " " + quoted(zipPath) + " " +
                         quoted(temp / "binary.bin"))
                            .c_str()),
            0);
}

}  // namespace
}  // namespace connector
