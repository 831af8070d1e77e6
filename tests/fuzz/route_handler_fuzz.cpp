// The whole route handler, host check to endpoints, on requests parsed from arbitrary bytes, with
// no Spine installed, a private settings file and a private temporary folder. No reply may carry a
// byte that breaks its header block, and no request may leave a file behind.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "api/pairing_registry.hpp"
#include "api/router.hpp"
#include "api/service.hpp"
#include "fuzz_support.hpp"
#include "http/request_parser.hpp"
#include "http/response_writer.hpp"
#include "platform/environment.hpp"
#include "platform/text.hpp"

using namespace connector;

namespace {

constexpr std::uint16_t kPort = 40519;

const std::filesystem::path& folder() { return fuzz::privateFolder("route"); }

ConnectorService& service() {
  static ConnectorService instance([](ConnectorService&) { return RouteHandler(); }, kPort);
  return instance;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::filesystem::create_directories(folder() / "tmp");
  setEnvironment("TMPDIR", pathToUtf8(folder() / "tmp"));
  setEnvironment("SPINE_CONNECTOR_CONFIG", pathToUtf8(folder() / "config.json"));
  // One allowed origin, so conversions get past the allow-list to the Spine search.
  setEnvironment("SPINE_CONNECTOR_ORIGINS", "http://editor.test");
  setEnvironment("SPINE_EXECUTABLE", pathToUtf8(folder() / "missing" / "Spine.sh"));
  setEnvironment("PATH", "");
  setEnvironment("HOME", pathToUtf8(folder()));
  return 0;
}

namespace {

void testOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ChunkedSource source(std::string_view(reinterpret_cast<const char*>(data), size), 0);
  HttpRequest request;
  int errorStatus = 0;
  if (!parseRequest(source, request, errorStatus)) return;

  // A fresh pairing table each time keeps one run's pairings from piling up across inputs.
  PairingRegistry registry;
  const HttpResponse response = makeRouteHandler(service(), registry)(request);
  fuzz::check(response.status >= 200 && response.status <= 599, "a final status");
  for (const auto& [name, value] : response.headers) {
    fuzz::check(
        !name.empty() && name.find_first_of(std::string_view(":\r\n\0 ", 5)) == std::string::npos,
        "a header name is one token", name);
    fuzz::check(value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                "no CR, LF or NUL in a reply header", name + ": " + value);
  }
  const std::string head = responseHead(response);
  fuzz::check(head.ends_with("\r\n\r\n") && head.find("\r\n\r\n") == head.size() - 4,
              "the head ends once, at its end", head);
  fuzz::check(fuzz::isEmptyFolder(folder() / "tmp"), "no file left in the temporary folder");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::onSmallStack([&] { testOneInput(data, size); });
  return 0;
}
