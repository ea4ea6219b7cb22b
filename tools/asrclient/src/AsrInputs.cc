#include "AsrInputs.h"

#include <apr_pools.h>
#include <apr_xml.h>
#include <strings.h>

#include <cctype>

namespace asrclient {

namespace {

bool Fail(std::string *error, const std::string &text) {
  if (error) *error = text;
  return false;
}

std::string Trim(const std::string &text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

// RFC 3986 scheme followed by ':'; a single letter is not taken for one.
bool HasUriScheme(const std::string &text) {
  if (text.empty() || !isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (size_t i = 1; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ':') return i >= 2;
    if (!isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

bool ParseEntry(const std::string &item, GrammarEntry *entry, bool *weighted, std::string *error) {
  if (item.empty()) return Fail(error, "empty entry in the grammar list");
  std::string target = item;
  if (item[0] == '<') {
    size_t close = item.find('>');
    if (close == std::string::npos) return Fail(error, "no closing '>' in grammar entry [" + item + "]");
    target = Trim(item.substr(1, close - 1));
    entry->params = Trim(item.substr(close + 1));
    if (!entry->params.empty() && entry->params[0] != ';') {
      return Fail(error, "unexpected text after '>' in grammar entry [" + item + "]");
    }
    *weighted = true;
  }
  if (target.empty()) return Fail(error, "empty grammar name in entry [" + item + "]");
  entry->target = target;
  entry->is_file = !HasUriScheme(target);
  return true;
}

bool RefusedHeader(const std::string &name) {
  static const char *const kClientHeaders[] = {"Content-Type", "Content-Id", "Content-Length", "Channel-Identifier"};
  for (const char *header : kClientHeaders) {
    if (strcasecmp(name.c_str(), header) == 0) return true;
  }
  return false;
}

}  // namespace

bool ParseGrammarArgument(const std::string &text, GrammarArgument *out, std::string *error) {
  GrammarArgument result;
  std::string item;
  int depth = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : ',';
    if (c == '<') ++depth;
    if (c == '>' && depth > 0) --depth;
    if ((c == ',' && depth == 0) || i == text.size()) {
      GrammarEntry entry;
      if (!ParseEntry(Trim(item), &entry, &result.weighted, error)) return false;
      result.entries.push_back(entry);
      item.clear();
      continue;
    }
    item += c;
  }
  *out = result;
  return true;
}

bool GrammarContentType(const std::string &document, std::string *content_type, std::string *error) {
  size_t start = 0;
  if (document.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  start = document.find_first_not_of(" \t\r\n", start);
  if (start == std::string::npos) return Fail(error, "the grammar is empty");
  if (document.compare(start, 5, "#ABNF") == 0) {
    *content_type = "application/srgs";
    return true;
  }
  if (document[start] != '<') return Fail(error, "the grammar is neither XML nor SRGS ABNF");

  apr_pool_t *pool = nullptr;
  if (apr_pool_create(&pool, nullptr) != APR_SUCCESS) return Fail(error, "no memory");
  apr_xml_parser *parser = apr_xml_parser_create(pool);
  apr_xml_doc *doc = nullptr;
  bool ok = apr_xml_parser_feed(parser, document.data(), document.size()) == APR_SUCCESS &&
            apr_xml_parser_done(parser, &doc) == APR_SUCCESS && doc && doc->root;
  if (!ok) {
    char why[200] = "";
    apr_xml_parser_geterror(parser, why, sizeof(why));
    apr_pool_destroy(pool);
    return Fail(error, std::string("the grammar is not well-formed XML: ") + why);
  }
  const std::string root = doc->root->name ? doc->root->name : "";
  apr_pool_destroy(pool);
  if (root == "grammar") {
    *content_type = "application/srgs+xml";
  } else if (root == "speech-context") {
    *content_type = "application/xml";
  } else {
    return Fail(error, "the root element <" + root + "> is neither an SRGS <grammar> nor a <speech-context>");
  }
  return true;
}

std::string GrammarContentId(const std::string &file_name) {
  std::string name = file_name.substr(file_name.find_last_of('/') + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  std::string id;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (isalnum(u) || c == '-' || c == '_' || c == '.') id += c;
  }
  if (id.empty()) id = "grammar";
  return id + "@voxprobe";
}

std::string GrammarListBody(const GrammarArgument &grammars, const std::vector<std::string> &session_uris) {
  std::string body;
  for (size_t i = 0; i < grammars.entries.size(); ++i) {
    const GrammarEntry &entry = grammars.entries[i];
    const std::string &uri = entry.is_file && i < session_uris.size() ? session_uris[i] : entry.target;
    if (grammars.weighted) {
      body += "<" + uri + ">" + entry.params + "\r\n";
    } else {
      body += uri + "\r\n";
    }
  }
  return body;
}

bool ParseHeaderLines(const std::string &text, std::vector<HeaderLine> *out, std::string *error) {
  std::vector<HeaderLine> headers;
  size_t pos = 0;
  size_t number = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = "line " + std::to_string(number) + ": ";
    if (Trim(line).empty() || line[0] == '#') continue;
    if (line[0] == ' ' || line[0] == '\t') {
      if (headers.empty()) return Fail(error, where + "continuation line before any header");
      headers.back().value += " " + Trim(line);
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) return Fail(error, where + "no ':' in [" + line + "]");
    HeaderLine header;
    header.name = Trim(line.substr(0, colon));
    header.value = Trim(line.substr(colon + 1));
    header.line = number;
    if (header.name.empty()) return Fail(error, where + "no header name in [" + line + "]");
    for (char c : header.name) {
      const unsigned char u = static_cast<unsigned char>(c);
      if (u <= ' ' || u >= 0x7F || c == ':') return Fail(error, where + "bad header name [" + header.name + "]");
    }
    if (RefusedHeader(header.name)) {
      return Fail(error, where + header.name + " is set by the client, not by a parameters file");
    }
    headers.push_back(header);
  }
  *out = headers;
  return true;
}

}  // namespace asrclient
