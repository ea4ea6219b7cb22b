// Runs a parsed session script against an engine of the host's server.
#ifndef OXAHOST_RUNNER_H
#define OXAHOST_RUNNER_H

#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "mrcphost/host_server.h"
#include "script.h"

namespace oxahost {

// Everything oxahost prints, with time stamps relative to its start; one writer at a time.
class Output {
 public:
  Output(FILE *file, bool quiet) : m_File(file), m_Quiet(quiet), m_Start(mrcphost::SteadyClock::now()) {}
  void Note(const std::string &who, const std::string &text);
  // Failures are printed even when quiet.
  void Failure(const std::string &who, const std::string &text);
  void Message(const std::string &who, const char *direction, const mrcphost::WireMessage &message);
  bool Quiet() const { return m_Quiet; }

 private:
  std::string Stamp(mrcphost::SteadyClock::time_point when) const;

  std::mutex m_Mutex;
  FILE *m_File;
  const bool m_Quiet;
  const mrcphost::SteadyClock::time_point m_Start;
};

class Runner : public mrcphost::Channel::Observer {
 public:
  // A runner that owns the engine opens it on demand and closes it at the end; a runner of one
  // of several sessions leaves the engine to its caller and refuses engine commands.
  Runner(mrcphost::Engine *engine, Output *output, std::string label, bool owns_engine);
  ~Runner() override;

  // Runs every command until the first failure, then closes what is left open.
  // True when every command passed and everything closed cleanly.
  bool Run(const Script &script);

  void OnChannelMessage(mrcphost::Channel &channel, const mrcphost::WireMessage &message) override;
  void OnChannelRequest(mrcphost::Channel &channel, const mrcphost::WireMessage &message) override;

 private:
  struct ChannelState {
    std::string name;
    std::shared_ptr<mrcphost::Channel> channel;
    std::deque<std::pair<mrcp_request_id, std::string>> unanswered;  // sent, response not yet expected
    std::string record;
  };

  bool Step(const Command &c);
  bool Fail(const Command &c, const std::string &why);
  bool Note(const Command &c, const std::string &text);
  ChannelState *Find(const Command &c, std::string *why);
  bool EngineOpen(const Command &c);
  bool OpenChannel(const Command &c);
  bool CloseChannel(ChannelState *state, Millis timeout, std::string *why);
  bool Expect(const Command &c, ChannelState *state);
  bool ExpectNone(const Command &c, ChannelState *state);
  bool Cleanup(Millis timeout);
  std::string Who(const std::string &channel) const;
  std::string NameOf(const mrcphost::Channel &channel) const;

  mrcphost::Engine *m_Engine;
  Output *m_Output;
  const std::string m_Label;
  const bool m_OwnsEngine;
  bool m_EngineTried = false;
  std::map<std::string, std::unique_ptr<ChannelState>> m_Channels;
  mutable std::mutex m_NamesMutex;
  std::map<const mrcphost::Channel *, std::string> m_Names;  // guarded by m_NamesMutex
};

// Checks one condition of an expectation; why says what differed.
bool CheckCondition(const Condition &condition, const mrcphost::WireMessage &message, std::string *why);

}  // namespace oxahost

#endif  // OXAHOST_RUNNER_H
