// What a user hands the ASR client as text: the grammar argument, grammar documents and files of
// MRCP headers. Pure parsing, no I/O, so the tests and the fuzz target feed them directly.
#ifndef ASRCLIENT_ASR_INPUTS_H
#define ASRCLIENT_ASR_INPUTS_H

#include <cstddef>
#include <string>
#include <vector>

namespace asrclient {

// One entry of the grammar argument.
struct GrammarEntry {
  bool is_file = false;  // a grammar file of the data directory, defined by DEFINE-GRAMMAR
  std::string target;    // the file name or the URI
  std::string params;    // what followed the closing '>' of a weighted entry, e.g. ;weight="2.0"
};

struct GrammarArgument {
  std::vector<GrammarEntry> entries;
  bool weighted = false;  // some entry was written <...>: the list goes as text/grammar-ref-list
};

// Splits a comma-separated list (commas inside <...> do not split). An entry that starts with a
// URI scheme (builtin:, session:, http:, ...) is passed through; any other names a file.
bool ParseGrammarArgument(const std::string &text, GrammarArgument *out, std::string *error);

// The Content-Type of a grammar document judged by its content: SRGS XML (root <grammar>),
// a speech-context document (root <speech-context>) or SRGS ABNF ("#ABNF" header).
bool GrammarContentType(const std::string &document, std::string *content_type, std::string *error);

// A Content-Id for a grammar file: its name without folder and extension, reduced to letters,
// digits, '-', '_' and '.', and "@voxprobe".
std::string GrammarContentId(const std::string &file_name);

// The RECOGNIZE body: one line per entry (files by their session: URI, given in session_uris in
// entry order, empty for URIs), CRLF-terminated; weighted lists keep the <...> form.
std::string GrammarListBody(const GrammarArgument &grammars, const std::vector<std::string> &session_uris);

struct HeaderLine {
  std::string name;
  std::string value;
  size_t line = 0;  // 1-based line of the file
};

// "Name: value" lines; blank lines and lines starting with '#' are skipped, a line starting with
// a space or tab continues the previous value. Headers the client sets itself (Content-Type,
// Content-Id, Content-Length, Channel-Identifier) are refused.
bool ParseHeaderLines(const std::string &text, std::vector<HeaderLine> *out, std::string *error);

}  // namespace asrclient

#endif  // ASRCLIENT_ASR_INPUTS_H
