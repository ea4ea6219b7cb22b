#include "PbXmlGenerator.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/message.h>

#include <cstdint>
#include <iterator>
#include <locale>
#include <sstream>
#include <vector>

namespace ZORV {

using google::protobuf::Descriptor;
using google::protobuf::EnumValueDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

namespace {

// Default stream formatting (six significant digits for floating point), whatever
// the locale of the process.
template <typename T>
std::string FormatNumber(T value) {
  std::ostringstream os;
  os.imbue(std::locale::classic());
  os << value;
  return os.str();
}

// Bytes fields hold binary data that XML text cannot carry; they are written in
// Base64, as protobuf's JSON form writes them.
std::string EncodeBase64(const std::string& data) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    uint32_t n = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8) | uint8_t(data[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i < data.size()) {
    uint32_t n = uint8_t(data[i]) << 16;
    if (i + 1 < data.size()) n |= uint8_t(data[i + 1]) << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Characters XML 1.0 does not allow anywhere in a document: C0 controls other than
// tab, line feed and carriage return, and U+FFFE and U+FFFF (EF BF BE, EF BF BF in UTF-8).
// Returns the length of such a sequence at pos, or 0.
size_t ForbiddenXmlCharLength(const std::string& text, size_t pos) {
  unsigned char c = static_cast<unsigned char>(text[pos]);
  if (c < 0x20) return (c == '\t' || c == '\n' || c == '\r') ? 0 : 1;
  if (c == 0xEF && pos + 2 < text.size() && static_cast<unsigned char>(text[pos + 1]) == 0xBF) {
    unsigned char last = static_cast<unsigned char>(text[pos + 2]);
    if (last == 0xBE || last == 0xBF) return 3;
  }
  return 0;
}

const char* XmlEntity(char c) {
  switch (c) {
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
    default:
      return nullptr;
  }
}

}  // namespace

PbXmlGenerator::PbXmlGenerator(int level, int indent, bool replaceDots, bool replaceDashes)
    : m_Level(level), m_Indent(indent), m_ReplaceDots(replaceDots), m_ReplaceDashes(replaceDashes) {}

void PbXmlGenerator::ComposeXml(const Message& message, std::ostream& stream) {
  const Reflection* reflection = message.GetReflection();
  std::vector<const FieldDescriptor*> fields;
  reflection->ListFields(message, &fields);
  for (const FieldDescriptor* field : fields) ComposeXmlField(message, *reflection, *field, stream);
  // A key element whose value never came (a map entry without a message value) is closed
  // where its content ends, so that the elements stay nested.
  CloseKeyElements(m_Level, stream);
}

void PbXmlGenerator::ComposeXmlField(const Message& message, const Reflection& reflection,
                                     const FieldDescriptor& field, std::ostream& stream) {
  if (field.is_repeated()) {
    int count = reflection.FieldSize(message, &field);
    for (int i = 0; i < count; ++i) ComposeXmlFieldValue(message, reflection, field, i, stream);
  } else if (reflection.HasField(message, &field)) {
    ComposeXmlFieldValue(message, reflection, field, -1, stream);
  }
}

void PbXmlGenerator::ComposeXmlFieldValue(const Message& message, const Reflection& reflection,
                                          const FieldDescriptor& field, int index, std::ostream& stream) {
  const std::string fieldName = GetXmlFieldName(field);
  const std::string name = ValidateXmlElementName(fieldName);
  const bool repeated = field.is_repeated();

  switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      ComposeNumber(name, FormatNumber(repeated ? reflection.GetRepeatedInt32(message, &field, index)
                                                : reflection.GetInt32(message, &field)),
                    stream);
      break;
    case FieldDescriptor::CPPTYPE_INT64:
      ComposeNumber(name, FormatNumber(repeated ? reflection.GetRepeatedInt64(message, &field, index)
                                                : reflection.GetInt64(message, &field)),
                    stream);
      break;
    case FieldDescriptor::CPPTYPE_UINT32:
      ComposeNumber(name, FormatNumber(repeated ? reflection.GetRepeatedUInt32(message, &field, index)
                                                : reflection.GetUInt32(message, &field)),
                    stream);
      break;
    case FieldDescriptor::CPPTYPE_UINT64:
      ComposeNumber(name, FormatNumber(repeated ? reflection.GetRepeatedUInt64(message, &field, index)
                                                : reflection.GetUInt64(message, &field)),
                    stream);
      break;
    case FieldDescriptor::CPPTYPE_FLOAT:
      ComposeNumber(name, FormatNumber(repeated ? reflection.GetRepeatedFloat(message, &field, index)
                                                : reflection.GetFloat(message, &field)),
                    stream);
      break;
    case FieldDescriptor::CPPTYPE_DOUBLE:
      ComposeNumber(name, FormatNumber(repeated ? reflection.GetRepeatedDouble(message, &field, index)
                                                : reflection.GetDouble(message, &field)),
                    stream);
      break;
    case FieldDescriptor::CPPTYPE_BOOL: {
      bool value = repeated ? reflection.GetRepeatedBool(message, &field, index) : reflection.GetBool(message, &field);
      const char* text = value ? "true" : "false";
      if (fieldName == "bool_value")
        stream << text;
      else
        ComposeNumber(name, text, stream);
      break;
    }
    case FieldDescriptor::CPPTYPE_ENUM: {
      const EnumValueDescriptor* value =
          repeated ? reflection.GetRepeatedEnum(message, &field, index) : reflection.GetEnum(message, &field);
      ComposeNumber(name, value->name(), stream);
      break;
    }
    case FieldDescriptor::CPPTYPE_STRING: {
      std::string scratch;
      const std::string& value = repeated ? reflection.GetRepeatedStringReference(message, &field, index, &scratch)
                                          : reflection.GetStringReference(message, &field, &scratch);
      if (field.type() == FieldDescriptor::TYPE_BYTES)
        ComposeText(fieldName, name, EncodeBase64(value), stream);
      else
        ComposeText(fieldName, name, value, stream);
      break;
    }
    case FieldDescriptor::CPPTYPE_MESSAGE: {
      const Message& value =
          repeated ? reflection.GetRepeatedMessage(message, &field, index) : reflection.GetMessage(message, &field);
      if (fieldName == "fields") {
        ComposeXml(value, stream);
      } else if (fieldName == "value") {
        // The key element of the enclosing map entry holds the value's content.
        ++m_Level;
        ComposeXml(value, stream);
        --m_Level;
        CloseKeyElements(m_Level, stream);
      } else if (fieldName == "struct_value") {
        InsertLineBreak(stream);
        ComposeXml(value, stream);
        // Puts the key's end tag, written next, at the key's own indentation.
        InsertIndent(stream, (m_Level - 1) * m_Indent);
      } else {
        InsertLevelIndent(stream);
        InsertStartOfElement(stream, name);
        InsertLineBreak(stream);
        ++m_Level;
        ComposeXml(value, stream);
        --m_Level;
        InsertLevelIndent(stream);
        InsertEndOfElement(stream, name);
        InsertLineBreak(stream);
      }
      break;
    }
  }
}

void PbXmlGenerator::ComposeNumber(const std::string& name, const std::string& text, std::ostream& stream) {
  if (name == "number_value") {
    stream << text;
    return;
  }
  InsertLevelIndent(stream);
  InsertStartOfElement(stream, name);
  stream << text;
  InsertEndOfElement(stream, name);
  InsertLineBreak(stream);
}

void PbXmlGenerator::ComposeText(const std::string& fieldName, const std::string& name, const std::string& text,
                                 std::ostream& stream) {
  if (fieldName == "key") {
    OpenKeyElement(ValidateXmlElementName(text), stream);
    return;
  }
  std::string quoted;
  const std::string& content = QuoteXmlElementText(text, quoted) ? quoted : text;
  if (fieldName == "string_value") {
    stream << content;
    return;
  }
  InsertLevelIndent(stream);
  InsertStartOfElement(stream, name);
  stream << content;
  InsertEndOfElement(stream, name);
  InsertLineBreak(stream);
}

void PbXmlGenerator::OpenKeyElement(const std::string& name, std::ostream& stream) {
  CloseKeyElements(m_Level, stream);
  InsertLevelIndent(stream);
  InsertStartOfElement(stream, name);
  m_OpenKeys[m_Level] = name;
}

void PbXmlGenerator::CloseKeyElements(int level, std::ostream& stream) {
  while (!m_OpenKeys.empty()) {
    auto last = std::prev(m_OpenKeys.end());
    if (last->first < level) break;
    InsertEndOfElement(stream, last->second);
    InsertLineBreak(stream);
    m_OpenKeys.erase(last);
  }
}

std::string PbXmlGenerator::GetXmlFieldName(const FieldDescriptor& field) const {
  if (field.is_extension()) {
    const Descriptor* type = field.message_type();
    if (type && field.containing_type()->options().message_set_wire_format() &&
        field.type() == FieldDescriptor::TYPE_MESSAGE && field.is_optional() && field.extension_scope() == type)
      return type->full_name();
    return field.full_name();
  }
  if (field.type() == FieldDescriptor::TYPE_GROUP) return field.message_type()->name();
  return field.name();
}

std::string PbXmlGenerator::ValidateXmlElementName(const std::string& name) const {
  std::string out(name);
  for (char& c : out) {
    if (c == ' ' || (c == '.' && m_ReplaceDots) || (c == '-' && m_ReplaceDashes)) c = '_';
  }
  return out;
}

void PbXmlGenerator::InsertIndent(std::ostream& stream, int count) {
  for (int i = 0; i < count; ++i) stream << ' ';
}

void PbXmlGenerator::InsertStartOfElement(std::ostream& stream, const std::string& name) {
  stream << '<' << name << '>';
}

void PbXmlGenerator::InsertEndOfElement(std::ostream& stream, const std::string& name) {
  stream << "</" << name << '>';
}

bool PbXmlGenerator::QuoteXmlElementText(const std::string& text, std::string& out) {
  size_t first = 0;
  while (first < text.size() && !XmlEntity(text[first]) && text[first] != '\n' && !ForbiddenXmlCharLength(text, first))
    ++first;
  if (first == text.size()) return false;

  std::string quoted(text, 0, first);
  quoted.reserve(text.size() + 16);
  for (size_t i = first; i < text.size(); ++i) {
    if (const char* entity = XmlEntity(text[i])) {
      quoted += entity;
    } else if (text[i] == '\n') {
      quoted += ' ';
    } else if (size_t forbidden = ForbiddenXmlCharLength(text, i)) {
      // No XML document may hold these, not even as character references.
      quoted += ' ';
      i += forbidden - 1;
    } else {
      quoted += text[i];
    }
  }
  out.swap(quoted);
  return true;
}

void PbXmlGenerator::InsertLineBreak(std::ostream& stream) const {
  if (m_Indent != 0) stream << '\n';
}

void PbXmlGenerator::InsertLevelIndent(std::ostream& stream) const {
  InsertIndent(stream, m_Level * m_Indent);
}

}  // namespace ZORV
