// The client's parsers of user input: grammar argument, grammar documents, parameter files,
// client configuration; and rate conversion of the caller's audio.
#include <apr_general.h>
#include <gtest/gtest.h>

#include <cmath>

#include "AsrAudio.h"
#include "AsrClientConfig.h"
#include "AsrInputs.h"
#include "asr_test_root.h"

namespace asrclient {
namespace {

class AprEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { apr_initialize(); }
  void TearDown() override { apr_terminate(); }
};
const auto *const kApr = ::testing::AddGlobalTestEnvironment(new AprEnvironment);

struct GrammarCase {
  const char *argument;
  const char *body;  // RECOGNIZE body with files as session:<file>; null: refused
  bool weighted;
};

TEST(GrammarArgument, ListsBecomeRecognizeBodies) {
  const GrammarCase cases[] = {
      {"grammar.xml", "session:grammar.xml\r\n", false},
      {"builtin:grammar/boolean", "builtin:grammar/boolean\r\n", false},
      {"https://example.com/g.grxml", "https://example.com/g.grxml\r\n", false},
      {"session:g1", "session:g1\r\n", false},
      {"grammar.xml, builtin:speech/transcribe", "session:grammar.xml\r\nbuiltin:speech/transcribe\r\n", false},
      {"http://example.com/a.grxml,builtin:grammar/boolean", "http://example.com/a.grxml\r\nbuiltin:grammar/boolean\r\n",
       false},
      // Weighted entries keep their brackets and parameters; a comma inside brackets does not split.
      {"<http://x.example/yesno.grxml>;weight=\"2.0\",<http://x.example/a,b.grxml>;weight=\"0.75\"",
       "<http://x.example/yesno.grxml>;weight=\"2.0\"\r\n<http://x.example/a,b.grxml>;weight=\"0.75\"\r\n", true},
      {"<yesno.xml>;weight=0.5,builtin:dtmf/digits", "<session:yesno.xml>;weight=0.5\r\n<builtin:dtmf/digits>\r\n", true},
      {"/abs/path/g.xml", "session:/abs/path/g.xml\r\n", false},
      {"", nullptr, false},
      {"a.xml,,b.xml", nullptr, false},
      {"<http://x.example/g.grxml;weight=1", nullptr, false},
      {"<>;weight=1", nullptr, false},
      {"<a.xml> junk", nullptr, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.argument);
    GrammarArgument parsed;
    std::string error;
    const bool ok = ParseGrammarArgument(c.argument, &parsed, &error);
    if (!c.body) {
      EXPECT_FALSE(ok);
      EXPECT_FALSE(error.empty());
      continue;
    }
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(c.weighted, parsed.weighted);
    std::vector<std::string> uris;
    for (const auto &entry : parsed.entries) uris.push_back(entry.is_file ? "session:" + entry.target : "");
    EXPECT_EQ(c.body, GrammarListBody(parsed, uris));
  }
}

TEST(GrammarArgument, FileEntriesAreNamedWithoutScheme) {
  GrammarArgument parsed;
  std::string error;
  ASSERT_TRUE(ParseGrammarArgument("a.xml,x:y,c2:d,file:/tmp/g.xml", &parsed, &error));
  ASSERT_EQ(4u, parsed.entries.size());
  EXPECT_TRUE(parsed.entries[0].is_file);
  EXPECT_TRUE(parsed.entries[1].is_file);  // one letter is not a scheme
  EXPECT_FALSE(parsed.entries[2].is_file);
  EXPECT_FALSE(parsed.entries[3].is_file);
}

TEST(GrammarDocument, ContentTypeComesFromTheContent) {
  const struct {
    const char *document;
    const char *type;  // null: refused
  } cases[] = {
      {"<?xml version=\"1.0\"?>\n<grammar xmlns=\"http://www.w3.org/2001/06/grammar\" root=\"a\"/>",
       "application/srgs+xml"},
      {"\xEF\xBB\xBF  <grammar root=\"a\"><rule id=\"a\">x</rule></grammar>", "application/srgs+xml"},
      {"<!-- c --><speech-context id=\"s\"><phrase>yes</phrase></speech-context>", "application/xml"},
      {"#ABNF 1.0 UTF-8;\nroot $a; $a = yes | no;", "application/srgs"},
      {"<html/>", nullptr},
      {"<grammar>", nullptr},
      {"yes\nno\n", nullptr},
      {"  \n", nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.document);
    std::string type;
    std::string error;
    const bool ok = GrammarContentType(c.document, &type, &error);
    if (!c.type) {
      EXPECT_FALSE(ok);
      EXPECT_FALSE(error.empty());
    } else {
      ASSERT_TRUE(ok) << error;
      EXPECT_EQ(c.type, type);
    }
  }
}

TEST(GrammarDocument, ContentIdsAreTokens) {
  EXPECT_EQ("grammar@voxprobe", GrammarContentId("grammar.xml"));
  EXPECT_EQ("yesno-no_2@voxprobe", GrammarContentId("dir/yes no<>-no_2.grxml"));
  EXPECT_EQ("grammar@voxprobe", GrammarContentId("<>.xml"));
}

TEST(HeaderLines, ParametersFiles) {
  std::vector<HeaderLine> headers;
  std::string error;
  ASSERT_TRUE(ParseHeaderLines("# defaults\r\nN-Best-List-Length: 3\r\n\r\nNo-Input-Timeout:3000\n"
                               "Vendor-Specific-Parameters: a=1;\n b=2\nSpeech-Complete-Timeout: 500",
                               &headers, &error))
      << error;
  ASSERT_EQ(4u, headers.size());
  EXPECT_EQ("N-Best-List-Length", headers[0].name);
  EXPECT_EQ("3", headers[0].value);
  EXPECT_EQ(2u, headers[0].line);
  EXPECT_EQ("3000", headers[1].value);
  EXPECT_EQ("a=1; b=2", headers[2].value);
  EXPECT_EQ("500", headers[3].value);
  EXPECT_EQ(7u, headers[3].line);

  const struct {
    const char *text;
    const char *error;
  } bad[] = {
      {"No-Input-Timeout 3000\n", "line 1: no ':'"},
      {"A: 1\n: 2\n", "line 2: no header name"},
      {" continued\n", "line 1: continuation"},
      {"Content-Type: text/plain\n", "Content-Type is set by the client"},
      {"content-length: 4\n", "is set by the client"},
      {"Bad Name: 1\n", "bad header name"},
  };
  for (const auto &c : bad) {
    SCOPED_TRACE(c.text);
    EXPECT_FALSE(ParseHeaderLines(c.text, &headers, &error));
    EXPECT_NE(std::string::npos, error.find(c.error)) << error;
  }
}

TEST(ClientConfig, ProfilesOverTheBuiltInOnes) {
  ClientConfig config = DefaultClientConfig();
  ASSERT_EQ(2u, config.profiles.size());
  EXPECT_EQ(2, config.profiles["kel2"].mrcp_version);
  EXPECT_EQ(1, config.profiles["kel1"].mrcp_version);
  EXPECT_EQ("oxazorv", config.profiles["kel1"].plugin);
  EXPECT_EQ(8000u, config.profiles["kel2"].sampling_rate);

  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(ParseClientConfig(
      "<AsrClient Response-Timeout=\"700\" completion-timeout=\"900\" colour=\"red\">"
      "<profile name=\"kel2\" plugin=\"p/x.so\" server-root=\"srv\" codec=\"PCMU\" sampling-rate=\"16000\">"
      "<param name=\"open\" value=\"never\"/><other/></profile>"
      "<profile name=\"az\" plugin=\"oxavesk\" mrcp-version=\"1\"/><extra/></AsrClient>",
      &config, &warnings, &error))
      << error;
  EXPECT_EQ(700, config.response_timeout_ms);
  EXPECT_EQ(900, config.completion_timeout_ms);
  EXPECT_EQ(10000, config.open_timeout_ms);
  ASSERT_EQ(3u, config.profiles.size());
  const ClientProfile &kel2 = config.profiles["kel2"];
  EXPECT_EQ("p/x.so", kel2.plugin);
  EXPECT_EQ("srv", kel2.server_root);
  EXPECT_EQ("PCMU", kel2.codec);
  EXPECT_EQ(16000u, kel2.sampling_rate);
  ASSERT_EQ(1u, kel2.params.size());
  EXPECT_EQ("never", kel2.params[0].second);
  EXPECT_EQ(1, config.profiles["az"].mrcp_version);
  EXPECT_EQ(3u, warnings.size());  // colour, <other>, <extra>
}

TEST(ClientConfig, BadValuesAreRefused) {
  const char *documents[] = {
      "<asrclient response-timeout=\"0\"/>",
      "<asrclient completion-timeout=\"soon\"/>",
      "<asrclient><profile plugin=\"x\"/></asrclient>",
      "<asrclient><profile name=\"a\" mrcp-version=\"3\"/></asrclient>",
      "<asrclient><profile name=\"a\" codec=\"opus\"/></asrclient>",
      "<asrclient><profile name=\"a\" sampling-rate=\"11025\"/></asrclient>",
      "<asrclient><profile name=\"a\" plugin=\"\"/></asrclient>",
      "<asrclient><profile name=\"a\"><param value=\"1\"/></profile></asrclient>",
      "<client/>",
      "<asrclient>",
  };
  for (const char *document : documents) {
    SCOPED_TRACE(document);
    ClientConfig config = DefaultClientConfig();
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_FALSE(ParseClientConfig(document, &config, &warnings, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(2u, config.profiles.size());  // left as it was
  }
}

double Rms(const std::vector<uint8_t> &bytes) {
  double sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const double s = static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8));
    sum += s * s;
  }
  return bytes.size() < 2 ? 0 : std::sqrt(sum / static_cast<double>(bytes.size() / 2));
}

TEST(SessionAudio, OtherRatesAreConverted) {
  if (!CanResample()) GTEST_SKIP() << "built without a resampler";
  asrtest::TestRoot root;
  std::vector<uint8_t> at8k;
  std::vector<uint8_t> at16k;
  std::string note;
  std::string error;
  ASSERT_TRUE(LoadSessionAudio(root.Data("speech-16kHz.wav"), "LPCM", 8000, &at8k, &note, &error)) << error;
  EXPECT_EQ("converted from 16000 Hz to 8000 Hz", note);
  note.clear();
  ASSERT_TRUE(LoadSessionAudio(root.Data("speech.wav"), "LPCM", 16000, &at16k, &note, &error)) << error;
  EXPECT_EQ("converted from 8000 Hz to 16000 Hz", note);
  // One second of audio at each rate, give or take the converter's edges; the energy is kept.
  EXPECT_NEAR(16000.0, static_cast<double>(at8k.size()), 80.0);
  EXPECT_NEAR(32000.0, static_cast<double>(at16k.size()), 160.0);
  const auto original = asrtest::Utterance(8000, 200, 300, 500);
  EXPECT_NEAR(Rms(original), Rms(at16k), Rms(original) * 0.1);

  // Headerless audio is taken at the channel's rate; the codec of the channel is applied.
  std::vector<uint8_t> ulaw;
  note.clear();
  ASSERT_TRUE(LoadSessionAudio(root.Data("speech.pcm"), "PCMU", 8000, &ulaw, &note, &error)) << error;
  EXPECT_TRUE(note.empty());
  EXPECT_EQ(8000u, ulaw.size());
}

TEST(SessionAudio, UnreadableAudioIsRefused) {
  asrtest::TestRoot root;
  asrtest::WriteText(root.Data("empty.pcm"), "");
  asrtest::WriteText(root.Data("broken.wav"), "RIFF\x10\x00\x00\x00WAVEjunk");
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_FALSE(LoadSessionAudio(root.Data("empty.pcm"), "LPCM", 8000, &out, nullptr, &error));
  EXPECT_NE(std::string::npos, error.find("holds no audio")) << error;
  EXPECT_FALSE(LoadSessionAudio(root.Data("broken.wav"), "LPCM", 8000, &out, nullptr, &error));
  EXPECT_NE(std::string::npos, error.find("broken.wav")) << error;
  EXPECT_FALSE(LoadSessionAudio(root.Data("missing.wav"), "LPCM", 8000, &out, nullptr, &error));
}

}  // namespace
}  // namespace asrclient
