#include "api/pairing_pages.hpp"

#include <mutex>
#include <optional>

#include "api/pairing_registry.hpp"
#include "api/service.hpp"
#include "config/config.hpp"
#include "config/origin_allow_list.hpp"
#include "encoding/url_html.hpp"
#include "platform/random_token.hpp"

namespace connector {

namespace {

constexpr const char* kPagePrefix =
    "<!doctype html><meta charset=\"utf-8\"><title>Glimmer连接器</title><style>"
    "body{font:16px system-ui;max-width:620px;margin:60px auto;padding:24px;color:#e9ebff;"
    "background:#10131e}main{padding:28px;border:1px solid #38415d;border-radius:12px;"
    "background:#181e2c}button{padding:10px 18px;border:0;border-radius:7px;color:white;"
    "background:#5b5ce2;cursor:pointer}code{word-break:break-all;color:#aeb8e8}</style><main>";

constexpr const char* kInvalidOriginHtml = "<h2>授权地址无效</h2>";
constexpr const char* kExpiredHtml = "<h2>授权已过期，请返回编辑器重试</h2>";

// Double-clickjacking guard, placed after the form so it is in force before the first paint. A
// hostile page can ask for a double-click and swap this page in under the pointer between the two
// clicks, so the button acts only on a press that began once the page had been visible and
// focused for a second; until then it is dimmed and a click does nothing, leaving the nonce
// unspent. Any loss of focus or visibility (and a return from the back-forward cache) starts the
// second again. The press is taken from pointerdown, or from the first keydown of Enter or Space.
// A held key repeats its keydown: a repeat keeps the judgement of its press (Space clicks on its
// release, after the repeats), and counts as not ready when that press was not seen here or its
// click is spent (Enter clicks on every keydown). A click without either (assistive technology)
// is judged at its own time. Without scripts the button works at once, as it always did.
constexpr const char* kClickGuard =
    "<script>{"
    "const button=document.querySelector(\"form button\");"
    "let timer=0,live=false,press=null;"
    "const settle=()=>{"
    "clearTimeout(timer);live=false;press=null;button.style.opacity=\"0.5\";"
    "if(document.visibilityState===\"visible\"&&document.hasFocus())"
    "timer=setTimeout(()=>{live=true;button.style.opacity=\"\";},1000);};"
    "const ready=()=>live&&document.hasFocus()&&document.visibilityState===\"visible\";"
    "for(const name of[\"focus\",\"blur\",\"pageshow\"])addEventListener(name,settle);"
    "document.addEventListener(\"visibilitychange\",settle);"
    "button.addEventListener(\"pointerdown\",()=>{press=ready();});"
    "button.addEventListener(\"keydown\",event=>{"
    "if(event.key!==\"Enter\"&&event.key!==\" \")return;"
    "if(!event.repeat)press=ready();else if(press===null)press=false;});"
    "button.addEventListener(\"click\",event=>{"
    "if(!(press===null?ready():press))event.preventDefault();press=null;});"
    "settle();}</script>";

}  // namespace

HttpResponse htmlPage(int status, const std::string& innerHtml) {
  HttpResponse response;
  response.status = status;
  response.headers["Content-Type"] = "text/html; charset=utf-8";
  response.headers["Cache-Control"] = "no-store";
  // A hostile page must not be able to show this page in a hidden frame and steer the click.
  response.headers["X-Frame-Options"] = "DENY";
  response.headers["Content-Security-Policy"] = "frame-ancestors 'none'";
  response.body = kPagePrefix;
  response.body += innerHtml;
  response.body += "</main>";
  return response;
}

HttpResponse pairingPageResponse(PairingRegistry& registry, const HttpRequest& request) {
  auto found = request.query.find("origin");
  const std::string origin = found == request.query.end() ? std::string() : found->second;
  if (!OriginAllowList::isValidOrigin(origin)) return htmlPage(400, kInvalidOriginHtml);

  const std::string nonce = randomHexToken();
  registry.add(nonce, origin);

  std::string html =
      "<h2>授权 Glimmer编辑器</h2><p>是否允许下面的网站调用本机 Spine，将它生成的 JSON 转换为 "
      "<code>.spine</code> 文件？</p><p><code>";
  html += htmlEscape(origin);
  html +=
      "</code></p><form method=\"post\" action=\"/pair\"><input type=\"hidden\" name=\"nonce\" "
      "value=\"";
  html += nonce;
  html += "\"><button type=\"submit\">允许此网站</button></form>";
  HttpResponse page = htmlPage(200, html);
  page.body += kClickGuard;
  return page;
}

HttpResponse pairingConfirmResponse(PairingRegistry& registry, ConnectorService& service,
                                    const HttpRequest& request) {
  const std::string nonce = formValue(request.body, "nonce");
  std::optional<std::string> origin = registry.take(nonce);
  if (!origin) return htmlPage(400, kExpiredHtml);
  {
    std::lock_guard lock(service.stateLock());
    addAllowedOrigin(*origin);
  }
  std::string html = "<h2>授权成功</h2><p><code>";
  html += htmlEscape(*origin);
  html += "</code> 现在可以生成 Spine 工程。请关闭此页面并回到编辑器重试。</p>";
  return htmlPage(200, html);
}

}  // namespace connector
