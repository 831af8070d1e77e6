#include "convert/image_staging.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "convert/workspace.hpp"
#include "encoding/codecs.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

constexpr const char* kCannotWrite = "无法写入临时文件";
// Below this much decoded data, starting a thread costs more than it saves.
constexpr std::size_t kParallelBytes = 1'048'576;
constexpr unsigned kMaxWorkers = 4;

void decodeInto(StoreZipBuilder& archive, std::size_t entry, std::string_view base64) {
  archive.fillEntry(entry, [base64](std::uint8_t* out) { decodeBase64Into(base64, out); });
}

std::filesystem::path targetOf(const std::filesystem::path& folder, const ImageToStage& image) {
  return folder / pathFromUtf8(image.path);
}

void stageOne(const ImageToStage& image, const std::filesystem::path& folder, std::size_t entry,
              StoreZipBuilder& archive) {
  decodeInto(archive, entry, image.base64);
  const std::filesystem::path target = targetOf(folder, image);
  ConversionWorkspace::ensureDirectories(target.parent_path());
  ConversionWorkspace::writeFile(target, archive.entryData(entry), kCannotWrite);
}

// Decodes and writes the first targets.size() images on up to workers threads, this one included,
// and once all have ended rethrows the error of the lowest image that failed. Images are handed
// out in order and none past a failure is started, so the work stays that of one after the other.
void decodeAndWrite(const std::vector<ImageToStage>& images, const std::vector<std::filesystem::path>& targets,
                    std::size_t first, StoreZipBuilder& archive, unsigned workers) {
  const std::size_t count = targets.size();
  std::vector<std::exception_ptr> errors(count);
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> lowestFailure{count};
  const auto work = [&]() noexcept {
    for (std::size_t i = next++; i < count && i < lowestFailure.load(); i = next++) {
      try {
        decodeInto(archive, first + i, images[i].base64);
        ConversionWorkspace::writeFile(targets[i], archive.entryData(first + i), kCannotWrite);
      } catch (...) {
        errors[i] = std::current_exception();
        std::size_t lowest = lowestFailure.load();
        while (i < lowest && !lowestFailure.compare_exchange_weak(lowest, i)) {
        }
      }
    }
  };
  {
    std::vector<std::jthread> helpers;
    try {
      helpers.reserve(workers - 1);
      for (unsigned n = 1; n < workers; ++n) helpers.emplace_back(work);
    } catch (const std::exception&) {
      // A helper that cannot start leaves its share to the others.
    }
    work();
  }  // every helper joined here
  const std::size_t failed = lowestFailure.load();
  if (failed < count) std::rethrow_exception(errors[failed]);
}

}  // namespace

void stageImages(const std::vector<ImageToStage>& images, const std::filesystem::path& folder,
                 StoreZipBuilder& archive) {
  // Every entry placed first: no byte of the archive moves once threads write into it.
  const std::size_t first = archive.entryCount();
  std::size_t total = 0;
  for (const ImageToStage& image : images) {
    archive.layoutEntry(image.entryName, image.size);
    total += image.size;
  }
  const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWorkers);
  if (workers == 1 || images.size() < 2 || total < kParallelBytes) {
    for (std::size_t i = 0; i < images.size(); ++i) stageOne(images[i], folder, first + i, archive);
    return;
  }

  // Folders and empty files first, here and in order, so the file system meets the same names in
  // the same order as one image after the other. A name already taken (the same path twice, or a
  // file named like an earlier image's folder, also by the file system's case rules) stops the
  // shared part there: the images from it on follow one by one, after those before are written.
  std::vector<std::filesystem::path> targets;
  std::exception_ptr folderError;
  for (const ImageToStage& image : images) {
    try {
      std::filesystem::path target = targetOf(folder, image);
      ConversionWorkspace::ensureDirectories(target.parent_path());
      if (!ConversionWorkspace::createNewFile(target)) break;
      targets.push_back(std::move(target));
    } catch (...) {
      folderError = std::current_exception();
      break;
    }
  }
  decodeAndWrite(images, targets, first, archive, workers);
  const std::size_t shared = targets.size();
  if (folderError) {
    decodeInto(archive, first + shared, images[shared].base64);  // bad data comes before its folder
    std::rethrow_exception(folderError);
  }
  for (std::size_t i = shared; i < images.size(); ++i) stageOne(images[i], folder, first + i, archive);
}

}  // namespace connector
