#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <set>
#include <stdexcept>

#include "encoding/base64.hpp"
#include "encoding/url_html.hpp"
#include "platform/random_token.hpp"
#include "support/base64_reference.hpp"

namespace connector {
namespace {

std::string asText(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// The message of the error that run raises, or "ok".
template <typename Run>
std::string faultOf(Run run) {
  try {
    run();
    return "ok";
  } catch (const std::runtime_error& error) {
    return error.what();
  }
}

TEST(Base64, DecodesDataAndToleratesAnyTrailingPadding) {
  const struct {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"", ""},
      {"QQ==", "A"},
      {"QUI=", "AB"},
      {"QUJD", "ABC"},
      {"Q===", ""},
      {"====", ""},
      {"QUJDRA==", "ABCD"},
      {"QUJDREU=", "ABCDE"},
      {"+/+/", "\xFB\xFF\xBF"},
      {"AAAA", std::string(3, '\0')},
      {"QR==", "A"},  // leftover bits are dropped
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(asText(decodeBase64(c.text)), c.bytes);
  }
}

TEST(Base64, RefusesMalformedText) {
  for (const char* text : {"QQ", "QUJDR", "QUJ", "QQ==QQ==", "QQ=A", "=QQQ", "QU JD", "QUJD\nQUJD",
                           "QUJD\r\n", "QU-_", "data:image/png;base64,QQ==", "QUJ\xC3\x84"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(faultOf([&] { decodeBase64(text); }), "图片数据格式无效");
    EXPECT_EQ(faultOf([&] { checkBase64(text); }), "图片数据格式无效");
  }
}

TEST(Base64, EncodingRoundTripsEveryByte) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (const std::size_t length : {0, 1, 2, 3, 254, 256}) {
    EXPECT_EQ(asText(decodeBase64(encodeBase64(all.substr(0, length)))), all.substr(0, length));
  }
  EXPECT_EQ(encodeBase64("A"), "QQ==");
  EXPECT_EQ(encodeBase64("AB"), "QUI=");
}

// The plain one-character-at-a-time decoder: a bit accumulator, padding only at the end.
std::optional<std::string> referenceBase64(std::string_view text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  std::uint32_t accumulator = 0;
  int bits = -8;
  bool padding = false;
  for (const char c : text) {
    if (c == '=') {
      padding = true;
      continue;
    }
    const std::size_t value = alphabet.find(c);
    if (padding || value == std::string::npos) return std::nullopt;
    accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 0) {
      out += static_cast<char>((accumulator >> bits) & 0xFF);
      bits -= 8;
    }
  }
  return out;
}

TEST(Base64, EqualsTheOneCharacterDecoderOnRandomText) {
  std::mt19937 random(27843);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string strays = "=-_ \n:.\0\x80\xFF";
  for (std::size_t length = 0; length <= 200; ++length) {
    for (int variant = 0; variant < 12; ++variant) {
      std::string text;
      for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
      if (variant > 0 && length > 0) {
        // A stray byte at a random place, or padding of one to three signs at the end.
        if (variant % 2 == 1) {
          text[random() % length] = strays[random() % strays.size()];
        } else {
          for (std::size_t i = 0, n = 1 + random() % 3; i < n && i < length; ++i)
            text[length - 1 - i] = '=';
        }
      }
      SCOPED_TRACE(text);
      const std::optional<std::string> expected = referenceBase64(text);
      // The check without output fails exactly when the decoding does.
      EXPECT_EQ(faultOf([&] { checkBase64(text); }), expected ? "ok" : "图片数据格式无效");
      if (expected) {
        EXPECT_EQ(asText(decodeBase64(text)), *expected);
        EXPECT_EQ(base64DecodedSize(text), expected->size());
      } else {
        EXPECT_EQ(faultOf([&] { decodeBase64(text); }), "图片数据格式无效");
      }
    }
  }
}

// The decoder reads at any address and writes exactly its bytes at any address: for every
// alignment of both and every length class of its wide steps, with a bad character in each
// place of a step, the same bytes or fault as the plain decoder and nothing written past the end.
TEST(Base64, EqualsTheOneCharacterDecoderAtEveryAlignment) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t length = 0; length <= 64; length += 4) {
    for (std::size_t bad = 0; bad <= length; ++bad) {  // bad == length: no bad character
      for (const std::size_t padding : {0, 1, 2}) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) text += alphabet[(i * 29 + length) % 64];
        for (std::size_t i = 0; i < padding && i < length; ++i) text[length - 1 - i] = '=';
        if (bad < length) text[bad] = bad % 2 == 0 ? '-' : '\x80';
        const std::optional<std::string> expected = referenceBase64(text);
        for (std::size_t inAt = 0; inAt < 8; ++inAt) {
          for (std::size_t outAt = 0; outAt < 8; ++outAt) {
            SCOPED_TRACE(text + " in +" + std::to_string(inAt) + " out +" + std::to_string(outAt));
            const std::string input = std::string(inAt, 'A') + text;
            std::string output(outAt + length + 16, '\xA5');
            const auto write = [&] {
              decodeBase64Into(std::string_view(input).substr(inAt),
                               reinterpret_cast<std::uint8_t*>(output.data() + outAt));
            };
            ASSERT_EQ(faultOf(write), expected ? "ok" : "图片数据格式无效");
            if (!expected) continue;
            EXPECT_EQ(output.substr(outAt, expected->size()), *expected);
            EXPECT_EQ(output.substr(0, outAt) + output.substr(outAt + expected->size()),
                      std::string(output.size() - expected->size(), '\xA5'));
          }
        }
      }
    }
  }
}

TEST(UrlCodecs, DecodeRules) {
  EXPECT_EQ(urlDecode("a+b%20c"), "a b c");
  EXPECT_EQ(urlDecode("100%4"), "100%4");
  EXPECT_EQ(urlDecode("%"), "%");
  EXPECT_EQ(urlDecode("%E5%9b%BE"), "\xE5\x9B\xBE");
  EXPECT_EQ(urlDecode("a%00b"), std::string("a\0b", 3));
  EXPECT_EQ(urlDecode("%2B+"), "+ ");
  for (const char* bad : {"%zz", "%4g", "x%g0y"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(faultOf([&] { urlDecode(bad); }), "URL 编码无效");
  }
}

TEST(UrlCodecs, FormValueTakesTheFirstMatch) {
  EXPECT_EQ(formValue("origin=a&origin=b", "origin"), "a");
  EXPECT_EQ(formValue("nonce", "nonce"), "");
  EXPECT_EQ(formValue("a=1", "b"), "");
  EXPECT_EQ(formValue("x=1&na%6De=v%20w&name=z", "name"), "v w");
  EXPECT_EQ(formValue("a=1=2&b", "a"), "1=2");
  EXPECT_EQ(formValue("a=%zz&b=2", "b"), "2");  // values of other names are not decoded
  EXPECT_EQ(faultOf([] { formValue("%zz=1&b=2", "b"); }), "URL 编码无效");  // names are, in order
  EXPECT_EQ(formValue("b=2&%zz=1", "b"), "2");
  EXPECT_EQ(faultOf([] { formValue("b=%zz", "b"); }), "URL 编码无效");
}

TEST(UrlCodecs, EncodeKeepsOnlyUnreservedBytes) {
  EXPECT_EQ(urlEncode("http://127.0.0.1:5173"), "http%3A%2F%2F127.0.0.1%3A5173");
  EXPECT_EQ(urlEncode("骨骼 a.spine"), "%E9%AA%A8%E9%AA%BC%20a.spine");
  EXPECT_EQ(urlEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(urlEncode("+%/?&=#"), "%2B%25%2F%3F%26%3D%23");
  EXPECT_EQ(urlEncode(std::string("\0\xFF", 2)), "%00%FF");
  EXPECT_EQ(urlDecode(urlEncode("a b+c%d/骨")), "a b+c%d/骨");
}

TEST(HtmlEscape, ReplacesTheFiveMarkupBytes) {
  EXPECT_EQ(htmlEscape("<a href=\"x\">Tom's & Jerry</a>"),
            "&lt;a href=&quot;x&quot;&gt;Tom&#39;s &amp; Jerry&lt;/a&gt;");
  EXPECT_EQ(htmlEscape("骨骼 http://127.0.0.1:5173"), "骨骼 http://127.0.0.1:5173");
  EXPECT_EQ(htmlEscape("&amp;"), "&amp;amp;");
}

TEST(RandomHexToken, FortyEightFreshLowerCaseDigits) {
  std::set<std::string> tokens;
  std::set<char> digitsSeen;
  for (int i = 0; i < 20; ++i) {
    const std::string token = randomHexToken();
    ASSERT_EQ(token.size(), 48u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
    tokens.insert(token);
    digitsSeen.insert(token.begin(), token.end());
  }
  EXPECT_EQ(tokens.size(), 20u);
  EXPECT_EQ(digitsSeen.size(), 16u);  // 960 draws leave no digit out, short of a broken source
}

}  // namespace
}  // namespace connector
