#pragma once
// Decoding the images of a conversion into the archive and writing them into the workspace,
// on several threads when there is enough to share.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "convert/store_zip_builder.hpp"

namespace connector {

// An image that has passed every check that needs no decoding.
struct ImageToStage {
  std::string entryName;    // images folder + "/" + path
  std::string path;         // normalised, inside the images folder
  std::string_view base64;  // a view into the request body
  std::size_t size = 0;     // decoded
};

// Whether images of that many decoded bytes in all are shared between threads (when the
// machine has more than one core): enough in all, and enough per image.
bool worthSharing(std::size_t imageCount, std::size_t decodedBytes);

// Appends one archive entry per image, decodes each into its entry and writes it to the folder,
// with the outcome of doing so one image after the other in the given order: the same files, and
// the error thrown is the first those steps would meet (bad data, then the image's folders, then
// its file).
void stageImages(const std::vector<ImageToStage>& images, const std::filesystem::path& folder,
                 StoreZipBuilder& archive);

}  // namespace connector
