// The voxprobe program as a user runs it: commands on standard input, a client root with the
// test recognizer plugin, results on standard output and the client's log on standard error.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "asr_test_root.h"

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs voxprobe with the arguments, feeds it script and reads both outputs until it exits.
Outcome RunVoxprobe(const std::vector<std::string> &args, const std::string &script) {
  int in[2], out[2], err[2];
  Outcome outcome;
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return outcome;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(VOXPROBE));
    for (const auto &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(VOXPROBE, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  // Scripts are far smaller than a pipe's buffer.
  EXPECT_EQ(static_cast<ssize_t>(script.size()), write(in[1], script.data(), script.size()));
  close(in[1]);
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string *sinks[2] = {&outcome.out, &outcome.err};
  int open_fds = 2;
  while (open_fds > 0 && poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

class VoxprobeRun : public ::testing::Test {
 protected:
  asrtest::TestRoot m_Root{"<profile name=\"ghost\" plugin=\"ghost\"/>"};
  std::vector<std::string> Args() const { return {"-r", m_Root.Dir()}; }
};

TEST_F(VoxprobeRun, ARunPrintsTheRecognitionResult) {
  Outcome outcome = RunVoxprobe(Args(), "run grammar.xml speech.wav\nexit\n");
  EXPECT_EQ(0, outcome.status);
  EXPECT_TRUE(Has(outcome.out, "Recog Result [<?xml version=\"1.0\"?>\n<result>\n  <interpretation "
                               "grammar=\"session:grammar@voxprobe\""))
      << outcome.out;
  EXPECT_TRUE(Has(outcome.out, "</result>\n]")) << outcome.out;
  EXPECT_TRUE(Has(outcome.err, "[ASRCLIENT] Recognition Complete [000 success]")) << outcome.err;
}

TEST_F(VoxprobeRun, EndOfInputLetsTheRunFinish) {
  Outcome outcome = RunVoxprobe(Args(), "run grammar.xml speech.wav");
  EXPECT_EQ(0, outcome.status);
  EXPECT_TRUE(Has(outcome.out, "Recog Result [<?xml")) << outcome.out;
  EXPECT_TRUE(Has(outcome.err, "ASR Client Engine Destroyed")) << outcome.err;
}

TEST_F(VoxprobeRun, SetAndGetFlags) {
  Outcome outcome = RunVoxprobe(Args(), "run grammar.xml speech.wav kel2 params.txt set get\nexit\n");
  EXPECT_TRUE(Has(outcome.out, "set-params=1")) << outcome.out;
  EXPECT_TRUE(Has(outcome.out, "headers= ")) << outcome.out;
  // The test plugin reports the values SET-PARAMS set in the later GET-PARAMS.
  EXPECT_TRUE(Has(outcome.out, "]Parameters do not match.")) << outcome.out;

  outcome = RunVoxprobe(Args(), "run grammar.xml speech.wav - params.txt - get\nexit\n");
  EXPECT_TRUE(Has(outcome.out, "headers=No-Input-Timeout:3000;Speech-Complete-Timeout:500 set-params=0")) << outcome.out;
  EXPECT_FALSE(Has(outcome.out, "Parameters do not match.")) << outcome.out;
}

TEST_F(VoxprobeRun, MissingFilesAndPluginsAreReported) {
  Outcome outcome = RunVoxprobe(Args(), "run grammar.xml nope.wav\nrun grammar.xml speech.wav ghost\nexit\n");
  EXPECT_EQ(0, outcome.status);
  EXPECT_FALSE(Has(outcome.out, "Recog Result")) << outcome.out;
  EXPECT_TRUE(Has(outcome.err, "[ERROR] [ASRCLIENT] Audio File [nope.wav] Not Found: " + m_Root.Data("nope.wav")))
      << outcome.err;
  EXPECT_TRUE(Has(outcome.err, "[ERROR] [ASRCLIENT] Profile [ghost]: plugin [ghost] not found")) << outcome.err;
}

TEST_F(VoxprobeRun, LogLevelAndOptions) {
  Outcome outcome = RunVoxprobe({"-r", m_Root.Dir(), "-l", "4"}, "run\nexit\n");
  EXPECT_FALSE(Has(outcome.err, "[INFO]")) << outcome.err;
  EXPECT_TRUE(Has(outcome.err, "[ERROR] [ASRCLIENT] Audio File [one-8kHz.pcm] Not Found")) << outcome.err;
  EXPECT_FALSE(Has(outcome.err, "[DEBUG]")) << outcome.err;

  outcome = RunVoxprobe({"-r", m_Root.Dir(), "-l", "4"}, "loglevel 7\nrun grammar.xml speech.wav\nexit\n");
  EXPECT_TRUE(Has(outcome.err, "[DEBUG] [ASRCLIENT] Send MRCP Request")) << outcome.err;
  EXPECT_TRUE(Has(outcome.err, " RECOGNIZE 2\r\n")) << outcome.err;

  outcome = RunVoxprobe({"-r", m_Root.Dir(), "-o", "0"}, "run grammar.xml speech.wav\nexit\n");
  EXPECT_EQ("", outcome.err);
  EXPECT_TRUE(Has(outcome.out, "Recog Result [")) << outcome.out;

  outcome = RunVoxprobe({"-r", m_Root.Dir(), "--bogus"}, "run\n");
  EXPECT_EQ(0, outcome.status);
  EXPECT_EQ(0u, outcome.out.find("\nUsage:\n\n  voxprobe [options]\n")) << outcome.out;
  EXPECT_FALSE(Has(outcome.err, "ASR Client Engine")) << outcome.err;
}

}  // namespace
