// Session script parser.
#include "script.h"

#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "mrcphost/host_audio.h"
#include "mrcphost/host_mrcp_message.h"

namespace oxahost {

namespace {

struct RawLine {
  int number;
  std::string text;
};

bool IsBlank(const std::string &s) { return s.find_first_not_of(" \t") == std::string::npos; }

size_t Indent(const std::string &s) {
  size_t n = s.find_first_not_of(" \t");
  return n == std::string::npos ? s.size() : n;
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Whitespace-separated words; "double quotes" keep spaces, \" and \\ escape inside them.
bool Tokenize(const std::string &line, std::vector<std::string> *tokens, std::string *error) {
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string token;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      char c = line[i++];
      if (c == '"') {
        quoted = !quoted;
      } else if (quoted && c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
        token += line[i++];
      } else {
        token += c;
      }
    }
    if (quoted) {
      *error = "unterminated quote";
      return false;
    }
    tokens->push_back(token);
  }
  return true;
}

// A value written after a condition's operator: trimmed, and unquoted when quoted as a whole.
std::string ConditionValue(const std::string &rest) {
  std::string value = Trim(rest);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    std::string out;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
      if (value[i] == '\\' && i + 2 < value.size() && (value[i + 1] == '"' || value[i + 1] == '\\')) ++i;
      out += value[i];
    }
    return out;
  }
  return value;
}

bool IsEventName(const std::string &name) {
  for (mrcp_resource_id r = 0; r < MRCP_RESOURCE_TYPE_COUNT; ++r) {
    if (mrcp_event_name_get(r, mrcp_event_find(r, name.c_str()))) return true;
  }
  return false;
}

bool IsMethodName(const std::string &name) {
  for (mrcp_resource_id r = 0; r < MRCP_RESOURCE_TYPE_COUNT; ++r) {
    if (mrcp_method_name_get(r, mrcp_method_find(r, name.c_str()))) return true;
  }
  return false;
}

bool IsState(const std::string &word) {
  return word == "COMPLETE" || word == "IN-PROGRESS" || word == "PENDING";
}

bool IsChannelName(const std::string &name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') return false;
  }
  return true;
}

std::string DirName(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

class Parser {
 public:
  Parser(const std::string &path, const ParseContext &context, Script *out)
      : m_Path(path), m_Defines(context.defines), m_UseEnv(context.use_environment), m_Timeout(context.timeout),
        m_Fast(context.fast), m_Out(out) {
    if (!m_Defines.count("SCRIPT_DIR")) m_Defines["SCRIPT_DIR"] = DirName(path);
  }

  bool Parse(const std::string &text, std::string *error) {
    std::vector<RawLine> lines;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back({++number, line});
    }
    size_t i = 0;
    while (i < lines.size()) {
      const RawLine &raw = lines[i++];
      const std::string trimmed = Trim(raw.text);
      if (trimmed.empty() || trimmed[0] == '#') continue;
      // The block of a command: the lines indented deeper, blank lines inside it included.
      const size_t indent = Indent(raw.text);
      std::vector<RawLine> block;
      size_t j = i;
      while (j < lines.size() && (IsBlank(lines[j].text) || Indent(lines[j].text) > indent)) ++j;
      while (j > i && IsBlank(lines[j - 1].text)) --j;
      block.assign(lines.begin() + static_cast<long>(i), lines.begin() + static_cast<long>(j));
      i = j;
      m_Line = raw.number;
      std::string expanded;
      std::string why;
      if (!ExpandVariables(trimmed, m_Defines, m_UseEnv, &expanded, &why)) return Fail(error, why);
      if (!ParseCommand(expanded, block, &why)) return Fail(error, why);
    }
    return true;
  }

 private:
  bool Fail(std::string *error, const std::string &why) {
    *error = m_Path + ":" + std::to_string(m_Line) + ": " + why;
    return false;
  }

  // Removes "within DUR" (or the word given) and its duration from the tokens.
  bool TakeDuration(std::vector<std::string> *tokens, const char *word, Millis *out, bool *found, std::string *why) {
    for (size_t k = 0; k < tokens->size(); ++k) {
      if ((*tokens)[k] != word) continue;
      if (k + 1 >= tokens->size() || !ParseDuration((*tokens)[k + 1], out)) {
        *why = std::string("'") + word + "' needs a duration like 500ms or 5s";
        return false;
      }
      tokens->erase(tokens->begin() + static_cast<long>(k), tokens->begin() + static_cast<long>(k) + 2);
      *found = true;
      return true;
    }
    *found = false;
    return true;
  }

  bool TakeWord(std::vector<std::string> *tokens, const char *word) {
    for (size_t k = 0; k < tokens->size(); ++k) {
      if ((*tokens)[k] == word) {
        tokens->erase(tokens->begin() + static_cast<long>(k));
        return true;
      }
    }
    return false;
  }

  bool NoBlock(const std::vector<RawLine> &block, const std::string &what, std::string *why) {
    if (block.empty()) return true;
    m_Line = block.front().number;
    *why = "unexpected indented line after " + what;
    return false;
  }

  bool ParseCommand(const std::string &line, const std::vector<RawLine> &block, std::string *why) {
    Command c;
    c.line = m_Line;
    c.source = line;
    c.timeout = m_Timeout;
    c.fast = m_Fast;
    bool found = false;
    // print takes the rest of its line as it is.
    if (line.compare(0, 5, "print") == 0 && (line.size() == 5 || line[5] == ' ' || line[5] == '\t')) {
      c.kind = CommandKind::kPrint;
      c.text = Trim(line.substr(5));
      return NoBlock(block, "print", why) && Add(std::move(c));
    }
    std::vector<std::string> t;
    if (!Tokenize(line, &t, why)) return false;
    const std::string word = t[0];
    if (word == "let") {
      if (t.size() < 2) return *why = "let needs a name", false;
      size_t at = line.find(t[1]) + t[1].size();
      m_Defines[t[1]] = Trim(line.substr(at));
      return NoBlock(block, "let", why);
    }
    if (word == "plugin") {
      if (t.size() != 2) return *why = "plugin needs one path", false;
      m_Out->plugin = t[1];
      return NoBlock(block, "plugin", why);
    }
    if (word == "param") {
      size_t eq = t.size() == 2 ? t[1].find('=') : std::string::npos;
      if (eq == std::string::npos || eq == 0) return *why = "param needs NAME=VALUE", false;
      m_Out->params.emplace_back(t[1].substr(0, eq), t[1].substr(eq + 1));
      return NoBlock(block, "param", why);
    }
    if (word == "set") {
      if (t.size() != 3) return *why = "set needs a setting and a value", false;
      if (t[1] == "timeout") {
        if (!ParseDuration(t[2], &m_Timeout)) return *why = "bad duration " + t[2], false;
      } else if (t[1] == "pacing") {
        if (t[2] != "fast" && t[2] != "realtime") return *why = "pacing is fast or realtime", false;
        m_Fast = t[2] == "fast";
      } else {
        return *why = "unknown setting " + t[1] + " (timeout, pacing)", false;
      }
      return NoBlock(block, "set", why);
    }
    if (word == "sleep") {
      c.kind = CommandKind::kSleep;
      if (t.size() != 2 || !ParseDuration(t[1], &c.duration)) return *why = "sleep needs a duration", false;
      return NoBlock(block, "sleep", why) && Add(std::move(c));
    }
    if (word == "engine") {
      m_Out->uses_engine_commands = true;
      if (!TakeDuration(&t, "within", &c.timeout, &found, why)) return false;
      c.fails = TakeWord(&t, "fails");
      if (t.size() != 2 || (t[1] != "open" && t[1] != "close")) return *why = "engine open or engine close", false;
      if (c.fails && t[1] == "close") return *why = "engine close cannot be expected to fail", false;
      c.kind = t[1] == "open" ? CommandKind::kEngineOpen : CommandKind::kEngineClose;
      return NoBlock(block, "engine", why) && Add(std::move(c));
    }

    // Channel commands: <command> <channel> ...
    static const std::map<std::string, CommandKind> kChannelCommands = {
        {"open", CommandKind::kOpen},           {"close", CommandKind::kClose},
        {"send", CommandKind::kSend},           {"expect", CommandKind::kExpect},
        {"expect-none", CommandKind::kExpectNone}, {"audio", CommandKind::kAudio},
        {"silence", CommandKind::kSilence},     {"dtmf", CommandKind::kDtmf},
        {"wait-audio", CommandKind::kWaitAudio}, {"expect-audio", CommandKind::kExpectAudio}};
    auto kind = kChannelCommands.find(word);
    if (kind == kChannelCommands.end()) return *why = "unknown command '" + word + "'", false;
    c.kind = kind->second;
    if (t.size() < 2 || !IsChannelName(t[1])) return *why = word + " needs a channel name", false;
    c.channel = t[1];
    t.erase(t.begin(), t.begin() + 2);
    switch (c.kind) {
      case CommandKind::kOpen:
        return ParseOpen(t, &c, why) && NoBlock(block, "open", why) && Add(std::move(c));
      case CommandKind::kClose:
      case CommandKind::kWaitAudio:
        if (!TakeDuration(&t, "within", &c.timeout, &found, why)) return false;
        if (!t.empty()) return *why = "unexpected '" + t[0] + "'", false;
        return NoBlock(block, word, why) && Add(std::move(c));
      case CommandKind::kSend:
        return ParseSend(t, block, &c, why) && Add(std::move(c));
      case CommandKind::kExpect:
        return ParseExpect(t, block, false, &c, why) && Add(std::move(c));
      case CommandKind::kExpectNone:
        return ParseExpect(t, block, true, &c, why) && Add(std::move(c));
      case CommandKind::kAudio:
        if (TakeWord(&t, "fast")) c.fast = true;
        if (TakeWord(&t, "realtime")) c.fast = false;
        if (t.size() != 1) return *why = "audio needs one file", false;
        c.path = t[0];
        return NoBlock(block, "audio", why) && Add(std::move(c));
      case CommandKind::kSilence:
        if (t.size() != 1 || !ParseDuration(t[0], &c.duration)) return *why = "silence needs a duration", false;
        return NoBlock(block, "silence", why) && Add(std::move(c));
      case CommandKind::kDtmf:
        return ParseDtmf(t, &c, why) && NoBlock(block, "dtmf", why) && Add(std::move(c));
      case CommandKind::kExpectAudio:
        if (!TakeDuration(&t, "within", &c.timeout, &found, why)) return false;
        if (t.size() != 1 || !ParseDuration(t[0], &c.duration)) {
          return *why = "expect-audio needs an amount of audio like 500ms", false;
        }
        return NoBlock(block, "expect-audio", why) && Add(std::move(c));
      default:
        return *why = "unknown command", false;
    }
  }

  bool ParseOpen(std::vector<std::string> &t, Command *c, std::string *why) {
    bool found = false;
    if (!TakeDuration(&t, "within", &c->timeout, &found, why)) return false;
    c->fails = TakeWord(&t, "fails");
    for (const std::string &token : t) {
      size_t eq = token.find('=');
      if (eq == std::string::npos) return *why = "open takes NAME=VALUE options, not '" + token + "'", false;
      const std::string name = token.substr(0, eq);
      const std::string value = token.substr(eq + 1);
      if (name == "version") {
        if (value != "1" && value != "2") return *why = "version is 1 or 2", false;
        c->version = value == "1" ? 1 : 2;
      } else if (name == "codec") {
        c->codec = value;
      } else if (name == "rate") {
        char *end = nullptr;
        long rate = strtol(value.c_str(), &end, 10);
        if (value.empty() || *end || rate <= 0) return *why = "bad rate " + value, false;
        c->rate = static_cast<unsigned>(rate);
      } else if (name == "id") {
        c->id = value;
      } else if (name == "record") {
        c->record = value;
      } else if (name.compare(0, 5, "attr.") == 0 && name.size() > 5) {
        c->attribs.emplace_back(name.substr(5), value);
      } else {
        return *why = "unknown open option " + name + " (version, codec, rate, id, record, attr.NAME)", false;
      }
    }
    return true;
  }

  bool ParseSend(std::vector<std::string> &t, const std::vector<RawLine> &block, Command *c, std::string *why) {
    std::string body_file;
    for (size_t k = 1; k < t.size(); ++k) {
      if (t[k].compare(0, 10, "body-file=") != 0) return *why = "unexpected '" + t[k] + "'", false;
      body_file = t[k].substr(10);
    }
    if (t.empty()) return *why = "send needs a method", false;
    if (!IsMethodName(t[0])) return *why = "unknown method " + t[0], false;
    // Block lines lose the indentation of the first one; headers end at the first blank line.
    std::vector<std::string> headers;
    std::vector<std::string> body;
    bool in_body = false;
    size_t strip = block.empty() ? 0 : Indent(block.front().text);
    for (const RawLine &raw : block) {
      m_Line = raw.number;
      std::string text;
      if (!ExpandVariables(raw.text, m_Defines, m_UseEnv, &text, why)) return false;
      if (!in_body && IsBlank(text)) {
        in_body = true;
        continue;
      }
      if (!IsBlank(text) && Indent(text) < strip) return *why = "line indented less than the first of its block", false;
      text = text.size() >= strip ? text.substr(strip) : std::string();
      if (in_body) {
        body.push_back(text);
      } else {
        if (text.find(':') == std::string::npos) return *why = "header without ':' (a blank line starts the body)", false;
        headers.push_back(text);
      }
    }
    m_Line = c->line;
    std::string body_text;
    for (size_t k = 0; k < body.size(); ++k) body_text += (k ? "\n" : "") + body[k];
    if (!body_file.empty()) {
      if (!body_text.empty()) return *why = "a body in the script and a body-file", false;
      if (!mrcphost::ReadWholeFile(body_file, &body_text)) return *why = "cannot read " + body_file, false;
    }
    std::string request = t[0] + "\r\n";
    for (const std::string &h : headers) request += h + "\r\n";
    request += "\r\n" + body_text;
    c->request = request;
    return true;
  }

  bool ParseExpect(std::vector<std::string> &t, const std::vector<RawLine> &block, bool none, Command *c,
                   std::string *why) {
    bool found = false;
    if (none) {
      if (!TakeDuration(&t, "for", &c->timeout, &found, why)) return false;
      if (!found) return *why = "expect-none needs 'for DURATION'", false;
    } else if (!TakeDuration(&t, "within", &c->timeout, &found, why)) {
      return false;
    }
    if (!none) c->next = TakeWord(&t, "next");
    if (t.empty()) return *why = "expect what: response, an event name or any", false;
    const std::string what = t[0];
    t.erase(t.begin());
    if (what == "response") {
      c->response = true;
      for (size_t k = 0; k < t.size(); ++k) {
        if (t[k] == "to" && k + 1 < t.size()) {
          if (!IsMethodName(t[k + 1])) return *why = "unknown method " + t[k + 1], false;
          c->to_method = t[++k];
        } else if (!none && t[k].size() == 3 && isdigit(static_cast<unsigned char>(t[k][0]))) {
          c->conditions.push_back({Condition::kStatus, "", t[k], nullptr, c->line, "status " + t[k]});
        } else if (!none && IsState(t[k])) {
          c->conditions.push_back({Condition::kState, "", t[k], nullptr, c->line, "state " + t[k]});
        } else {
          return *why = "unexpected '" + t[k] + "'", false;
        }
      }
    } else if (what == "any") {
      c->any = true;
      if (!t.empty()) return *why = "unexpected '" + t[0] + "'", false;
    } else {
      if (!IsEventName(what)) return *why = "unknown event " + what + " (or response, any)", false;
      c->event = what;
      for (const std::string &word : t) {
        if (none || !IsState(word)) return *why = "unexpected '" + word + "'", false;
        c->conditions.push_back({Condition::kState, "", word, nullptr, c->line, "state " + word});
      }
    }
    for (const RawLine &raw : block) {
      m_Line = raw.number;
      std::string text;
      if (!ExpandVariables(Trim(raw.text), m_Defines, m_UseEnv, &text, why)) return false;
      if (text.empty() || text[0] == '#') continue;
      if (none) return *why = "expect-none takes no conditions", false;
      Condition condition;
      if (!ParseCondition(text, &condition, why)) return false;
      c->conditions.push_back(std::move(condition));
    }
    m_Line = c->line;
    return true;
  }

  struct Operator {
    const char *word;
    Condition::Kind kind;
    bool pattern;   // the value is a regular expression
    bool no_value;  // the operator stands alone
  };

  // "OPERATOR [VALUE]" of a header or body condition.
  template <size_t N>
  static bool ApplyOperator(const Operator (&operators)[N], const std::string &text, const char *usage, Condition *out,
                            std::string *why) {
    size_t space = text.find_first_of(" \t");
    const std::string op = text.substr(0, space);
    out->value = space == std::string::npos ? "" : ConditionValue(text.substr(space));
    for (const Operator &candidate : operators) {
      if (op != candidate.word) continue;
      out->kind = candidate.kind;
      if (candidate.no_value && !out->value.empty()) return *why = op + " takes no value", false;
      if (!candidate.pattern) return true;
      try {
        out->pattern = std::make_shared<std::regex>(out->value, std::regex::ECMAScript);
      } catch (const std::regex_error &e) {
        return *why = "bad regular expression " + out->value + ": " + e.what(), false;
      }
      return true;
    }
    return *why = usage, false;
  }

  bool ParseCondition(const std::string &text, Condition *out, std::string *why) {
    out->line = m_Line;
    out->source = text;
    size_t space = text.find_first_of(" \t");
    const std::string first = text.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : Trim(text.substr(space));
    if (first == "status") {
      out->kind = Condition::kStatus;
      out->value = rest;
      if (rest.size() != 3 || rest.find_first_not_of("0123456789") != std::string::npos) {
        return *why = "status needs a three-digit code", false;
      }
      return true;
    }
    if (first == "state") {
      out->kind = Condition::kState;
      out->value = rest;
      return IsState(rest) ? true : (*why = "state is COMPLETE, IN-PROGRESS or PENDING", false);
    }
    if (first == "cause") {
      out->kind = Condition::kCause;
      out->value = rest;
      return rest.empty() ? (*why = "cause needs a code or a name", false) : true;
    }
    if (first == "header") {
      size_t sp = rest.find_first_of(" \t");
      if (rest.empty() || sp == std::string::npos) return *why = "header NAME OPERATOR [VALUE]", false;
      out->name = rest.substr(0, sp);
      static const Operator kHeaderOperators[] = {
          {"=", Condition::kHeaderEquals, false, false},      {"contains", Condition::kHeaderContains, false, false},
          {"~", Condition::kHeaderMatches, true, false},      {"matches", Condition::kHeaderMatches, true, false},
          {"present", Condition::kHeaderPresent, false, true}, {"absent", Condition::kHeaderAbsent, false, true}};
      return ApplyOperator(kHeaderOperators, Trim(rest.substr(sp)), "header operator is =, contains, ~, present or absent",
                           out, why);
    }
    if (first == "body") {
      static const Operator kBodyOperators[] = {{"=", Condition::kBodyEquals, false, false},
                                                {"contains", Condition::kBodyContains, false, false},
                                                {"~", Condition::kBodyMatches, true, false},
                                                {"matches", Condition::kBodyMatches, true, false},
                                                {"empty", Condition::kBodyEmpty, false, true}};
      return ApplyOperator(kBodyOperators, rest, "body operator is =, contains, ~ or empty", out, why);
    }
    // Name: value, as the header would be written.
    size_t colon = text.find(':');
    if (colon != std::string::npos && colon > 0 && text.find_first_of(" \t") > colon) {
      out->kind = Condition::kHeaderEquals;
      out->name = text.substr(0, colon);
      out->value = ConditionValue(text.substr(colon + 1));
      return true;
    }
    return *why = "unknown condition '" + text + "' (status, state, cause, header, body, or Name: value)", false;
  }

  bool ParseDtmf(std::vector<std::string> &t, Command *c, std::string *why) {
    if (t.empty()) return *why = "dtmf needs digits", false;
    c->digits = t[0];
    for (char d : c->digits) {
      if (!strchr("0123456789*#ABCDabcd", d)) return *why = std::string("not a DTMF digit: ") + d, false;
    }
    for (size_t k = 1; k < t.size(); ++k) {
      if (t[k].compare(0, 5, "tone=") == 0) {
        if (!ParseDuration(t[k].substr(5), &c->tone)) return *why = "bad tone duration", false;
      } else if (t[k].compare(0, 4, "gap=") == 0) {
        if (!ParseDuration(t[k].substr(4), &c->gap)) return *why = "bad gap duration", false;
      } else {
        return *why = "unexpected '" + t[k] + "' (tone=DURATION, gap=DURATION)", false;
      }
    }
    return true;
  }

  bool Add(Command c) {
    m_Out->commands.push_back(std::move(c));
    return true;
  }

  std::string m_Path;
  std::map<std::string, std::string> m_Defines;
  bool m_UseEnv;
  Millis m_Timeout;
  bool m_Fast;
  Script *m_Out;
  int m_Line = 0;
};

}  // namespace

bool ParseDuration(const std::string &text, Millis *out) {
  if (text.empty()) return false;
  char *end = nullptr;
  double value = strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(value) || value < 0) return false;
  const std::string unit = end;
  double ms;
  if (unit.empty() || unit == "ms") {
    ms = value;
  } else if (unit == "s") {
    ms = value * 1000.0;
  } else if (unit == "m" || unit == "min") {
    ms = value * 60000.0;
  } else {
    return false;
  }
  if (ms > 24.0 * 3600 * 1000) return false;
  *out = Millis(static_cast<long>(std::lround(ms)));
  return true;
}

bool ExpandVariables(const std::string &text, const std::map<std::string, std::string> &defines, bool use_environment,
                     std::string *out, std::string *error) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '$') {
      *out += text[i];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '$') {
      *out += '$';
      ++i;
      continue;
    }
    if (i + 1 >= text.size() || text[i + 1] != '{') {
      *out += '$';
      continue;
    }
    size_t close = text.find('}', i + 2);
    if (close == std::string::npos) {
      *error = "unterminated ${";
      return false;
    }
    std::string name = text.substr(i + 2, close - i - 2);
    std::string fallback;
    bool has_fallback = false;
    size_t dash = name.find(":-");
    if (dash != std::string::npos) {
      fallback = name.substr(dash + 2);
      name = name.substr(0, dash);
      has_fallback = true;
    }
    auto it = defines.find(name);
    const char *env = use_environment ? getenv(name.c_str()) : nullptr;
    if (it != defines.end()) {
      *out += it->second;
    } else if (env) {
      *out += env;
    } else if (has_fallback) {
      *out += fallback;
    } else {
      *error = "variable " + name + " is not set";
      return false;
    }
    i = close;
  }
  return true;
}

bool ParseScript(const std::string &text, const std::string &path, const ParseContext &context, Script *out,
                 std::string *error) {
  out->path = path;
  Parser parser(path, context, out);
  return parser.Parse(text, error);
}

bool LoadScript(const std::string &path, const ParseContext &context, Script *out, std::string *error) {
  std::string text;
  if (!mrcphost::ReadWholeFile(path, &text)) {
    *error = "cannot read script " + path;
    return false;
  }
  return ParseScript(text, path, context, out, error);
}

}  // namespace oxahost
