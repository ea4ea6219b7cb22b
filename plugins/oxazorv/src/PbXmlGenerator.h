// Writes a protobuf message as XML text, walking it by reflection. Struct, Value and
// ListValue come out as one element per key. The element and escaping helpers are also
// used for the NLSML documents of the recognizer.
#ifndef ZORV_PB_XML_GENERATOR_H
#define ZORV_PB_XML_GENERATOR_H

#include <map>
#include <ostream>
#include <string>

namespace google {
namespace protobuf {
class FieldDescriptor;
class Message;
class Reflection;
}  // namespace protobuf
}  // namespace google

namespace ZORV {

class PbXmlGenerator {
 public:
  // level: starting nesting level; indent: spaces per level, where 0 also drops line breaks.
  PbXmlGenerator(int level, int indent, bool replaceDots, bool replaceDashes);

  // Writes every set field of the message.
  void ComposeXml(const google::protobuf::Message& message, std::ostream& stream);
  // A repeated field writes each element in order; a singular one only when set.
  void ComposeXmlField(const google::protobuf::Message& message, const google::protobuf::Reflection& reflection,
                       const google::protobuf::FieldDescriptor& field, std::ostream& stream);
  // One value; index is ignored for a singular field.
  void ComposeXmlFieldValue(const google::protobuf::Message& message, const google::protobuf::Reflection& reflection,
                            const google::protobuf::FieldDescriptor& field, int index, std::ostream& stream);
  // "number_value" is written bare (inside its key element); other names as an element on its own line.
  void ComposeNumber(const std::string& name, const std::string& text, std::ostream& stream);

  std::string GetXmlFieldName(const google::protobuf::FieldDescriptor& field) const;
  std::string ValidateXmlElementName(const std::string& name) const;

  int GetLevel() const { return m_Level; }

  static void InsertIndent(std::ostream& stream, int count);
  static void InsertStartOfElement(std::ostream& stream, const std::string& name);
  static void InsertEndOfElement(std::ostream& stream, const std::string& name);
  // Escapes text for XML content into out. Returns false, leaving out untouched, when the
  // text needs no change.
  static bool QuoteXmlElementText(const std::string& text, std::string& out);

 private:
  void InsertLineBreak(std::ostream& stream) const;
  void InsertLevelIndent(std::ostream& stream) const;
  // fieldName selects the rule ("key", "string_value" or a plain element), name is the element name.
  void ComposeText(const std::string& fieldName, const std::string& name, const std::string& text,
                   std::ostream& stream);
  void OpenKeyElement(const std::string& name, std::ostream& stream);
  // Closes the key elements recorded at level and deeper, innermost first.
  void CloseKeyElements(int level, std::ostream& stream);

  int m_Level;
  int m_Indent;
  bool m_ReplaceDots;
  bool m_ReplaceDashes;
  std::map<int, std::string> m_OpenKeys;  // key elements opened and not yet closed, by level
};

}  // namespace ZORV

#endif  // ZORV_PB_XML_GENERATOR_H
