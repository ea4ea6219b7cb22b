// oxahost's script parser and expectation checks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runner.h"
#include "script.h"

namespace {

using oxahost::Command;
using oxahost::CommandKind;
using oxahost::Condition;
using oxahost::Millis;
using oxahost::ParseContext;
using oxahost::Script;

bool Parse(const std::string &text, Script *script, std::string *error, ParseContext context = ParseContext()) {
  return oxahost::ParseScript(text, "t.oxa", context, script, error);
}

TEST(ScriptTest, DurationsTakeUnits) {
  struct Case {
    const char *text;
    long ms;  // -1: rejected
  };
  const Case cases[] = {{"250ms", 250}, {"2s", 2000}, {"1.5s", 1500}, {"1m", 60000}, {"40", 40},
                        {"0", 0},       {"-1s", -1},  {"5 s", -1},    {"fast", -1}, {"", -1}, {"2h", -1}};
  for (const Case &c : cases) {
    Millis d(0);
    bool ok = oxahost::ParseDuration(c.text, &d);
    EXPECT_EQ(ok, c.ms >= 0) << c.text;
    if (ok) {
      EXPECT_EQ(d.count(), c.ms) << c.text;
    }
  }
}

TEST(ScriptTest, VariablesComeFromDefinesThenTheEnvironment) {
  setenv("OXAHOST_TEST_PORT", "5060", 1);
  std::map<std::string, std::string> defines = {{"DATA_DIR", "/d"}, {"OXAHOST_TEST_PORT", "9"}};
  struct Case {
    const char *text;
    const char *out;  // null: an error
  };
  const Case cases[] = {
      {"${DATA_DIR}/a.wav", "/d/a.wav"},
      {"port ${OXAHOST_TEST_PORT}", "port 9"},  // a define wins over the environment
      {"${OXAHOST_UNSET:-fallback}", "fallback"},
      {"$$HOME and $1", "$HOME and $1"},
      {"${OXAHOST_UNSET}", nullptr},
      {"${DATA_DIR", nullptr},
  };
  for (const Case &c : cases) {
    std::string out;
    std::string error;
    bool ok = oxahost::ExpandVariables(c.text, defines, true, &out, &error);
    EXPECT_EQ(ok, c.out != nullptr) << c.text;
    if (c.out) {
      EXPECT_EQ(out, c.out);
    }
  }
  std::string out;
  std::string error;
  EXPECT_TRUE(oxahost::ExpandVariables("${OXAHOST_TEST_PORT}", {}, true, &out, &error));
  EXPECT_EQ(out, "5060");
}

TEST(ScriptTest, SendBlockKeepsBlankLinesOfTheBodyAndDropsItsIndentation) {
  const std::string text =
      "open c1\n"
      "send c1 DEFINE-GRAMMAR\n"
      "    Content-Type: application/srgs+xml\n"
      "    Content-Id: <g1>\n"
      "\n"
      "    <grammar>\n"
      "\n"
      "      <rule id=\"r\"/>\n"
      "    </grammar>\n"
      "\n"
      "# the block ended with the last indented line\n"
      "expect c1 response 200 COMPLETE within 2s\n";
  Script script;
  std::string error;
  ASSERT_TRUE(Parse(text, &script, &error)) << error;
  ASSERT_EQ(script.commands.size(), 3u);
  const Command &send = script.commands[1];
  EXPECT_EQ(send.kind, CommandKind::kSend);
  EXPECT_EQ(send.request,
            "DEFINE-GRAMMAR\r\nContent-Type: application/srgs+xml\r\nContent-Id: <g1>\r\n\r\n"
            "<grammar>\n\n  <rule id=\"r\"/>\n</grammar>");
  const Command &expect = script.commands[2];
  EXPECT_EQ(expect.line, 12);
  EXPECT_TRUE(expect.response);
  EXPECT_EQ(expect.timeout, Millis(2000));
  ASSERT_EQ(expect.conditions.size(), 2u);
  EXPECT_EQ(expect.conditions[0].kind, Condition::kStatus);
  EXPECT_EQ(expect.conditions[1].kind, Condition::kState);
}

TEST(ScriptTest, ExpectationsAndSettings) {
  const std::string text =
      "set timeout 2s\n"
      "param resource=synthesizer\n"
      "plugin /p/libx.so\n"
      "let WHO tester\n"
      "open c1 version=1 codec=PCMU rate=8000 id=abc record=/tmp/o.wav attr.subscription-key-file=/k.json\n"
      "expect c1 next RECOGNITION-COMPLETE COMPLETE within 10s\n"
      "    cause 000\n"
      "    Completion-Cause: 000 success\n"
      "    header Waveform-URI ~ ^<file://.*>$\n"
      "    header Input-Type absent\n"
      "    body contains \"  ${WHO}  \"\n"
      "    body empty\n"
      "expect-none c1 RECOGNITION-COMPLETE for 1s\n"
      "expect c1 response to STOP\n"
      "set pacing fast\n"
      "audio c1 a.wav\n"
      "audio c1 b.wav realtime\n"
      "dtmf c1 12#* tone=50ms gap=30ms\n";
  Script script;
  std::string error;
  ASSERT_TRUE(Parse(text, &script, &error)) << error;
  EXPECT_EQ(script.plugin, "/p/libx.so");
  ASSERT_EQ(script.params.size(), 1u);
  ASSERT_EQ(script.commands.size(), 7u);
  const Command &open = script.commands[0];
  EXPECT_EQ(open.version, 1);
  EXPECT_EQ(open.codec, "PCMU");
  EXPECT_EQ(open.rate, 8000u);
  EXPECT_EQ(open.id, "abc");
  EXPECT_EQ(open.record, "/tmp/o.wav");
  EXPECT_EQ(open.attribs, (std::vector<std::pair<std::string, std::string>>{{"subscription-key-file", "/k.json"}}));
  EXPECT_EQ(open.timeout, Millis(2000));
  const Command &expect = script.commands[1];
  EXPECT_TRUE(expect.next);
  EXPECT_EQ(expect.event, "RECOGNITION-COMPLETE");
  EXPECT_EQ(expect.timeout, Millis(10000));
  ASSERT_EQ(expect.conditions.size(), 7u);
  EXPECT_EQ(expect.conditions[2].kind, Condition::kHeaderEquals);
  EXPECT_EQ(expect.conditions[2].name, "Completion-Cause");
  EXPECT_EQ(expect.conditions[2].value, "000 success");
  EXPECT_EQ(expect.conditions[5].value, "  tester  ");
  EXPECT_EQ(script.commands[2].kind, CommandKind::kExpectNone);
  EXPECT_EQ(script.commands[2].timeout, Millis(1000));
  EXPECT_EQ(script.commands[3].to_method, "STOP");
  EXPECT_TRUE(script.commands[4].fast);
  EXPECT_FALSE(script.commands[5].fast);
  EXPECT_EQ(script.commands[6].digits, "12#*");
  EXPECT_EQ(script.commands[6].tone, Millis(50));
}

TEST(ScriptTest, MistakesAreReportedWithTheirLine) {
  struct Case {
    std::string text;
    const char *error;
  };
  const Case cases[] = {
      {"open c1\nsned c1 STOP\n", "t.oxa:2: unknown command 'sned'"},
      {"send c1 RECOGNISE\n", "t.oxa:1: unknown method RECOGNISE"},
      {"expect c1 RECOGNITION-DONE\n", "t.oxa:1: unknown event RECOGNITION-DONE (or response, any)"},
      {"expect c1 response\n    status 2000\n", "t.oxa:2: status needs a three-digit code"},
      {"expect c1 response\n    body ~ (unclosed\n", "t.oxa:2: bad regular expression (unclosed"},
      {"expect c1 response\n    header X wibble\n", "t.oxa:2: header operator is =, contains, ~, present or absent"},
      {"expect c1 response\n    whatever\n", "t.oxa:2: unknown condition 'whatever'"},
      {"expect-none c1 any\n", "t.oxa:1: expect-none needs 'for DURATION'"},
      {"expect c1 response within soon\n", "t.oxa:1: 'within' needs a duration"},
      {"open c1 rate=fast\n", "t.oxa:1: bad rate fast"},
      {"open c1 colour=red\n", "t.oxa:1: unknown open option colour"},
      {"audio c1 ${NOT_SET_ANYWHERE_X}\n", "t.oxa:1: variable NOT_SET_ANYWHERE_X is not set"},
      {"dtmf c1 12x\n", "t.oxa:1: not a DTMF digit: x"},
      {"send c1 SPEAK\n    no colon here\n", "t.oxa:2: header without ':'"},
      {"print \"unterminated\nopen c1 \"x\n", "t.oxa:2: unterminated quote"},
      {"close c1\n    indented\n", "t.oxa:2: unexpected indented line after close"},
      {"engine close fails\n", "t.oxa:1: engine close cannot be expected to fail"},
  };
  for (const Case &c : cases) {
    Script script;
    std::string error;
    EXPECT_FALSE(Parse(c.text, &script, &error)) << c.text;
    EXPECT_EQ(error.compare(0, strlen(c.error), c.error), 0) << error;
  }
}

TEST(ScriptTest, ConditionsCheckTheMessage) {
  mrcphost::WireMessage m;
  m.type = MRCP_MESSAGE_TYPE_EVENT;
  m.name = "RECOGNITION-COMPLETE";
  m.request_state = MRCP_REQUEST_STATE_COMPLETE;
  m.headers = {{"Completion-Cause", "001 no-match"}, {"Content-Type", "application/x-nlsml"}};
  m.body = "<result confidence=\"0.87\"/>";
  auto check = [&](const std::string &line) {
    Script script;
    std::string error;
    EXPECT_TRUE(Parse("expect c1 any\n    " + line + "\n", &script, &error)) << error;
    std::string why;
    return oxahost::CheckCondition(script.commands[0].conditions[0], m, &why);
  };
  EXPECT_TRUE(check("cause 1"));
  EXPECT_TRUE(check("cause no-match"));
  EXPECT_FALSE(check("cause 000"));
  EXPECT_FALSE(check("cause success"));
  EXPECT_TRUE(check("state COMPLETE"));
  EXPECT_FALSE(check("status 200"));  // not a response
  EXPECT_TRUE(check("content-type: application/x-nlsml"));  // names are case-insensitive
  EXPECT_FALSE(check("Content-Type: application/x-nlsml; charset=utf-8"));
  EXPECT_TRUE(check("header Content-Type contains nlsml"));
  EXPECT_TRUE(check("header Waveform-URI absent"));
  EXPECT_FALSE(check("header Waveform-URI present"));
  EXPECT_TRUE(check("body ~ confidence=\"0\\.[0-9]+\""));
  EXPECT_FALSE(check("body empty"));
  EXPECT_TRUE(check("body contains <result"));
}

}  // namespace
