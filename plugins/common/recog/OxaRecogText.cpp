#include "OxaRecogText.h"

#include <cstdint>
#include <cstdio>

namespace OXA_NS {

namespace {

const char kReplacementChar[] = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence (RFC 3629) starting at p, 0 when it is malformed:
// no overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8SequenceLength(const unsigned char* p, size_t remaining, uint32_t& codepoint) {
  const unsigned char c = p[0];
  if (c < 0x80) {
    codepoint = c;
    return 1;
  }
  size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    codepoint = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    codepoint = c & 0x0F;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    codepoint = c & 0x07;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (remaining < length) return 0;
  for (size_t i = 1; i < length; i++) {
    const unsigned char t = p[i];
    if (t < (i == 1 ? low : 0x80) || t > (i == 1 ? high : 0xBF)) return 0;
    codepoint = (codepoint << 6) | (t & 0x3F);
  }
  return length;
}

// What replaces one character in XML text: null when it is kept as it is.
const char* XmlReplacement(uint32_t codepoint) {
  switch (codepoint) {
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '&':
      return "&amp;";
    case '"':
      return "&quot;";
    case '\'':
      return "&apos;";
    case '\n':
      return " ";
    case '\t':
    case '\r':
      return nullptr;
    case 0xFFFE:
    case 0xFFFF:
      return " ";
    default:
      return codepoint < 0x20 ? " " : nullptr;
  }
}

}  // namespace

bool QuoteXmlElementText(const std::string& text, std::string& out) {
  const unsigned char* data = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  std::string result;
  bool changed = false;
  size_t pos = 0;
  while (pos < size) {
    uint32_t codepoint = 0;
    const size_t length = Utf8SequenceLength(data + pos, size - pos, codepoint);
    const char* replacement = length ? XmlReplacement(codepoint) : kReplacementChar;
    if (replacement) {
      if (!changed) {
        result.reserve(size + 16);
        result.assign(text, 0, pos);
        changed = true;
      }
      result += replacement;
    } else if (changed) {
      result.append(text, pos, length);
    }
    pos += length ? length : 1;
  }
  if (!changed) return false;
  out.swap(result);
  return true;
}

std::string EscapeXmlText(const std::string& text) {
  std::string out;
  return QuoteXmlElementText(text, out) ? out : text;
}

void AppendJsonString(std::string& out, const std::string& text) {
  const unsigned char* data = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  out += '"';
  size_t pos = 0;
  while (pos < size) {
    uint32_t codepoint = 0;
    const size_t length = Utf8SequenceLength(data + pos, size - pos, codepoint);
    if (!length) {
      out += kReplacementChar;
      pos++;
      continue;
    }
    switch (codepoint) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (codepoint < 0x20) {
          char escape[8];
          snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(codepoint));
          out += escape;
        } else {
          out.append(text, pos, length);
        }
    }
    pos += length;
  }
  out += '"';
}

}  // namespace OXA_NS
