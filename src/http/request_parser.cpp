#include "http/request_parser.hpp"

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/ascii.hpp"
#include "encoding/url_html.hpp"

namespace connector {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::size_t kFirstBodyRoom = 65536;

std::vector<std::string_view> splitLines(std::string_view head) {
  std::vector<std::string_view> lines;
  while (!head.empty()) {
    const std::size_t end = head.find('\n');
    std::string_view line = head.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    head.remove_prefix(end + 1);
  }
  return lines;
}

std::vector<std::string_view> splitTokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isAsciiWhitespace(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !isAsciiWhitespace(line[i])) ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

// Reads a decimal number the way strtoull does with base 10: leading white space and one sign
// are accepted, reading stops at the first non-digit, a minus sign negates modulo 2^64.
// No value when there is no digit or the magnitude does not fit in 64 bits.
std::optional<std::uint64_t> readUnsigned(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isAsciiWhitespace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  bool anyDigit = false;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    anyDigit = true;
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    if (value > (kMax - digit) / 10) overflow = true;
    if (!overflow) value = value * 10 + digit;
  }
  if (!anyDigit || overflow) return std::nullopt;
  return negative ? (~value + 1) : value;
}

bool parseQuery(std::string_view query, HttpRequest& request) {
  try {
    while (true) {
      const std::size_t amp = query.find('&');
      const std::string_view piece = query.substr(0, amp);
      const std::size_t eq = piece.find('=');
      const std::string_view name = piece.substr(0, eq);
      const std::string_view value =
          eq == std::string_view::npos ? std::string_view{} : piece.substr(eq + 1);
      request.query[urlDecode(name)] = urlDecode(value);
      if (amp == std::string_view::npos) break;
      query.remove_prefix(amp + 1);
    }
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

// Receives until the buffer holds the blank line; its position, or no value on failure. Only the
// head, blank line included, counts against kHeadLimit: body bytes that arrive in the same
// receive as its end do not, so the outcome is the same whatever the sizes of the receives.
std::optional<std::size_t> receiveHead(ByteSource& source, std::string& buffer, int& errorStatus) {
  char chunk[kReceiveSize];
  std::size_t searchFrom = 0;
  while (true) {
    const long received = source.receive(chunk, sizeof chunk);
    if (received <= 0) return std::nullopt;
    buffer.append(chunk, static_cast<std::size_t>(received));
    const std::size_t found = buffer.find(kBlankLine, searchFrom);
    if (found != std::string::npos && found + kBlankLine.size() <= kHeadLimit) return found;
    if (found != std::string::npos || buffer.size() > kHeadLimit) {
      errorStatus = 413;
      return std::nullopt;
    }
    // Only the tail could still start the blank line once more bytes arrive.
    if (buffer.size() >= kBlankLine.size()) searchFrom = buffer.size() - (kBlankLine.size() - 1);
  }
}

// Whether the client waits for a 100 (Continue) before it sends its body. HTTP/1.0 clients
// cannot ask for one; an expectation other than 100-continue is ignored.
bool expectsContinue(const HttpRequest& request, std::string_view version) {
  const auto expect = request.headers.find("expect");
  return expect != request.headers.end() && version != "HTTP/1.0" &&
         equalsIgnoringAsciiCase(expect->second, "100-continue");
}

// Receives the rest of the body straight into it, in reads as large as its free room. The
// room grows with what has arrived (doubling, from kFirstBodyRoom up to wanted), never from the
// announced length alone, so a client that stops sending costs about what it sent.
bool receiveBody(ByteSource& source, ByteBuffer& body, std::size_t wanted) {
  while (body.size() < wanted) {
    const std::size_t room =
        std::min(wanted, std::max(kFirstBodyRoom, body.size() * 2)) - body.size();
    const long received = source.receive(body.room(room), room);
    if (received <= 0) return false;
    body.grow(static_cast<std::size_t>(received));
  }
  return true;
}

// A carriage return or NUL inside a header would reach a reply header when it is echoed.
bool holdsControlBytes(std::string_view line) {
  return line.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos;
}

}  // namespace

bool parseRequest(ByteSource& source, HttpRequest& request, int& errorStatus,
                  const ContinueSender& sendContinue) {
  std::string buffer;
  const std::optional<std::size_t> headEnd = receiveHead(source, buffer, errorStatus);
  if (!headEnd) return false;

  const std::vector<std::string_view> lines =
      splitLines(std::string_view(buffer).substr(0, *headEnd));
  if (lines.empty()) return false;
  const std::vector<std::string_view> tokens = splitTokens(lines.front());
  if (tokens.size() < 3) return false;
  request.method = tokens[0];
  request.target = tokens[1];

  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (holdsControlBytes(line)) return false;
    request.headers[lowerAscii(trimAsciiWhitespace(line.substr(0, colon)))] =
        trimAsciiWhitespace(line.substr(colon + 1));
  }

  const std::size_t question = request.target.find('?');
  request.path = request.target.substr(0, question);
  if (question != std::string::npos &&
      !parseQuery(std::string_view(request.target).substr(question + 1), request)) {
    return false;
  }

  // There is no reader for a transfer coding, so such a body cannot be framed: read as empty it
  // would reach the handler as a fault in its content.
  if (request.headers.contains("transfer-encoding")) return false;

  std::uint64_t length = 0;
  if (const auto header = request.headers.find("content-length"); header != request.headers.end()) {
    const std::optional<std::uint64_t> parsed = readUnsigned(header->second);
    if (!parsed) return false;
    length = *parsed;
  }
  if (length > kBodyLimit) {
    errorStatus = 413;
    return false;
  }

  source.headRead(length);
  const auto wanted = static_cast<std::size_t>(length);
  const std::size_t bodyStart = *headEnd + kBlankLine.size();
  const std::size_t already = std::min(buffer.size() - bodyStart, wanted);
  ByteBuffer& body = request.body;
  body.keepRangeAfterUse();
  body.reserve(wanted);
  body.append(std::string_view(buffer).substr(bodyStart, already));
  // The head alone has been accepted. A client that sent none of its body yet may be waiting
  // for leave to send it.
  if (already == 0 && wanted > 0 && sendContinue && expectsContinue(request, tokens[2])) {
    sendContinue();
  }
  buffer = std::string();
  return receiveBody(source, body, wanted);
}

}  // namespace connector
