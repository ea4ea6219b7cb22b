// Session scripts of oxahost: parsed into commands before anything runs, so a typing error is
// reported with its line before the plugin is touched. The format is described in docs/oxahost.md.
#ifndef OXAHOST_SCRIPT_H
#define OXAHOST_SCRIPT_H

#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace oxahost {

using Millis = std::chrono::milliseconds;

// "250ms", "2s", "1.5s", "1m", or a bare number of milliseconds.
bool ParseDuration(const std::string &text, Millis *out);

struct Condition {
  enum Kind {
    kStatus,
    kState,
    kCause,
    kHeaderEquals,
    kHeaderContains,
    kHeaderMatches,
    kHeaderPresent,
    kHeaderAbsent,
    kBodyEquals,
    kBodyContains,
    kBodyMatches,
    kBodyEmpty
  };
  Kind kind;
  std::string name;   // header name
  std::string value;  // text, number or pattern as written
  std::shared_ptr<std::regex> pattern;
  int line = 0;
  std::string source;  // the condition as written, for messages
};

enum class CommandKind {
  kEngineOpen,
  kEngineClose,
  kOpen,
  kClose,
  kSend,
  kExpect,
  kExpectNone,
  kAudio,
  kSilence,
  kDtmf,
  kWaitAudio,
  kExpectAudio,
  kSleep,
  kPrint
};

struct Command {
  CommandKind kind;
  int line = 0;
  std::string source;   // the command line as written (after variable expansion)
  std::string channel;
  Millis timeout{0};    // the wait limit: "within", "for", or the script's default
  bool fails = false;   // open / engine open expected to be refused
  bool fast = false;    // audio pacing

  // open
  int version = 2;
  std::string codec;
  unsigned rate = 0;
  std::string id;
  std::string record;
  std::vector<std::pair<std::string, std::string>> attribs;

  // send: a request as MRCP text with the method alone on its first line
  std::string request;

  // expect, expect-none
  bool response = false;  // a response (else an event, or any message)
  bool any = false;
  bool next = false;      // must be the next message not yet taken
  std::string event;      // event name
  std::string to_method;  // response to the oldest unanswered request of this method
  std::vector<Condition> conditions;

  // audio, dtmf, print, expect-audio
  std::string path;
  std::string digits;
  Millis tone{100};
  Millis gap{100};
  Millis duration{0};
  std::string text;
};

struct Script {
  std::string path;
  std::string plugin;  // from a "plugin" line
  std::vector<std::pair<std::string, std::string>> params;  // from "param" lines
  std::vector<Command> commands;
  bool uses_engine_commands = false;
};

struct ParseContext {
  std::map<std::string, std::string> defines;  // -D, override the environment
  bool use_environment = true;
  Millis timeout{5000};
  bool fast = false;
};

// error reads "<path>:<line>: <what>".
bool ParseScript(const std::string &text, const std::string &path, const ParseContext &context, Script *out,
                 std::string *error);
bool LoadScript(const std::string &path, const ParseContext &context, Script *out, std::string *error);

// ${NAME} and ${NAME:-default} from the defines, then the environment; "$$" is a dollar sign.
bool ExpandVariables(const std::string &text, const std::map<std::string, std::string> &defines, bool use_environment,
                     std::string *out, std::string *error);

}  // namespace oxahost

#endif  // OXAHOST_SCRIPT_H
