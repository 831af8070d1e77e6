#include "api/convert_endpoint.hpp"

#include <mutex>
#include <utility>

#include "api/api_replies.hpp"
#include "api/cors_headers.hpp"
#include "api/service.hpp"
#include "config/origin_allow_list.hpp"
#include "convert/spine_locator.hpp"
#include "convert/spine_run.hpp"
#include "encoding/json_parser.hpp"
#include "encoding/url_html.hpp"

namespace connector {

namespace {

HttpResponse zipResponse(ConvertResult result, const std::string& origin) {
  HttpResponse response;
  const std::string encodedName = urlEncode(result.fileName);
  response.headers["Content-Type"] = "application/zip";
  // The plain filename stays ASCII; the real (UTF-8) name travels percent-encoded only.
  response.headers["Content-Disposition"] =
      "attachment; filename=\"Glimmer.zip\"; filename*=UTF-8''" + encodedName;
  response.headers["X-Spine-File-Name"] = encodedName;
  response.headers["X-Spine-Editor-Version"] = std::move(result.editorVersion);
  response.headers["Access-Control-Expose-Headers"] = "X-Spine-File-Name, X-Spine-Editor-Version";
  addCorsHeaders(response, origin);
  // The archive may be hundreds of MiB: it becomes the body as it is, without a copy.
  response.largeBody = std::move(result.archive);
  return response;
}

}  // namespace

HttpResponse convertResponse(ConnectorService& service, const HttpRequest& request,
                             const std::string& origin) {
  {
    std::lock_guard lock(service.stateLock());
    if (!OriginAllowList::isOriginAllowed(origin)) {
      JsonObject body =
          errorObject({403, "ORIGIN_NOT_ALLOWED", "需要先授权当前网站使用本地 Spine 连接器"});
      body["pairUrl"] = pairUrlFor(request, origin);
      return jsonResponse(403, std::move(body), origin);
    }
  }

  // Spine is looked up before the body is parsed, so a missing Spine is reported as such
  // whatever the body holds.
  const std::string spineExecutable = SpineLocator::locate();
  if (spineExecutable.empty()) {
    return errorResponse(
        {503, "SPINE_NOT_FOUND", "没有找到 Spine，请在连接器应用中选择 Spine 路径"}, origin);
  }
  // The body outlives the parsed value, so the long strings in it (the images' Base64) are read in
  // place rather than copied out.
  const JsonValue body = parseJsonInPlace(request.body);

  std::unique_lock lock(service.conversionLock(), std::try_to_lock);
  if (!lock.owns_lock()) {
    // Another conversion runs and this one may wait long for its turn: its connection makes way
    // for health and pairing requests meanwhile.
    if (request.stepAside) request.stepAside();
    lock.lock();
  }
  ConvertResult result = runSpineConversion(body, spineExecutable, service.stopToken());
  return zipResponse(std::move(result), origin);
}

}  // namespace connector
