// Text helpers for what the recognizers write: NLSML bodies and detail records.
#ifndef OXA_RECOG_TEXT_H
#define OXA_RECOG_TEXT_H

#include <string>

#include "OxaNamespace.h"

namespace OXA_NS {

// Escapes text for XML element content and attribute values: '<', '>', '&', '"' and '\''
// become entity references and a line feed becomes a space. Characters that XML 1.0 cannot
// carry at all (other control characters, U+FFFE, U+FFFF) also become a space, and bytes that
// are not well-formed UTF-8 become U+FFFD, so the document stays well-formed whatever the
// service or the client sent. Returns false, leaving out untouched, when nothing had to change.
bool QuoteXmlElementText(const std::string& text, std::string& out);

// The escaped text, or the text itself when nothing had to change.
std::string EscapeXmlText(const std::string& text);

// Appends text as a JSON string (with its double quotes); control characters are escaped and
// malformed UTF-8 becomes U+FFFD, so the value always parses.
void AppendJsonString(std::string& out, const std::string& text);

}  // namespace OXA_NS

#endif  // OXA_RECOG_TEXT_H
