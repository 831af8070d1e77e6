#include "api_fixture.hpp"

#include "platform/text.hpp"
#include "support/spine_stub.hpp"

namespace connector::test {

ApiTest::ApiTest()
    : service_([](ConnectorService&) { return RouteHandler(); }, kTestPort),
      registry_([this] { return clockBase_ + std::chrono::nanoseconds(clockOffset_.load()); }) {
  environment_.set("SPINE_CONNECTOR_CONFIG", pathToUtf8(temp_ / "config.json"));
  environment_.set("SPINE_CONNECTOR_ORIGINS", std::nullopt);
  spinePresent();
  handler_ = makeRouteHandler(service_, registry_);
}

void ApiTest::spinePresent() { environment_.set("SPINE_EXECUTABLE", spineStubPath()); }

void ApiTest::spineAbsent() {
  environment_.set("SPINE_EXECUTABLE", pathToUtf8(temp_ / "missing" / "Spine.com"));
  environment_.set("PATH", "");
  environment_.set("ProgramFiles", std::nullopt);
  environment_.set("ProgramFiles(x86)", std::nullopt);
  environment_.set("LOCALAPPDATA", std::nullopt);
  environment_.set("HOME", pathToUtf8(temp_.path()));
}

HttpResponse ApiTest::call(const std::string& method, const std::string& target,
                           const std::map<std::string, std::string>& headers,
                           const std::string& body) {
  HttpRequest request;
  request.method = method;
  request.target = target;
  const auto question = target.find('?');
  request.path = target.substr(0, question);
  if (question != std::string::npos) {
    // Tests pass queries already decoded, one name=value pair.
    const std::string query = target.substr(question + 1);
    const auto equals = query.find('=');
    request.query[query.substr(0, equals)] =
        equals == std::string::npos ? "" : query.substr(equals + 1);
  }
  for (const auto& [name, value] : headers) request.headers[name] = value;
  request.body = body;
  return handler_(request);
}

std::string headerOf(const HttpResponse& response, const std::string& name) {
  auto found = response.headers.find(name);
  return found == response.headers.end() ? "<absent>" : found->second;
}

}  // namespace connector::test
