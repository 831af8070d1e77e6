#include "convert/store_zip_builder.hpp"
#include "support/store_zip_writer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "convert/local_time.hpp"
#include "convert_test_support.hpp"
#include "platform/byte_buffer.hpp"
#include "platform/kept_ranges.hpp"

namespace connector {
namespace {

using test::referenceArchive;
using test::referenceCrc32;
using test::referenceLike;

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::uint32_t read16(std::string_view data, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(data.at(at)) |
                                    (static_cast<unsigned char>(data.at(at + 1)) << 8));
}

std::uint32_t read32(std::string_view data, std::size_t at) {
  return read16(data, at) | (read16(data, at + 2) << 16);
}

std::string textAt(std::string_view data, std::size_t at, std::size_t length) {
  return std::string(data.substr(at, length));
}

std::string errorOf(const std::vector<ArchiveEntry>& entries) {
  try {
    StoreZipWriter::write(entries);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(no error)";
}

// The conversion's way: all but the first entry added, their data written in place, then the
// first given to finish.
std::string builtArchive(const std::vector<ArchiveEntry>& entries, std::size_t reserve) {
  StoreZipBuilder builder;
  builder.reserve(reserve);
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const std::vector<std::uint8_t>& data = entries[i].data;
    builder.addEntry(entries[i].name, data.size(), [&](std::uint8_t* out) {
      if (!data.empty()) std::memcpy(out, data.data(), data.size());
    });
  }
  if (entries.empty()) return std::string(builder.finish().view());
  return std::string(builder
                         .finish(entries[0].name, std::string_view(reinterpret_cast<const char*>(
                                                                       entries[0].data.data()),
                                                                   entries[0].data.size()))
                         .view());
}

// The staging's way: every entry laid out first, then filled from several threads at once, the
// last entries first.
std::string filledArchive(const std::vector<ArchiveEntry>& entries, std::size_t reserve) {
  StoreZipBuilder builder;
  builder.reserve(reserve);
  for (std::size_t i = 1; i < entries.size(); ++i)
    builder.layoutEntry(entries[i].name, entries[i].data.size());
  const std::size_t count = builder.entryCount();
  std::atomic<std::size_t> taken{0};
  const auto fill = [&] {
    for (std::size_t n = taken++; n < count; n = taken++) {
      const std::size_t index = count - 1 - n;
      const std::vector<std::uint8_t>& data = entries[index + 1].data;
      builder.fillEntry(index, [&](std::uint8_t* out) {
        if (!data.empty()) std::memcpy(out, data.data(), data.size());
      });
    }
  };
  {
    std::jthread helper(fill);
    fill();
  }
  if (entries.empty()) return std::string(builder.finish().view());
  return std::string(builder
                         .finish(entries[0].name, std::string_view(reinterpret_cast<const char*>(
                                                                       entries[0].data.data()),
                                                                   entries[0].data.size()))
                         .view());
}

std::string faultOf(const std::function<std::string()>& write) {
  try {
    write();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(no error)";
}

std::vector<std::uint8_t> randomBytes(std::mt19937& random, std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
  return data;
}

TEST(Crc32, EqualsTheByteWiseTableOnEveryLengthAndAlignment) {
  std::mt19937 random(2024);
  const std::vector<std::uint8_t> data = randomBytes(random, 4096 + 16);
  for (std::size_t length = 0; length <= 4096; ++length) {
    const std::size_t offset = length % 16;  // every alignment of the start
    ASSERT_EQ(crc32(data.data() + offset, length), referenceCrc32(data.data() + offset, length))
        << length;
  }
  for (const std::size_t size : {std::size_t{1} << 20, (std::size_t{33} << 20) + 7}) {
    const std::vector<std::uint8_t> large = randomBytes(random, size);
    EXPECT_EQ(crc32(large.data(), large.size()), referenceCrc32(large.data(), large.size()))
        << size;
  }
}

TEST(StoreZipBuilder, ArchivesEqualThePlainWritersOnTheSameEntries) {
  std::mt19937 random(7);
  std::vector<std::vector<ArchiveEntry>> cases = {
      {},
      {{"Hero.spine", bytes("project")}},
      {{"特效.spine", bytes("p")}, {"images/空.png", {}}, {"images\\sub\\a.png", bytes("abc")}},
      {{"./p.spine", {}}, {"././images/x", bytes("x")}, {"images/x", bytes("second")}, {"./x", {}}},
  };
  std::vector<ArchiveEntry> many;
  for (int i = 0; i < 70; ++i) {
    many.push_back({"images/" + std::to_string(i) + ".png", randomBytes(random, random() % 5000)});
  }
  cases.push_back(many);
  for (const auto& entries : cases) {
    SCOPED_TRACE(entries.size());
    const std::string written = StoreZipWriter::write(entries);
    EXPECT_EQ(written, referenceLike(written, entries));
    // However much room was reserved: none, too little (the buffer grows), or plenty.
    for (const std::size_t reserve : {std::size_t{0}, std::size_t{100}, std::size_t{1} << 20}) {
      const std::string built = builtArchive(entries, reserve);
      EXPECT_EQ(built, referenceLike(built, entries)) << reserve;
      const std::string filled = filledArchive(entries, reserve);
      EXPECT_EQ(filled, referenceLike(filled, entries)) << reserve;
    }
  }
}

// A large archive may take the memory a request body left: it holds none of those bytes.
TEST(StoreZipBuilder, AnArchiveInReusedMemoryHoldsOnlyItsOwnBytes) {
  std::mt19937 random(11);
  {
    ByteBuffer body;
    body.keepRangeAfterUse();
    body.append(std::string(kept_ranges::kAtLeast * 2, '\xAA'));
  }
  std::vector<ArchiveEntry> entries = {{"p.spine", randomBytes(random, 100)}};
  for (int i = 0; i < 4; ++i) {
    entries.push_back({"images/" + std::to_string(i) + ".png", randomBytes(random, 1 << 20)});
  }
  const std::string filled = filledArchive(entries, kept_ranges::kAtLeast);
  EXPECT_EQ(filled, referenceLike(filled, entries));
}

TEST(StoreZipBuilder, FailsLikeThePlainWriterInEntryOrder) {
  const std::vector<std::vector<ArchiveEntry>> cases = {
      {{"../p.spine", {}}, {"images/a", {}}},
      {{"p.spine", {}}, {"images/a", {}}, {"/abs", {}}, {std::string(65'536, 'n'), {}}},
      {{"p.spine", {}}, {std::string(65'536, 'n'), {}}, {"a/../../b", {}}},
      {{std::string(65'536, 'n'), {}}, {"..", {}}},
      {{"p", {}}, {"./", {}}},
      {{"p", {}}, {"./" + std::string(65'535, 'n'), {}}},
      std::vector<ArchiveEntry>(65'536, ArchiveEntry{"..", {}}),
  };
  for (const auto& entries : cases) {
    const std::string expected = faultOf([&] { return referenceArchive(entries, 0, 0); });
    EXPECT_EQ(faultOf([&] { return StoreZipWriter::write(entries); }), expected);
    EXPECT_EQ(faultOf([&] { return builtArchive(entries, 0); }), expected);
    EXPECT_EQ(faultOf([&] { return filledArchive(entries, 0); }), expected);
  }
}

TEST(StoreZipBuilder, AFailedFillTakesItsEntryBack) {
  StoreZipBuilder builder;
  builder.addEntry("images/a", 2, [](std::uint8_t* out) { std::memcpy(out, "aa", 2); });
  EXPECT_THROW(builder.addEntry("images/bad", 1000,
                                [](std::uint8_t*) { throw std::runtime_error("bad data"); }),
               std::runtime_error);
  builder.addEntry("images/c", 1, [](std::uint8_t* out) { *out = 'c'; });
  ASSERT_EQ(builder.entryCount(), 2u);
  EXPECT_EQ(builder.entryName(1), "images/c");
  EXPECT_EQ(builder.entryData(0), "aa");
  EXPECT_EQ(builder.entryData(1), "c");
  const std::string archive(builder.finish("p.spine", "proj").view());
  EXPECT_EQ(archive, referenceLike(archive, {{"p.spine", bytes("proj")},
                                             {"images/a", bytes("aa")},
                                             {"images/c", bytes("c")}}));
  EXPECT_EQ(builder.entryCount(), 0u);
}

TEST(StoreZipBuilder, AnEntryLaidOutButNotFilledIsNeverFinished) {
  StoreZipBuilder builder;
  builder.layoutEntry("images/a", 2);
  builder.layoutEntry("images/b", 1);
  builder.fillEntry(1, [](std::uint8_t* out) { *out = 'b'; });
  EXPECT_THROW(builder.fillEntry(0, [](std::uint8_t*) { throw std::runtime_error("bad data"); }),
               std::runtime_error);
  EXPECT_THROW(builder.finish("p.spine", "proj"), std::logic_error);
  builder.fillEntry(0, [](std::uint8_t* out) { std::memcpy(out, "aa", 2); });
  EXPECT_EQ(builder.entryData(0), "aa");
  const std::string archive(builder.finish("p.spine", "proj").view());
  EXPECT_EQ(archive, referenceLike(archive, {{"p.spine", bytes("proj")},
                                             {"images/a", bytes("aa")},
                                             {"images/b", bytes("b")}}));
}

TEST(StoreZipWriter, EmptyListIsOnlyTheEndRecord) {
  const auto archive = StoreZipWriter::write({});
  ASSERT_EQ(archive.size(), 22u);
  EXPECT_EQ(read32(archive, 0), 0x06054B50u);
  EXPECT_EQ(read16(archive, 8), 0u);
  EXPECT_EQ(read16(archive, 10), 0u);
  EXPECT_EQ(read32(archive, 12), 0u);
  EXPECT_EQ(read32(archive, 16), 0u);
  EXPECT_EQ(read16(archive, 20), 0u);
}

TEST(StoreZipWriter, OneEntryArchiveFieldByField) {
  const auto archive = StoreZipWriter::write({{"a", bytes("xyz")}});
  ASSERT_EQ(archive.size(), 103u);
  const std::uint32_t crc = crc32(reinterpret_cast<const std::uint8_t*>("xyz"), 3);

  // Local header at 0, name at 30, data at 31.
  EXPECT_EQ(textAt(archive, 0, 4), "PK\x03\x04");
  EXPECT_EQ(read16(archive, 4), 20u);
  EXPECT_EQ(read16(archive, 6), 0x0800u);
  EXPECT_EQ(read16(archive, 8), 0u);
  EXPECT_EQ(read32(archive, 14), crc);
  EXPECT_EQ(read32(archive, 18), 3u);
  EXPECT_EQ(read32(archive, 22), 3u);
  EXPECT_EQ(read16(archive, 26), 1u);
  EXPECT_EQ(read16(archive, 28), 0u);
  EXPECT_EQ(textAt(archive, 30, 4), "axyz");

  // Central directory at 34, 47 bytes.
  EXPECT_EQ(textAt(archive, 34, 4), "PK\x01\x02");
  EXPECT_EQ(read16(archive, 34 + 4), 20u);
  EXPECT_EQ(read16(archive, 34 + 6), 20u);
  EXPECT_EQ(read16(archive, 34 + 8), 0x0800u);
  EXPECT_EQ(read16(archive, 34 + 10), 0u);
  EXPECT_EQ(read16(archive, 34 + 12), read16(archive, 10));  // same time
  EXPECT_EQ(read16(archive, 34 + 14), read16(archive, 12));  // same date
  EXPECT_EQ(read32(archive, 34 + 16), crc);
  EXPECT_EQ(read32(archive, 34 + 20), 3u);
  EXPECT_EQ(read32(archive, 34 + 24), 3u);
  EXPECT_EQ(read16(archive, 34 + 28), 1u);
  for (std::size_t at : {30u, 32u, 34u, 36u}) EXPECT_EQ(read16(archive, 34 + at), 0u) << at;
  EXPECT_EQ(read32(archive, 34 + 38), 0u);
  EXPECT_EQ(read32(archive, 34 + 42), 0u);  // local header offset
  EXPECT_EQ(textAt(archive, 34 + 46, 1), "a");

  // End record in the last 22 bytes.
  EXPECT_EQ(textAt(archive, 81, 4), "PK\x05\x06");
  EXPECT_EQ(read16(archive, 81 + 4), 0u);
  EXPECT_EQ(read16(archive, 81 + 6), 0u);
  EXPECT_EQ(read16(archive, 81 + 8), 1u);
  EXPECT_EQ(read16(archive, 81 + 10), 1u);
  EXPECT_EQ(read32(archive, 81 + 12), 47u);
  EXPECT_EQ(read32(archive, 81 + 16), 34u);
  EXPECT_EQ(read16(archive, 81 + 20), 0u);
}

TEST(StoreZipWriter, EntriesKeepOrderOffsetsAndDuplicates) {
  const auto archive =
      StoreZipWriter::write({{"first.bin", bytes("12345")}, {"b", {}}, {"b", bytes("z")}});
  const std::size_t second = 30 + 9 + 5;
  EXPECT_EQ(textAt(archive, second, 4), "PK\x03\x04");
  EXPECT_EQ(read32(archive, second + 14), 0u);  // empty data: CRC 0, sizes 0
  EXPECT_EQ(read32(archive, second + 18), 0u);
  EXPECT_EQ(read32(archive, second + 22), 0u);
  const std::size_t third = second + 30 + 1;
  EXPECT_EQ(textAt(archive, third + 30, 2), "bz");

  const std::size_t directory = read32(archive, archive.size() - 6);
  EXPECT_EQ(directory, third + 30 + 2);
  EXPECT_EQ(read16(archive, archive.size() - 12), 3u);
  const std::size_t entry2 = directory + 46 + 9;
  const std::size_t entry3 = entry2 + 46 + 1;
  EXPECT_EQ(read32(archive, directory + 42), 0u);
  EXPECT_EQ(read32(archive, entry2 + 42), second);
  EXPECT_EQ(read32(archive, entry3 + 42), third);
  EXPECT_EQ(textAt(archive, entry3 + 46, 1), "b");
  // One timestamp for every entry.
  for (std::size_t at : {second, third}) {
    EXPECT_EQ(read16(archive, at + 10), read16(archive, 10));
    EXPECT_EQ(read16(archive, at + 12), read16(archive, 12));
  }
}

TEST(StoreZipWriter, ChineseNamesAreUtf8WithFlagInBothHeaders) {
  const std::string name = "图片/特效.png";
  const auto archive = StoreZipWriter::write({{name, bytes("x")}});
  EXPECT_EQ(read16(archive, 6), 0x0800u);
  EXPECT_EQ(read16(archive, 26), name.size());
  EXPECT_EQ(textAt(archive, 30, name.size()), name);
  const std::size_t directory = 30 + name.size() + 1;
  EXPECT_EQ(read16(archive, directory + 8), 0x0800u);
  EXPECT_EQ(textAt(archive, directory + 46, name.size()), name);
}

TEST(StoreZipWriter, NameNormalisation) {
  const std::pair<const char*, const char*> accepted[] = {
      {"a\\b\\c.png", "a/b/c.png"},
      {"./a.png", "a.png"},
      {"././a.png", "a.png"},
      {".\\a.png", "a.png"},
      {"a/./b", "a/./b"},
      {"a..b/..c", "a..b/..c"},
      {"a/..", "a/.."},
      {"./.", "."},
      {"images//x", "images//x"},
  };
  for (const auto& [input, expected] : accepted)
    EXPECT_EQ(normalizeEntryName(input), expected) << input;

  const char* rejected[] = {"",      "/",      "/x",     "\\x", "..",  "../x",
                            "..\\x", "a/../b", "./../x", "./",  "././"};
  for (const char* input : rejected) {
    try {
      normalizeEntryName(input);
      ADD_FAILURE() << "accepted: " << input;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "ZIP 文件路径无效") << input;
    }
  }
  // The archive uses the normalised name in both headers.
  const auto archive = StoreZipWriter::write({{".\\dir\\f", {}}});
  EXPECT_EQ(textAt(archive, 30, 5), "dir/f");
  EXPECT_EQ(textAt(archive, 35 + 46, 5), "dir/f");
  EXPECT_EQ(errorOf({{"ok", {}}, {"../escape", {}}}), "ZIP 文件路径无效");
}

TEST(StoreZipWriter, EntryCountLimit) {
  std::vector<ArchiveEntry> entries(65'535, ArchiveEntry{"f", {}});
  const auto archive = StoreZipWriter::write(entries);
  EXPECT_EQ(read16(archive, archive.size() - 12), 65'535u);
  EXPECT_EQ(read16(archive, archive.size() - 14), 65'535u);
  entries.push_back(ArchiveEntry{"f", {}});
  EXPECT_EQ(errorOf(entries), "ZIP 文件数量过多");
}

TEST(StoreZipWriter, NameLengthLimit) {
  EXPECT_NO_THROW(StoreZipWriter::write({{std::string(65'535, 'n'), {}}}));
  EXPECT_EQ(errorOf({{std::string(65'536, 'n'), {}}}), "ZIP 文件超过 Store 格式限制");
  // The limit applies to the normalised name.
  EXPECT_NO_THROW(StoreZipWriter::write({{"./" + std::string(65'535, 'n'), {}}}));
}

TEST(Crc32, KnownValues) {
  const std::string check = "123456789";
  EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926u);
  EXPECT_EQ(crc32(nullptr, 0), 0u);
  const std::uint8_t zeros[32] = {};
  EXPECT_EQ(crc32(zeros, sizeof zeros), 0x190A55ADu);
}

TEST(DosTimestamp, PacksFieldsAndClampsOldYears) {
  const DosTimestamp stamp = dosTimestamp(LocalTime{2024, 5, 17, 13, 45, 59});
  EXPECT_EQ(stamp.time, 13 * 2048 + 45 * 32 + 29);
  EXPECT_EQ(stamp.date, (2024 - 1980) * 512 + 5 * 32 + 17);
  const DosTimestamp old = dosTimestamp(LocalTime{1970, 1, 2, 0, 0, 1});
  EXPECT_EQ(old.date >> 9, 0);
  EXPECT_EQ(old.date, 1 * 32 + 2);
  EXPECT_EQ(old.time, 0);
}

TEST(DosTimestamp, ArchiveCarriesTheCurrentLocalTime) {
  const LocalTime before = currentLocalTime();
  const auto archive = StoreZipWriter::write({{"a", {}}});
  const LocalTime after = currentLocalTime();
  const auto date = static_cast<std::uint16_t>(read16(archive, 12));
  // Allow for the day changing between the two readings.
  EXPECT_TRUE(date == dosTimestamp(before).date || date == dosTimestamp(after).date) << date;
}

}  // namespace
}  // namespace connector
