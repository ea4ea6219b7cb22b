// Session script runner.
#include "runner.h"

#include <strings.h>

#include <cinttypes>
#include <cstdlib>
#include <thread>

namespace oxahost {

namespace {

using mrcphost::HostResult;
using mrcphost::SteadyClock;
using mrcphost::WireMessage;

std::string Ms(Millis d) { return std::to_string(d.count()) + " ms"; }

const char *StateName(mrcp_request_state_e state) {
  const char *name = mrcp_request_state_name_get(state);
  return name ? name : "?";
}

// A one-line description of a message: "response 1 200 IN-PROGRESS", "RECOGNITION-COMPLETE 1 COMPLETE".
std::string Describe(const WireMessage &m) {
  switch (m.type) {
    case MRCP_MESSAGE_TYPE_RESPONSE:
      return "response " + std::to_string(m.request_id) + " " + std::to_string(m.status_code) + " " +
             StateName(m.request_state) + (m.name.empty() ? "" : " (" + m.name + ")");
    case MRCP_MESSAGE_TYPE_EVENT:
      return m.name + " " + std::to_string(m.request_id) + " " + StateName(m.request_state);
    case MRCP_MESSAGE_TYPE_REQUEST:
      return m.name + " " + std::to_string(m.request_id);
    default:
      return "message";
  }
}

std::string Printable(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += (c < 0x20 && c != '\n' && c != '\t') || c == 0x7f ? '.' : static_cast<char>(c);
  }
  return out;
}

Millis Left(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<Millis>(deadline - SteadyClock::now());
  return left.count() > 0 ? left : Millis(0);
}

}  // namespace

std::string Output::Stamp(mrcphost::SteadyClock::time_point when) const {
  char buf[32];
  double seconds = std::chrono::duration<double>(when - m_Start).count();
  snprintf(buf, sizeof(buf), "[%8.3f]", seconds);
  return buf;
}

void Output::Note(const std::string &who, const std::string &text) {
  if (m_Quiet) return;
  std::lock_guard<std::mutex> lock(m_Mutex);
  fprintf(m_File, "%s %s: %s\n", Stamp(SteadyClock::now()).c_str(), who.c_str(), text.c_str());
  fflush(m_File);
}

void Output::Failure(const std::string &who, const std::string &text) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  fprintf(m_File, "%s %s: FAILED %s\n", Stamp(SteadyClock::now()).c_str(), who.c_str(), text.c_str());
  fflush(m_File);
}

void Output::Message(const std::string &who, const char *direction, const WireMessage &message) {
  if (m_Quiet) return;
  std::string text = Printable(message.text);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::lock_guard<std::mutex> lock(m_Mutex);
  fprintf(m_File, "%s %s %s %s\n%s\n\n", Stamp(message.time).c_str(), who.c_str(), direction,
          Describe(message).c_str(), text.c_str());
  fflush(m_File);
}

bool CheckCondition(const Condition &c, const WireMessage &m, std::string *why) {
  auto quoted = [](const std::string &s) { return "[" + s + "]"; };
  switch (c.kind) {
    case Condition::kStatus:
      if (m.type != MRCP_MESSAGE_TYPE_RESPONSE) return *why = "not a response", false;
      if (std::to_string(m.status_code) != c.value) {
        return *why = "status is " + std::to_string(m.status_code) + ", expected " + c.value, false;
      }
      return true;
    case Condition::kState:
      if (c.value != StateName(m.request_state)) {
        return *why = std::string("request state is ") + StateName(m.request_state) + ", expected " + c.value, false;
      }
      return true;
    case Condition::kCause: {
      const std::string *cause = m.Header("Completion-Cause");
      if (!cause) return *why = "no Completion-Cause", false;
      const bool numeric = c.value.find_first_not_of("0123456789") == std::string::npos;
      bool same;
      if (numeric) {
        same = atoi(cause->c_str()) == atoi(c.value.c_str()) && !cause->empty() && isdigit(static_cast<unsigned char>((*cause)[0]));
      } else {
        size_t space = cause->find(' ');
        same = space != std::string::npos && strcasecmp(cause->c_str() + space + 1, c.value.c_str()) == 0;
      }
      if (!same) return *why = "Completion-Cause is " + quoted(*cause) + ", expected " + c.value, false;
      return true;
    }
    case Condition::kHeaderEquals:
    case Condition::kHeaderContains:
    case Condition::kHeaderMatches:
    case Condition::kHeaderPresent:
    case Condition::kHeaderAbsent: {
      const std::string *value = m.Header(c.name);
      if (c.kind == Condition::kHeaderAbsent) {
        return value ? (*why = c.name + " is present: " + quoted(*value), false) : true;
      }
      if (!value) return *why = "no " + c.name + " header", false;
      if (c.kind == Condition::kHeaderEquals && *value != c.value) {
        return *why = c.name + " is " + quoted(*value) + ", expected " + quoted(c.value), false;
      }
      if (c.kind == Condition::kHeaderContains && value->find(c.value) == std::string::npos) {
        return *why = c.name + " is " + quoted(*value) + ", which does not contain " + quoted(c.value), false;
      }
      if (c.kind == Condition::kHeaderMatches && !std::regex_search(*value, *c.pattern)) {
        return *why = c.name + " is " + quoted(*value) + ", which does not match " + quoted(c.value), false;
      }
      return true;
    }
    case Condition::kBodyEquals:
      if (m.body != c.value) return *why = "body is " + quoted(m.body) + ", expected " + quoted(c.value), false;
      return true;
    case Condition::kBodyContains:
      if (m.body.find(c.value) == std::string::npos) {
        return *why = "body does not contain " + quoted(c.value) + ": " + quoted(m.body), false;
      }
      return true;
    case Condition::kBodyMatches:
      if (!std::regex_search(m.body, *c.pattern)) {
        return *why = "body does not match " + quoted(c.value) + ": " + quoted(m.body), false;
      }
      return true;
    case Condition::kBodyEmpty:
      if (!m.body.empty()) return *why = "body is not empty: " + quoted(m.body), false;
      return true;
  }
  return false;
}

Runner::Runner(mrcphost::Engine *engine, Output *output, std::string label, bool owns_engine)
    : m_Engine(engine), m_Output(output), m_Label(std::move(label)), m_OwnsEngine(owns_engine) {}

Runner::~Runner() {
  // Channels may outlive the runner inside the engine; stop them calling back.
  for (auto &entry : m_Channels) {
    if (entry.second->channel) entry.second->channel->SetObserver(nullptr);
  }
}

std::string Runner::Who(const std::string &channel) const {
  if (m_Label.empty()) return channel;
  return channel.empty() ? m_Label : m_Label + "/" + channel;
}

std::string Runner::NameOf(const mrcphost::Channel &channel) const {
  std::lock_guard<std::mutex> lock(m_NamesMutex);
  auto it = m_Names.find(&channel);
  return it != m_Names.end() ? it->second : channel.Id();
}

void Runner::OnChannelMessage(mrcphost::Channel &channel, const WireMessage &message) {
  m_Output->Message(Who(NameOf(channel)), "<<", message);
}

void Runner::OnChannelRequest(mrcphost::Channel &channel, const WireMessage &message) {
  m_Output->Message(Who(NameOf(channel)), ">>", message);
}

bool Runner::Fail(const Command &c, const std::string &why) {
  m_Output->Failure(Who(c.channel.empty() ? "script" : c.channel), "line " + std::to_string(c.line) + ": " + c.source +
                                                                         ": " + why);
  return false;
}

bool Runner::Note(const Command &c, const std::string &text) {
  m_Output->Note(Who(c.channel.empty() ? (m_Engine ? "engine " + m_Engine->Name() : "script") : c.channel), text);
  return true;
}

Runner::ChannelState *Runner::Find(const Command &c, std::string *why) {
  auto it = m_Channels.find(c.channel);
  if (it == m_Channels.end() || !it->second->channel) {
    *why = "no open channel " + c.channel;
    return nullptr;
  }
  return it->second.get();
}

bool Runner::Run(const Script &script) {
  if (script.uses_engine_commands && !m_OwnsEngine) {
    m_Output->Failure(Who("script"), "engine commands cannot run in one of several sessions");
    return false;
  }
  bool ok = true;
  Millis cleanup_timeout(5000);
  for (const Command &c : script.commands) {
    cleanup_timeout = c.timeout;
    if (!Step(c)) {
      ok = false;
      break;
    }
  }
  return Cleanup(cleanup_timeout) && ok;
}

bool Runner::EngineOpen(const Command &c) {
  m_EngineTried = true;
  std::string error;
  HostResult result = m_Engine->Open(c.timeout, &error);
  if (result == HostResult::kOk) {
    if (c.fails) return Fail(c, "the engine opened but was expected to fail");
    return Note(c, "open");
  }
  if (result == HostResult::kRefused && c.fails) return Note(c, "open failed as expected (" + error + ")");
  return Fail(c, error);
}

bool Runner::OpenChannel(const Command &c) {
  if (m_Channels.count(c.channel) && m_Channels[c.channel]->channel) return Fail(c, "channel is open already");
  mrcphost::ChannelConfig config;
  config.id = c.id;
  config.version = c.version == 1 ? MRCP_VERSION_1 : MRCP_VERSION_2;
  config.codec = c.codec;
  config.rate = c.rate;
  config.attribs = c.attribs;
  const auto deadline = SteadyClock::now() + c.timeout;
  std::string error;
  std::shared_ptr<mrcphost::Channel> channel = m_Engine->CreateChannel(config, c.timeout, &error);
  if (!channel) {
    if (c.fails) return Note(c, "open failed as expected (" + error + ")");
    return Fail(c, error);
  }
  {
    std::lock_guard<std::mutex> lock(m_NamesMutex);
    m_Names[channel.get()] = c.channel;
  }
  channel->SetObserver(this);
  HostResult result = channel->Open(Left(deadline), &error);
  if (result != HostResult::kOk) {
    std::string close_error;
    // Nothing more will go to the channel: let the plugin drop it.
    if (result != HostResult::kTimedOut) channel->Close(Left(deadline) + Millis(100), &close_error);
    if (result == HostResult::kRefused && c.fails) return Note(c, "open failed as expected (" + error + ")");
    return Fail(c, error);
  }
  auto state = std::make_unique<ChannelState>();
  state->name = c.channel;
  state->channel = channel;
  state->record = c.record;
  if (!c.record.empty()) channel->SetRecording(true);
  m_Channels[c.channel] = std::move(state);
  if (c.fails) return Fail(c, "the channel opened but was expected to fail");
  std::string codec = "no audio";
  if (const mpf_codec_descriptor_t *d = channel->Codec()) {
    codec = std::string(d->name.buf, d->name.length) + "/" + std::to_string(d->sampling_rate);
  }
  return Note(c, "open (id " + channel->Id() + ", MRCPv" + std::to_string(c.version) + ", " + codec + ")");
}

bool Runner::CloseChannel(ChannelState *state, Millis timeout, std::string *why) {
  std::shared_ptr<mrcphost::Channel> channel = std::move(state->channel);
  bool ok = true;
  HostResult result = channel->Close(timeout, why);
  if (result != HostResult::kOk) ok = false;
  if (!state->record.empty()) {
    mrcphost::AudioBuffer audio = channel->RecordedAudio();
    std::string error;
    if (!mrcphost::WriteWavFile(state->record, audio, &error)) {
      *why = error;
      ok = false;
    } else {
      const size_t per_second = mrcphost::FrameBytes(audio.codec, audio.rate, 1000);
      m_Output->Note(Who(state->name), "wrote " + std::to_string(per_second ? audio.bytes.size() * 1000 / per_second : 0) +
                                           " ms of audio to " + state->record);
    }
  }
  channel->SetObserver(nullptr);
  return ok;
}

bool Runner::Cleanup(Millis timeout) {
  bool ok = true;
  for (auto &entry : m_Channels) {
    ChannelState *state = entry.second.get();
    if (!state->channel) continue;
    std::string why;
    if (!CloseChannel(state, timeout, &why)) {
      m_Output->Failure(Who(state->name), "close at the end: " + why);
      ok = false;
    } else {
      m_Output->Note(Who(state->name), "closed at the end");
    }
  }
  if (m_OwnsEngine && m_Engine->IsOpen()) {
    std::string why;
    if (m_Engine->Close(timeout, &why) != HostResult::kOk) {
      m_Output->Failure("engine " + m_Engine->Name(), "close: " + why);
      ok = false;
    } else {
      m_Output->Note("engine " + m_Engine->Name(), "closed");
    }
  }
  return ok;
}

bool Runner::Expect(const Command &c, ChannelState *state) {
  mrcp_request_id wanted_id = 0;
  auto pending = state->unanswered.end();
  if (c.response) {
    for (auto it = state->unanswered.begin(); it != state->unanswered.end(); ++it) {
      if (c.to_method.empty() || strcasecmp(it->second.c_str(), c.to_method.c_str()) == 0) {
        pending = it;
        break;
      }
    }
    if (pending == state->unanswered.end()) {
      return Fail(c, c.to_method.empty() ? "no request waits for a response" : "no " + c.to_method + " waits for a response");
    }
    wanted_id = pending->first;
  }
  auto is_wanted = [&](const WireMessage &m) {
    if (c.any) return true;
    if (c.response) return m.type == MRCP_MESSAGE_TYPE_RESPONSE && m.request_id == wanted_id;
    return m.type == MRCP_MESSAGE_TYPE_EVENT && strcasecmp(m.name.c_str(), c.event.c_str()) == 0;
  };
  const std::string what = c.any ? "a message"
                           : c.response ? "response to " + pending->second + " " + std::to_string(wanted_id)
                                        : c.event;
  WireMessage message;
  const auto deadline = SteadyClock::now() + c.timeout;
  bool found = c.next ? state->channel->WaitMessage([](const WireMessage &) { return true; }, deadline, &message)
                      : state->channel->WaitMessage(is_wanted, deadline, &message);
  if (!found) return Fail(c, "no " + what + " within " + Ms(c.timeout));
  if (c.next && !is_wanted(message)) return Fail(c, "the next message is " + Describe(message) + ", not " + what);
  if (c.response) state->unanswered.erase(pending);
  for (const Condition &condition : c.conditions) {
    std::string why;
    if (!CheckCondition(condition, message, &why)) return Fail(c, Describe(message) + ": " + why);
  }
  return Note(c, "got " + Describe(message) + " as expected (line " + std::to_string(c.line) + ")");
}

bool Runner::ExpectNone(const Command &c, ChannelState *state) {
  auto unwanted = [&](const WireMessage &m) {
    if (c.any) return true;
    if (c.response) {
      return m.type == MRCP_MESSAGE_TYPE_RESPONSE &&
             (c.to_method.empty() || strcasecmp(m.name.c_str(), c.to_method.c_str()) == 0);
    }
    return m.type == MRCP_MESSAGE_TYPE_EVENT && strcasecmp(m.name.c_str(), c.event.c_str()) == 0;
  };
  WireMessage message;
  if (!state->channel->ExpectNone(unwanted, SteadyClock::now() + c.timeout, &message)) {
    return Fail(c, "got " + Describe(message));
  }
  return Note(c, "nothing unwanted within " + Ms(c.timeout) + " (line " + std::to_string(c.line) + ")");
}

bool Runner::Step(const Command &c) {
  std::string why;
  const bool channel_command = !c.channel.empty();
  if (channel_command && c.kind == CommandKind::kOpen && m_OwnsEngine && !m_EngineTried && !m_Engine->IsOpen()) {
    Command implicit = c;
    implicit.kind = CommandKind::kEngineOpen;
    implicit.channel.clear();
    implicit.fails = false;
    implicit.source = "engine open (before the first channel)";
    if (!EngineOpen(implicit)) return false;
  }
  switch (c.kind) {
    case CommandKind::kEngineOpen:
      return EngineOpen(c);
    case CommandKind::kEngineClose: {
      if (!m_Engine->IsOpen()) return Fail(c, "the engine is not open");
      for (auto &entry : m_Channels) entry.second->channel.reset();  // the engine closes them
      if (m_Engine->Close(c.timeout, &why) != HostResult::kOk) return Fail(c, why);
      return Note(c, "closed");
    }
    case CommandKind::kOpen:
      return OpenChannel(c);
    case CommandKind::kSleep:
      std::this_thread::sleep_for(c.duration);
      return true;
    case CommandKind::kPrint:
      m_Output->Note(Who("script"), c.text);
      return true;
    default:
      break;
  }
  ChannelState *state = Find(c, &why);
  if (!state) return Fail(c, why);
  mrcphost::Channel &channel = *state->channel;
  switch (c.kind) {
    case CommandKind::kClose:
      if (!CloseChannel(state, c.timeout, &why)) return Fail(c, why);
      return Note(c, "closed");
    case CommandKind::kSend: {
      WireMessage sent;
      if (!channel.SendRequest(c.request, &sent, &why)) return Fail(c, why);
      state->unanswered.emplace_back(sent.request_id, sent.name);
      return true;
    }
    case CommandKind::kExpect:
      return Expect(c, state);
    case CommandKind::kExpectNone:
      return ExpectNone(c, state);
    case CommandKind::kAudio: {
      const uint64_t before = channel.GetStats().input_frames_queued;
      if (!channel.QueueAudioFile(c.path, c.fast, &why)) return Fail(c, why);
      const uint64_t frames = channel.GetStats().input_frames_queued - std::min(before, channel.GetStats().input_frames_queued);
      return Note(c, "queued " + c.path + (c.fast ? " (fast)" : "") + ", about " + std::to_string(frames * 10) + " ms");
    }
    case CommandKind::kSilence:
      if (!channel.QueueSilence(c.duration, &why)) return Fail(c, why);
      return Note(c, "queued " + Ms(c.duration) + " of silence");
    case CommandKind::kDtmf:
      if (!channel.QueueDtmf(c.digits, c.tone, c.gap, &why)) return Fail(c, why);
      return Note(c, "queued DTMF " + c.digits);
    case CommandKind::kWaitAudio:
      if (!channel.WaitInputDrained(SteadyClock::now() + c.timeout)) {
        return Fail(c, "queued audio not written within " + Ms(c.timeout));
      }
      return Note(c, "queued audio written");
    case CommandKind::kExpectAudio:
      if (!channel.WaitOutputAudio(c.duration, SteadyClock::now() + c.timeout)) {
        return Fail(c, "less than " + Ms(c.duration) + " of audio from the plugin within " + Ms(c.timeout));
      }
      return Note(c, "at least " + Ms(c.duration) + " of audio from the plugin");
    default:
      return Fail(c, "not a channel command");
  }
}

}  // namespace oxahost
