#include "convert/image_staging.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "convert/workspace.hpp"
#include "encoding/base64.hpp"
#include "platform/text.hpp"
#include "platform/worker_thread.hpp"

namespace connector {
namespace {

constexpr const char* kCannotWrite = "无法写入临时文件";
// Below this much decoded data, starting threads costs more than they save; below this much per
// image, so does creating every file ahead (which also bounds the files made before any decoding).
constexpr std::size_t kSharedBytes = 1'048'576;
constexpr std::size_t kSharedBytesPerImage = 262'144;
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
void decodeAndWrite(const std::vector<ImageToStage>& images,
                    const std::vector<std::filesystem::path>& targets, std::size_t first,
                    StoreZipBuilder& archive, unsigned workers) {
  const std::size_t count = targets.size();
  std::vector<std::exception_ptr> errors(count);
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> lowestFailure{count};
  const auto work = [&]() noexcept {
    for (std::size_t i = next++; i < count && i < lowestFailure.load(); i = next++) {
      try {
        decodeInto(archive, first + i, images[i].base64);
        ConversionWorkspace::fillNewFile(targets[i], archive.entryData(first + i), kCannotWrite);
      } catch (...) {
        errors[i] = std::current_exception();
        std::size_t lowest = lowestFailure.load();
        while (i < lowest && !lowestFailure.compare_exchange_weak(lowest, i)) {
        }
      }
    }
  };
  {
    std::vector<std::unique_ptr<WorkerThread>> helpers;
    try {
      helpers.reserve(workers - 1);
      for (unsigned n = 1; n < workers && n < count; ++n) {
        helpers.push_back(std::make_unique<WorkerThread>(work));
      }
    } catch (const std::exception&) {
      // A helper that cannot start leaves its share to the others.
    }
    work();
  }  // every helper joined here
  const std::size_t failed = lowestFailure.load();
  if (failed < count) std::rethrow_exception(errors[failed]);
}

// The folders and empty files of the images, in order, so that the file system meets the same names
// in the same order as staging one image after the other would. A name already taken (the same path
// twice, or a file named like an earlier image's folder, also by the file system's case rules) ends
// the list there; so does a failure, which is kept for its image.
struct CreatedFiles {
  std::vector<std::filesystem::path> targets;
  std::exception_ptr error;
};

void createFiles(const std::vector<ImageToStage>& images, const std::filesystem::path& folder,
                 CreatedFiles& created) noexcept {
  for (const ImageToStage& image : images) {
    try {
      std::filesystem::path target = targetOf(folder, image);
      ConversionWorkspace::ensureDirectories(target.parent_path());
      if (!ConversionWorkspace::createNewFile(target)) return;
      created.targets.push_back(std::move(target));
    } catch (...) {
      created.error = std::current_exception();
      return;
    }
  }
}

}  // namespace

bool worthSharing(std::size_t imageCount, std::size_t decodedBytes) {
  return imageCount >= 2 && decodedBytes >= kSharedBytes &&
         decodedBytes / imageCount >= kSharedBytesPerImage;
}

void stageImages(const std::vector<ImageToStage>& images, const std::filesystem::path& folder,
                 StoreZipBuilder& archive) {
  const std::size_t first = archive.entryCount();
  std::size_t total = 0;
  for (const ImageToStage& image : images) total += image.size;
  const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWorkers);
  if (workers == 1 || !worthSharing(images.size(), total)) {
    for (std::size_t i = 0; i < images.size(); ++i) {
      archive.layoutEntry(images[i].entryName, images[i].size);
      stageOne(images[i], folder, first + i, archive);
    }
    return;
  }

  // The files are created on a helper while this thread lays out every entry: no byte of the
  // archive moves once threads write into it.
  CreatedFiles created;
  {
    std::unique_ptr<WorkerThread> creator;
    try {
      creator = std::make_unique<WorkerThread>([&] { createFiles(images, folder, created); });
    } catch (const std::system_error&) {
      createFiles(images, folder, created);
    }
    for (const ImageToStage& image : images) archive.layoutEntry(image.entryName, image.size);
  }
  decodeAndWrite(images, created.targets, first, archive, workers);
  const std::size_t shared = created.targets.size();
  if (created.error) {
    decodeInto(archive, first + shared, images[shared].base64);  // bad data comes before its folder
    std::rethrow_exception(created.error);
  }
  // From a name already taken on, one after the other, as the later file replaces the earlier.
  for (std::size_t i = shared; i < images.size(); ++i)
    stageOne(images[i], folder, first + i, archive);
}

}  // namespace connector
