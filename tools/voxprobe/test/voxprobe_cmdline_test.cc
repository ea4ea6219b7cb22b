// voxprobe's options and command loop, with the ASR client replaced by a recorder: which calls
// each command line and each option makes, and what is printed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_asr_client.h"

extern "C" int voxprobe_main(int argc, const char *const *argv);

namespace {

using Calls = std::vector<std::string>;

struct Outcome {
  int status = -1;
  std::string out;
  Calls calls;
};

// Runs voxprobe's main with the arguments and with script as standard input.
Outcome RunVoxprobe(std::vector<const char *> args, const std::string &script) {
  char path[] = "/tmp/voxprobe-stdin-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_EQ(static_cast<ssize_t>(script.size()), write(fd, script.data(), script.size()));
  lseek(fd, 0, SEEK_SET);
  const int saved = dup(0);
  dup2(fd, 0);
  close(fd);
  unlink(path);
  __fpurge(stdin);
  clearerr(stdin);

  args.insert(args.begin(), "voxprobe");
  FakeAsrCalls();
  Outcome outcome;
  testing::internal::CaptureStdout();
  outcome.status = voxprobe_main(static_cast<int>(args.size()), args.data());
  fflush(stdout);
  outcome.out = testing::internal::GetCapturedStdout();
  outcome.calls = FakeAsrCalls();

  dup2(saved, 0);
  close(saved);
  __fpurge(stdin);
  clearerr(stdin);
  return outcome;
}

const char kUsage[] =
    "\nUsage:\n\n  voxprobe [options]\n\n  Available options:\n\n   -r [--root-dir] path     : Set the project root "
    "directory path.\n\n   -l [--log-prio] priority : Set the log priority.\n                              "
    "(0-emergency, ..., 7-debug)\n\n   -o [--log-output] mode   : Set the log output mode.\n                        "
    "      (0-none, 1-console only, 2-file only, 3-both)\n\n   -h [--help]              : Show the help.\n";

const char kEngine[] = "engine_create (null) 6 1";

TEST(VoxprobeOptions, HelpAndOptionErrorsPrintTheUsageOnly) {
  const std::vector<std::vector<const char *>> cases = {{"-h"}, {"--help"}, {"-x"}, {"--colour"}, {"-l"},
                                                        {"-r", "/r", "-h"}};
  for (const auto &args : cases) {
    SCOPED_TRACE(args[0]);
    Outcome outcome = RunVoxprobe(args, "run\n");
    EXPECT_EQ(0, outcome.status);
    EXPECT_EQ(kUsage, outcome.out);
    EXPECT_EQ(Calls{}, outcome.calls);  // no engine, no command read
  }
}

TEST(VoxprobeOptions, ValuesReachTheEngine) {
  const struct {
    std::vector<const char *> args;
    const char *engine;
  } cases[] = {
      {{}, kEngine},
      {{"-r", "/srv/root", "-l", "7", "-o", "2"}, "engine_create /srv/root 7 2"},
      {{"--root-dir", "/x", "--log-prio", "3", "--log-output", "0"}, "engine_create /x 3 0"},
      {{"-l", "04"}, "engine_create (null) 4 1"},
  };
  for (const auto &c : cases) {
    Outcome outcome = RunVoxprobe(c.args, "");
    EXPECT_EQ(0, outcome.status);
    EXPECT_EQ((Calls{c.engine, "engine_destroy"}), outcome.calls);
  }
  // An engine that cannot start ends the program quietly.
  Outcome outcome = RunVoxprobe({"-r", "fail"}, "run\n");
  EXPECT_EQ(0, outcome.status);
  EXPECT_EQ(Calls{"engine_create fail 6 1"}, outcome.calls);
  EXPECT_EQ("", outcome.out);
}

TEST(VoxprobeCommands, RunTokensAndTheirDefaults) {
  const struct {
    const char *line;
    Calls calls;  // of the session thread
  } cases[] = {
      {"run", {"session_create kel2", "recognize grammar.xml one-8kHz.pcm (null) 0", "session_destroy"}},
      {"run g.xml a.wav - - set",
       {"session_create kel2", "set_param (null) (null) (null)", "recognize g.xml a.wav (null) 1", "session_destroy"}},
      {"run g.xml a.wav kel1 p.txt SET GET",
       {"session_create kel1", "get_params", "set_param p.txt (null) (null)", "recognize g.xml a.wav p.txt 1",
        "get_params", "session_destroy"}},
      {"run g.xml a.wav -x p.txt - get",
       {"session_create kel2", "get_params", "recognize g.xml a.wav p.txt 0", "get_params", "session_destroy"}},
      // Flags count only in their own positions; a parameters file starting with '-' is none.
      {"run g.xml a.wav kel2 -p.txt get set", {"session_create kel2", "recognize g.xml a.wav (null) 0", "session_destroy"}},
      {"RUN    builtin:grammar/boolean   yes.wav  ",
       {"session_create kel2", "recognize builtin:grammar/boolean yes.wav (null) 0", "session_destroy"}},
      {"Run <a.xml>;weight=\"2.0\",<b.xml>;weight=\"0.75\" one.wav",
       {"session_create kel2", "recognize <a.xml>;weight=\"2.0\",<b.xml>;weight=\"0.75\" one.wav (null) 0",
        "session_destroy"}},
      {"run g.xml a.wav broken p.txt set get", {"session_create broken"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    Outcome outcome = RunVoxprobe({}, std::string(c.line) + "\nexit\n");
    Calls expected = {kEngine};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    expected.push_back("engine_destroy");
    EXPECT_EQ(expected, outcome.calls);
  }
}

TEST(VoxprobeCommands, ResultsAndParameterMismatchArePrinted) {
  Outcome outcome = RunVoxprobe({}, "run g.xml a.wav kel2 p.txt set get\n");
  EXPECT_NE(std::string::npos, outcome.out.find("Recog Result [nlsml]Parameters do not match.")) << outcome.out;
  outcome = RunVoxprobe({}, "run g.xml a.wav kel2 p.txt - get\n");
  EXPECT_NE(std::string::npos, outcome.out.find("Recog Result [nlsml]")) << outcome.out;
  EXPECT_EQ(std::string::npos, outcome.out.find("Parameters do not match.")) << outcome.out;
  outcome = RunVoxprobe({}, "run nothing\n");
  EXPECT_EQ(std::string::npos, outcome.out.find("Recog Result")) << outcome.out;
}

TEST(VoxprobeCommands, OtherCommandsAndLetterCase) {
  const struct {
    const char *script;
    Calls calls;     // between engine_create and engine_destroy
    const char *out;  // the whole output
  } cases[] = {
      {"quit\nrun\n", {}, ">"},
      {"QUIT\nexit\n", {}, ">unknown command: QUIT (input help for usage)\n>"},
      {"Exit\nrun\n", {}, ">"},
      {"eXiT\n", {}, ">"},
      {"loglevel 7\nLOGLEVEL 2\nloglevel\nexit\n", {"loglevel 7", "loglevel 2"}, ">>>>"},
      {"\n   \n\nexit\n", {}, ">>>>"},
      {"run\tg.xml\nexit\n", {}, ">unknown command: run\tg.xml (input help for usage)\n>"},
      {"runs\nexit\n", {}, ">unknown command: runs (input help for usage)\n>"},
      // End of input ends the loop like exit, also after a last line without a newline.
      {"", {}, ">\n"},
      {"loglevel 5", {"loglevel 5"}, ">>\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.script);
    Outcome outcome = RunVoxprobe({}, c.script);
    Calls expected = {kEngine};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    expected.push_back("engine_destroy");
    EXPECT_EQ(expected, outcome.calls);
    EXPECT_EQ(c.out, outcome.out);
  }
}

TEST(VoxprobeCommands, HelpText) {
  Outcome outcome = RunVoxprobe({}, "HELP\nexit\n");
  const std::string &out = outcome.out;
  EXPECT_EQ(0u, out.find(">usage:\n\n  Run demo ASR client\n")) << out;
  for (const char *line :
       {"Run grammar_uri_list audio_input_file [profile_name | -] [params_file | -] [set | -] [get | -]\n",
        "is the name of a grammar file (path is relative to data dir)\n", "(default is grammar.xml)\n",
        "builtin: - grammar is a VoiceXML builtin grammar like builtin:grammar/boolean\n",
        "supported prorpietary grammar URIs\n", "(no URI prefix) - grammar file is read from local data folder.\n",
        "headerless PCM files are supported as well as WAV files with RIFF headers.\n", "(default is one-8kHz.pcm)\n",
        "is the configured client-profile, like one of 'kel2', 'kel1', ...\n", "(default is kel2)\n",
        "N-Best-List-Length: 3\n", "No-Input-Timeout: 3000\n", "Speech-Complete-Timeout: 500\n",
        "(default is no parameter file. In this case the ASR defaults are used)\n",
        "set - send parameter_file as headers in MRCP SET-PARAMS method, otherwise\n",
        "parameters are sent as headers in the MRCP RECOGNIZE method \n",
        "get - send MRCP GET-PARAMS method before and after recognition\n",
        "run grammar.xml one-8kHz.pcm kel2 params_default.txt set get\n", "run grammar.xml one.wav\n",
        "run builtin:grammar/boolean yes.wav\n", "run operator.grxml speak_to_representative.wav kel2\n",
        "run builtin:grammar/boolean yes.pcm kel2\n", "run builtin:grammar/boolean yes.wav - params.txt set get\n",
        ";weight=\"2.0\"", ";weight=\"0.75\"", "- loglevel [level] (set loglevel, one of 0,1...7)\n", "- quit, exit\n"}) {
    EXPECT_NE(std::string::npos, out.find(line)) << line;
  }
  EXPECT_NE(std::string::npos, out.find("http://")) << out;
  EXPECT_NE(std::string::npos, out.find("https://")) << out;
}

TEST(VoxprobeCommands, LinesLongerThanTheBufferAreCutInto1023Characters) {
  const std::string word(1100, 'a');
  Outcome outcome = RunVoxprobe({}, word + "\nexit\n");
  const std::string expected = ">unknown command: " + std::string(1023, 'a') + " (input help for usage)\n>unknown command: " +
                               std::string(77, 'a') + " (input help for usage)\n>";
  EXPECT_EQ(expected, outcome.out);
}

}  // namespace
