// Checks that composed XML content is well-formed, by parsing it inside one root element.
#ifndef ZORV_TEST_XML_CHECK_H
#define ZORV_TEST_XML_CHECK_H

#include <expat.h>

#include <string>

namespace ZORV {
namespace test {

// Content may hold several top-level elements; error receives expat's reason.
inline bool IsWellFormedXml(const std::string& content, std::string* error = nullptr) {
  const std::string doc = "<root>" + content + "</root>";
  XML_Parser parser = XML_ParserCreate("UTF-8");
  bool ok = XML_Parse(parser, doc.data(), static_cast<int>(doc.size()), 1) == XML_STATUS_OK;
  if (!ok && error)
    *error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at column " +
             std::to_string(XML_GetCurrentColumnNumber(parser));
  XML_ParserFree(parser);
  return ok;
}

}  // namespace test
}  // namespace ZORV

#endif  // ZORV_TEST_XML_CHECK_H
