// Recognition sessions through the client library against the test plugin, loaded by the host
// layer in this process: grammars, parameters, audio, results, and the failures a user meets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "asr_test_root.h"
#include "mrcphost/host_asr_client.h"

namespace {

using asrtest::TestRoot;

// Log records of the client, the host and the plugin.
class LogCapture {
 public:
  void Attach() { apt_log_ext_handler_set(&LogCapture::OnRecord, this); }
  bool Has(const std::string &text) const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (const auto &line : m_Lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::string All() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    std::string all;
    for (const auto &line : m_Lines) all += line + "\n";
    return all;
  }

 private:
  static void OnRecord(const char *source, const char *, int, apt_log_priority_e priority, const char *text, void *obj) {
    auto *self = static_cast<LogCapture *>(obj);
    std::lock_guard<std::mutex> lock(self->m_Mutex);
    self->m_Lines.push_back(std::string("[") + apt_log_priority_name(priority) + "] [" + source + "] " + text);
  }
  mutable std::mutex m_Mutex;
  std::vector<std::string> m_Lines;  // guarded by m_Mutex
};

class SessionTest : public ::testing::Test {
 protected:
  void Start(const std::string &extra_profiles = "",
             const std::string &attributes = "response-timeout=\"2000\" completion-timeout=\"2000\"") {
    m_Root = std::make_unique<TestRoot>(extra_profiles, attributes);
    m_Engine = asr_engine_create(m_Root->Dir().c_str(), APT_PRIO_INFO, APT_LOG_OUTPUT_NONE);
    ASSERT_NE(nullptr, m_Engine);
    m_Logs.Attach();
  }
  void TearDown() override {
    if (m_Engine) {
      EXPECT_TRUE(asr_engine_destroy(m_Engine));
    }
    if (HasFailure()) std::cerr << "client log:\n" << m_Logs.All();
  }

  // One session, one recognition: the result, or "(null)".
  std::string Recognize(const char *profile, const char *grammar, const char *audio, const char *params = nullptr,
                        bool set = false) {
    asr_session_t *session = asr_session_create(m_Engine, profile);
    if (!session) return "(no session)";
    if (set) {
      EXPECT_TRUE(asr_session_set_param(session, params, nullptr, nullptr));
    }
    const char *result = asr_session_file_recognize(session, grammar, audio, params, set ? TRUE : FALSE);
    std::string text = result ? result : "(null)";
    EXPECT_TRUE(asr_session_destroy(session));
    return text;
  }

  // A field of the test plugin's report, e.g. Field(result, "codec").
  static std::string Field(const std::string &result, const std::string &name) {
    const size_t report = result.find("<!-- test:");
    if (report == std::string::npos) return "(no report)";
    const std::string text = result.substr(report);
    std::smatch match;
    if (!std::regex_search(text, match, std::regex(" " + name + "=([^ ]*)"))) return "(none)";
    return match[1];
  }

  std::unique_ptr<TestRoot> m_Root;
  asr_engine_t *m_Engine = nullptr;
  LogCapture m_Logs;
};

TEST_F(SessionTest, FileGrammarAndAudioGiveTheNlsmlResult) {
  Start();
  const std::string result = Recognize("kel2", "grammar.xml", "speech.wav");
  EXPECT_EQ(0u, result.find("<?xml version=\"1.0\"?>\n<result>\n  <interpretation grammar=\"session:grammar@voxprobe\""))
      << result;
  EXPECT_EQ("2", Field(result, "version"));
  EXPECT_EQ("LPCM/8000", Field(result, "codec"));
  EXPECT_EQ("text/uri-list", Field(result, "content-type"));
  EXPECT_EQ("session:grammar@voxprobe", Field(result, "grammars"));
  EXPECT_EQ("grammar@voxprobe=application/srgs+xml", Field(result, "defined"));
  // The 300 ms loud stretch arrived whole, in 10 ms frames.
  EXPECT_NEAR(30, std::atoi(Field(result, "loud").c_str()), 1);
  EXPECT_TRUE(m_Logs.Has("Recognition Complete [000 success]"));
}

TEST_F(SessionTest, GrammarArgumentForms) {
  Start();
  const struct {
    const char *grammar;
    const char *content_type;
    const char *grammars;
    const char *defined;
  } cases[] = {
      {"yesno.xml", "text/uri-list", "session:yesno@voxprobe", "yesno@voxprobe=application/xml"},
      {"builtin:grammar/boolean", "text/uri-list", "builtin:grammar/boolean", ""},
      {"grammar.xml,builtin:speech/transcribe", "text/uri-list", "session:grammar@voxprobe,builtin:speech/transcribe",
       "grammar@voxprobe=application/srgs+xml"},
      {"<grammar.xml>;weight=\"2.0\",<yesno.xml>;weight=\"0.75\",<http://grammars.example.com/pizza.grxml>",
       "text/grammar-ref-list", "session:grammar@voxprobe,session:yesno@voxprobe",
       "grammar@voxprobe=application/srgs+xml,yesno@voxprobe=application/xml"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.grammar);
    const std::string result = Recognize("kel2", c.grammar, "speech.wav");
    EXPECT_EQ(c.content_type, Field(result, "content-type")) << result;
    EXPECT_EQ(c.grammars, Field(result, "grammars"));
    EXPECT_EQ(c.defined, Field(result, "defined"));
  }
}

TEST_F(SessionTest, ParametersGoInRecognizeOrInSetParams) {
  Start();
  std::string result = Recognize("kel2", "grammar.xml", "speech.wav", "params.txt", false);
  EXPECT_EQ("No-Input-Timeout:3000;Speech-Complete-Timeout:500", Field(result, "headers")) << result;
  EXPECT_EQ("0", Field(result, "set-params"));

  result = Recognize("kel2", "grammar.xml", "speech.wav", "params.txt", true);
  EXPECT_EQ("", Field(result, "headers")) << result;
  EXPECT_EQ("1", Field(result, "set-params"));

  // The SET flag without a file still sends SET-PARAMS, with no header.
  result = Recognize("kel2", "grammar.xml", "speech.wav", nullptr, true);
  EXPECT_EQ("1", Field(result, "set-params")) << result;
}

TEST_F(SessionTest, GetParamsBeforeAndAfter) {
  Start();
  asr_session_t *session = asr_session_create(m_Engine, "kel2");
  ASSERT_NE(nullptr, session);
  const asr_params_t *before = asr_session_get_all_params(session);
  ASSERT_NE(nullptr, before);
  const asr_params_t *again = asr_session_get_all_params(session);
  EXPECT_TRUE(asr_params_equal(before, again));
  // The test plugin answers GET-PARAMS with what SET-PARAMS set.
  EXPECT_TRUE(asr_session_set_param(session, "params.txt", nullptr, nullptr));
  const asr_params_t *after = asr_session_get_all_params(session);
  ASSERT_NE(nullptr, after);
  EXPECT_FALSE(asr_params_equal(before, after));
  EXPECT_TRUE(asr_session_set_param(session, nullptr, "No-Input-Timeout", "3000"));
  EXPECT_FALSE(asr_params_equal(after, asr_session_get_all_params(session)));
  EXPECT_TRUE(asr_session_set_param(session, "params.txt", nullptr, nullptr));
  EXPECT_TRUE(asr_params_equal(after, asr_session_get_all_params(session)));
  // A bad value is refused before anything is sent.
  EXPECT_FALSE(asr_session_set_param(session, nullptr, "No-Input-Timeout", "soon"));
  EXPECT_TRUE(m_Logs.Has("Bad Parameters File [SET-PARAMS] line 1: No-Input-Timeout"));
  EXPECT_TRUE(asr_session_destroy(session));
  EXPECT_TRUE(asr_params_equal(nullptr, nullptr));
}

TEST_F(SessionTest, ProfilesRatesAndAudioFormats) {
  Start();
  const struct {
    const char *profile;
    const char *audio;
    const char *version;
    const char *codec;
  } cases[] = {
      {"kel1", "speech.wav", "1", "LPCM/8000"},
      {"kel2", "speech.pcm", "2", "LPCM/8000"},
      {"kel2", "speech-16kHz.wav", "2", "LPCM/8000"},
      {"wide", "speech.wav", "2", "LPCM/16000"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.profile) + " " + c.audio);
    const std::string result = Recognize(c.profile, "grammar.xml", c.audio);
    EXPECT_EQ(c.version, Field(result, "version")) << result;
    EXPECT_EQ(c.codec, Field(result, "codec"));
    EXPECT_NEAR(30, std::atoi(Field(result, "loud").c_str()), 2);
  }
  EXPECT_TRUE(m_Logs.Has("converted from 16000 Hz to 8000 Hz"));
  EXPECT_TRUE(m_Logs.Has("converted from 8000 Hz to 16000 Hz"));
}

TEST_F(SessionTest, CompletionCauseWhenThereIsNoBody) {
  Start();
  EXPECT_EQ("002 no-input-timeout", Recognize("kel2", "grammar.xml", "silence.wav", "noinput.txt"));
  EXPECT_EQ("001 no-match", Recognize("kel2", "grammar.xml", "speech.wav", "no-body.txt"));
}

TEST_F(SessionTest, BadInputsFailWithTheReason) {
  Start();
  const struct {
    const char *grammar;
    const char *audio;
    const char *params;
    const char *logged;
  } cases[] = {
      {"grammar.xml", "nope.wav", nullptr, "Audio File [nope.wav] Not Found: "},
      {"grammar.xml", "", nullptr, "Audio File [] Not Found"},
      {"nope.xml", "speech.wav", nullptr, "Grammar File [nope.xml] Not Found: "},
      {"page.xml", "speech.wav", nullptr, "is neither an SRGS <grammar> nor a <speech-context>"},
      {"a.xml,,b.xml", "speech.wav", nullptr, "Bad Grammar Argument [a.xml,,b.xml]: empty entry"},
      {"grammar.xml", "speech.wav", "bad-params.txt", "bad-params.txt] line 2: no ':'"},
      {"grammar.xml", "speech.wav", "nope.txt", "Cannot Read Parameters File [nope.txt]"},
      // Nothing the plugin can use: it refuses the RECOGNIZE.
      {"http://grammars.example.com/pizza.grxml", "speech.wav", nullptr,
       "RECOGNIZE Failed: 406 COMPLETE, Completion-Cause: 004 grammar-load-failure"},
      {"session:undefined", "speech.wav", nullptr, "RECOGNIZE Failed: 404"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.logged);
    EXPECT_EQ("(null)", Recognize("kel2", c.grammar, c.audio, c.params));
    EXPECT_TRUE(m_Logs.Has(c.logged));
  }
  EXPECT_TRUE(m_Logs.Has(m_Root->Data("nope.wav")));
}

TEST_F(SessionTest, APluginThatDoesNotAnswerGivesAnErrorInTime) {
  Start("", "response-timeout=\"300\" completion-timeout=\"300\"");
  EXPECT_EQ("(null)", Recognize("kel2", "grammar.xml", "speech.wav", "no-answer.txt"));
  EXPECT_TRUE(m_Logs.Has("No Response to RECOGNIZE within 300 ms"));

  EXPECT_EQ("(null)", Recognize("kel2", "grammar.xml", "speech.wav", "no-complete.txt"));
  EXPECT_TRUE(m_Logs.Has("No RECOGNITION-COMPLETE within 300 ms after the end of the audio"));
  EXPECT_TRUE(m_Logs.Has("STOP Answered 200 COMPLETE"));
}

TEST_F(SessionTest, AnEngineThatNeverOpensGivesAnErrorInTime) {
  Start("<profile name=\"mute\" plugin=\"" ASR_TEST_PLUGIN "\"><param name=\"open\" value=\"never\"/></profile>",
        "open-timeout=\"300\"");
  EXPECT_EQ(nullptr, asr_session_create(m_Engine, "mute"));
  EXPECT_TRUE(m_Logs.Has("did not open (timed out): engine open not answered within 300 ms"));
  // The failure is kept: the next session fails at once with the same reason.
  m_Logs.Attach();
  EXPECT_EQ(nullptr, asr_session_create(m_Engine, "mute"));
  EXPECT_TRUE(m_Logs.Has("Profile [mute]: plugin "));
}

TEST_F(SessionTest, MissingPluginsAndProfiles) {
  Start("<profile name=\"ghost\" plugin=\"/nonexistent/ghost.so\"/>"
        "<profile name=\"bare\" plugin=\"ghostly\"/>"
        "<profile name=\"junk\" plugin=\"plugin/junk.so\"/>");
  asrtest::WriteText(m_Root->Dir() + "/plugin/junk.so", "not a library");
  EXPECT_EQ(nullptr, asr_session_create(m_Engine, "ghost"));
  EXPECT_TRUE(m_Logs.Has("Profile [ghost]: plugin [/nonexistent/ghost.so] not found (looked for /nonexistent/ghost.so)"));
  EXPECT_EQ(nullptr, asr_session_create(m_Engine, "bare"));
  EXPECT_TRUE(m_Logs.Has("plugin [ghostly] not found (looked for " + m_Root->Dir() + "/plugin/ghostly.so"));
  EXPECT_EQ(nullptr, asr_session_create(m_Engine, "junk"));
  EXPECT_TRUE(m_Logs.Has("cannot load plugin " + m_Root->Dir() + "/plugin/junk.so"));
  EXPECT_EQ(nullptr, asr_session_create(m_Engine, "kel9"));
  EXPECT_TRUE(m_Logs.Has("Unknown Client Profile [kel9] (known: bare, ghost, junk, kel1, kel2, wide)"));
  // The good profiles still work.
  EXPECT_EQ("2", Field(Recognize("kel2", "grammar.xml", "speech.wav"), "version"));
}

TEST_F(SessionTest, BadRootsAndConfigurationsStopTheEngine) {
  EXPECT_EQ(nullptr, asr_engine_create("/nonexistent/root", APT_PRIO_INFO, APT_LOG_OUTPUT_NONE));
  TestRoot root;
  asrtest::WriteText(root.Dir() + "/conf/asrclient.xml", "<asrclient><profile name=\"x\" codec=\"opus\"/></asrclient>");
  EXPECT_EQ(nullptr, asr_engine_create(root.Dir().c_str(), APT_PRIO_INFO, APT_LOG_OUTPUT_NONE));
  // Without a configuration the built-in profiles name the oxazorv plugin.
  std::remove((root.Dir() + "/conf/asrclient.xml").c_str());
  asr_engine_t *engine = asr_engine_create(root.Dir().c_str(), APT_PRIO_INFO, APT_LOG_OUTPUT_FILE);
  ASSERT_NE(nullptr, engine);
  EXPECT_TRUE(asr_engine_destroy(engine));
  std::ifstream log(root.Dir() + "/log/asrclient.log");
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, text.find("Profiles [kel1, kel2]")) << text;
}

TEST_F(SessionTest, SessionsRunSideBySide) {
  Start();
  std::string results[3];
  std::vector<std::thread> threads;
  const char *profiles[] = {"kel2", "kel1", "wide"};
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([this, i, &results, &profiles] { results[i] = Recognize(profiles[i], "grammar.xml", "speech.wav"); });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ("2", Field(results[0], "version")) << results[0];
  EXPECT_EQ("1", Field(results[1], "version")) << results[1];
  EXPECT_EQ("LPCM/16000", Field(results[2], "codec")) << results[2];
}

TEST_F(SessionTest, DestroyingTheEngineLetsRunningSessionsFinish) {
  Start();
  asr_engine_t *engine = m_Engine;
  asr_session_t *session = asr_session_create(engine, "kel2");
  ASSERT_NE(nullptr, session);
  std::string result;
  asr_session_t *late = reinterpret_cast<asr_session_t *>(1);
  std::thread runner([&] {
    const char *text = asr_session_file_recognize(session, "grammar.xml", "speech.wav", nullptr, FALSE);
    result = text ? text : "(null)";
    // The engine is closing but still there: its sessions have not all ended.
    late = asr_session_create(engine, "kel2");
    asr_session_destroy(session);
  });
  m_Engine = nullptr;
  EXPECT_TRUE(asr_engine_destroy(engine));
  runner.join();
  EXPECT_EQ("2", Field(result, "version")) << result;
  EXPECT_EQ(nullptr, late);
}

}  // namespace
