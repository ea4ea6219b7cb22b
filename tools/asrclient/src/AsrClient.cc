// The ASR client calls on the host layer: a client engine owns one host server per server root
// and the plugins loaded into them; a session is one recognizer channel of one of those plugins,
// driven the way an MRCP client drives a server's channel.
#include <apr_general.h>
#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "AsrAudio.h"
#include "AsrClientConfig.h"
#include "AsrInputs.h"
#include "mrcphost/host_asr_client.h"
#include "mrcphost/host_audio.h"
#include "mrcphost/host_mrcp_text.h"
#include "mrcphost/host_server.h"

using mrcphost::Millis;
using mrcphost::SteadyClock;
using mrcphost::WireMessage;

namespace asrclient {
namespace {

const char kConfigFileName[] = "asrclient.xml";
const char kLogFileName[] = "asrclient.log";
const char kLogSourceName[] = "ASRCLIENT";

apt_log_source_t *Log() {
  static apt_log_source_t *source = [] {
    apt_log_source_t *s = nullptr;
    apt_log_source_assign(kLogSourceName, &s);
    return s;
  }();
  return source;
}

#define ASR_LOG(priority, ...) apt_log(Log(), APT_LOG_MARK, priority, __VA_ARGS__)

bool IsDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Canonical(const std::string &path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string Join(const std::string &dir, const std::string &name) {
  if (name.empty() || name[0] == '/') return name;
  return dir + "/" + name;
}

std::string ProgramDir() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string exe(path);
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "." : exe.substr(0, slash);
}

std::string Describe(const WireMessage &response) {
  std::string text = std::to_string(response.status_code);
  if (const char *state = mrcp_request_state_name_get(response.request_state)) text += std::string(" ") + state;
  if (const std::string *cause = response.Header("Completion-Cause")) text += ", Completion-Cause: " + *cause;
  return text;
}

bool IsSuccess(const WireMessage &response) { return response.status_code >= 200 && response.status_code < 300; }

// A host plugin engine shared by every profile that names the same library.
struct PluginSlot {
  std::string server_root;
  mrcphost::Engine *engine = nullptr;
  std::string failure;  // why the plugin cannot be used; empty when it is open
};

}  // namespace
}  // namespace asrclient

using namespace asrclient;

struct asr_params_t {
  int status_code = 0;
  mrcphost::NameValues headers;  // sorted by name, then value
};

struct asr_engine_t {
  std::string root;
  std::string data_dir;
  std::string program_dir;
  ClientConfig config;

  std::mutex mutex;
  std::condition_variable idle;
  std::map<std::string, std::unique_ptr<mrcphost::Server>> servers;  // by server root; guarded by mutex
  std::map<std::string, PluginSlot> plugins;                          // by library path; guarded by mutex
  int sessions = 0;                                                   // guarded by mutex
  bool closing = false;                                               // guarded by mutex
};

struct asr_session_t {
  asr_engine_t *engine = nullptr;
  ClientProfile profile;
  std::shared_ptr<mrcphost::Channel> channel;
  std::list<asr_params_t> params;  // every record handed out stays valid until destroy
  std::string result;
};

namespace asrclient {
namespace {

Millis Limit(long ms) { return Millis(ms); }

std::string ResolvePlugin(const asr_engine_t *engine, const std::string &plugin, std::string *error) {
  std::vector<std::string> candidates;
  if (plugin.find('/') != std::string::npos) {
    candidates.push_back(Join(engine->root, plugin));
  } else {
    candidates.push_back(engine->root + "/plugin/" + plugin + ".so");
    candidates.push_back(engine->root + "/plugin/" + plugin);
    candidates.push_back(engine->program_dir + "/../lib/" + plugin + ".so");
  }
  for (const auto &candidate : candidates) {
    if (IsFile(candidate)) return Canonical(candidate);
  }
  std::string looked;
  for (const auto &candidate : candidates) looked += (looked.empty() ? "" : ", ") + candidate;
  *error = "plugin [" + plugin + "] not found (looked for " + looked + ")";
  return std::string();
}

std::string PluginName(const std::string &path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// Loads and opens the profile's plugin once; with the engine's mutex held.
mrcphost::Engine *AcquirePlugin(asr_engine_t *engine, const ClientProfile &profile, std::string *error) {
  const std::string path = ResolvePlugin(engine, profile.plugin, error);
  if (path.empty()) return nullptr;
  const std::string server_root =
      profile.server_root.empty() ? engine->root : Canonical(Join(engine->root, profile.server_root));
  auto found = engine->plugins.find(path);
  if (found != engine->plugins.end()) {
    PluginSlot &slot = found->second;
    if (!slot.failure.empty()) {
      *error = slot.failure;
      return nullptr;
    }
    if (slot.server_root != server_root) {
      // A plugin makes one engine per process, bound to one server's directories.
      *error = "plugin " + path + " is in use with the server root " + slot.server_root + ", not " + server_root;
      return nullptr;
    }
    return slot.engine;
  }

  PluginSlot &slot = engine->plugins[path];
  slot.server_root = server_root;
  auto &server = engine->servers[server_root];
  if (!server) {
    mrcphost::ServerConfig config;
    config.root_dir = server_root;
    server.reset(new mrcphost::Server(config));
    std::string why;
    if (!server->Start(&why)) {
      slot.failure = "server root " + server_root + ": " + why;
      *error = slot.failure;
      return nullptr;
    }
  }
  const Millis timeout = Limit(engine->config.open_timeout_ms);
  std::string why;
  ASR_LOG(APT_PRIO_INFO, "Load Plugin [%s] Server Root [%s]", path.c_str(), server_root.c_str());
  mrcphost::Engine *loaded = server->LoadPlugin(path, PluginName(path), profile.params, 0, timeout, &why);
  if (!loaded) {
    slot.failure = why;
  } else {
    mrcphost::HostResult opened = loaded->Open(timeout, &why);
    if (opened != mrcphost::HostResult::kOk) {
      slot.failure = "plugin " + path + " did not open (" + mrcphost::HostResultName(opened) + "): " + why;
    } else {
      slot.engine = loaded;
    }
  }
  if (!slot.failure.empty()) *error = slot.failure;
  return slot.engine;
}

void SessionEnded(asr_engine_t *engine) {
  std::lock_guard<std::mutex> lock(engine->mutex);
  --engine->sessions;
  engine->idle.notify_all();
}

std::string DataPath(const asr_session_t *session, const std::string &name) {
  return Join(session->engine->data_dir, name);
}

// Sends a request and waits for its response within the response time limit.
bool Exchange(asr_session_t *session, mrcp_message_t *request, WireMessage *response, mrcp_request_id *request_id) {
  WireMessage sent;
  std::string error;
  const char *method = mrcp_method_name_get(MRCP_RECOGNIZER_RESOURCE, request->start_line.method_id);
  if (!session->channel->SendRequest(request, &sent, &error)) {
    ASR_LOG(APT_PRIO_ERROR, "Failed to Send %s: %s <%s>", method, error.c_str(), session->channel->Id().c_str());
    return false;
  }
  if (request_id) *request_id = sent.request_id;
  ASR_LOG(APT_PRIO_DEBUG, "Send MRCP Request <%s>\n%s", session->channel->Id().c_str(), sent.text.c_str());
  const long limit = session->engine->config.response_timeout_ms;
  const mrcp_request_id id = sent.request_id;
  bool answered = session->channel->WaitMessage(
      [id](const WireMessage &m) { return m.type == MRCP_MESSAGE_TYPE_RESPONSE && m.request_id == id; },
      SteadyClock::now() + Limit(limit), response);
  if (!answered) {
    ASR_LOG(APT_PRIO_ERROR, "No Response to %s within %ld ms <%s>", method, limit, session->channel->Id().c_str());
    return false;
  }
  ASR_LOG(APT_PRIO_DEBUG, "Receive MRCP Response <%s>\n%s", session->channel->Id().c_str(), response->text.c_str());
  return true;
}

bool SetHeader(mrcp_message_t *request, const std::string &name, const std::string &value, std::string *error) {
  mrcp_text_error_t why;
  if (mrcp_header_value_parse(request, name.c_str(), value.c_str(), &why)) return true;
  *error = name + ": " + why.text;
  return false;
}

bool LoadHeaderFile(const asr_session_t *session, const std::string &file, std::vector<HeaderLine> *headers) {
  const std::string path = DataPath(session, file);
  std::string text;
  std::string error;
  if (!mrcphost::ReadWholeFile(path, &text)) {
    ASR_LOG(APT_PRIO_ERROR, "Cannot Read Parameters File [%s]: %s", file.c_str(), path.c_str());
    return false;
  }
  if (!ParseHeaderLines(text, headers, &error)) {
    ASR_LOG(APT_PRIO_ERROR, "Bad Parameters File [%s] %s", path.c_str(), error.c_str());
    return false;
  }
  return true;
}

bool ApplyHeaders(mrcp_message_t *request, const std::string &file, const std::vector<HeaderLine> &headers) {
  for (const auto &header : headers) {
    std::string error;
    if (!SetHeader(request, header.name, header.value, &error)) {
      ASR_LOG(APT_PRIO_ERROR, "Bad Parameters File [%s] line %zu: %s", file.c_str(), header.line, error.c_str());
      return false;
    }
  }
  return true;
}

// One grammar file of the data directory, ready for DEFINE-GRAMMAR.
struct GrammarDocument {
  std::string file;
  std::string content_type;
  std::string content_id;
  std::string body;
};

bool LoadGrammars(const asr_session_t *session, const std::string &argument, GrammarArgument *grammars,
                  std::vector<GrammarDocument> *documents, std::vector<std::string> *session_uris) {
  std::string error;
  if (!ParseGrammarArgument(argument, grammars, &error)) {
    ASR_LOG(APT_PRIO_ERROR, "Bad Grammar Argument [%s]: %s", argument.c_str(), error.c_str());
    return false;
  }
  for (const auto &entry : grammars->entries) {
    if (!entry.is_file) {
      session_uris->emplace_back();
      continue;
    }
    GrammarDocument document;
    document.file = entry.target;
    const std::string path = DataPath(session, entry.target);
    if (!IsFile(path) || !mrcphost::ReadWholeFile(path, &document.body)) {
      ASR_LOG(APT_PRIO_ERROR, "Grammar File [%s] Not Found: %s", entry.target.c_str(), path.c_str());
      return false;
    }
    if (!GrammarContentType(document.body, &document.content_type, &error)) {
      ASR_LOG(APT_PRIO_ERROR, "Grammar File [%s]: %s", path.c_str(), error.c_str());
      return false;
    }
    document.content_id = GrammarContentId(entry.target);
    // The same name twice in one list still needs two ids.
    for (int n = 2; std::any_of(documents->begin(), documents->end(),
                                [&](const GrammarDocument &d) { return d.content_id == document.content_id; });
         ++n) {
      document.content_id = GrammarContentId(entry.target);
      document.content_id.insert(document.content_id.find('@'), "-" + std::to_string(n));
    }
    session_uris->push_back("session:" + document.content_id);
    documents->push_back(document);
  }
  return true;
}

bool DefineGrammar(asr_session_t *session, const GrammarDocument &document) {
  mrcp_message_t *request = session->channel->CreateRequest(RECOGNIZER_DEFINE_GRAMMAR);
  std::string error;
  if (!request || !SetHeader(request, "Content-Type", document.content_type, &error) ||
      !SetHeader(request, "Content-Id", document.content_id, &error)) {
    ASR_LOG(APT_PRIO_ERROR, "Cannot Compose DEFINE-GRAMMAR [%s]: %s", document.file.c_str(), error.c_str());
    return false;
  }
  mrcp_message_body_set(request, document.body.data(), document.body.size());
  WireMessage response;
  if (!Exchange(session, request, &response, nullptr)) return false;
  if (!IsSuccess(response)) {
    ASR_LOG(APT_PRIO_ERROR, "DEFINE-GRAMMAR [%s] as %s Failed: %s <%s>", document.file.c_str(),
            document.content_type.c_str(), Describe(response).c_str(), session->channel->Id().c_str());
    return false;
  }
  return true;
}

// After a recognition that gave no result in time: the plugin is asked to stop, within limits.
void StopRecognition(asr_session_t *session) {
  mrcp_message_t *request = session->channel->CreateRequest(RECOGNIZER_STOP);
  WireMessage response;
  if (request && Exchange(session, request, &response, nullptr)) {
    ASR_LOG(APT_PRIO_INFO, "STOP Answered %s <%s>", Describe(response).c_str(), session->channel->Id().c_str());
  }
}

const char *Recognize(asr_session_t *session, const char *grammar, const char *input_file, const char *params_file,
                      bool set_params) {
  mrcphost::Channel &channel = *session->channel;
  const std::string id = channel.Id();
  GrammarArgument grammars;
  std::vector<GrammarDocument> documents;
  std::vector<std::string> session_uris;
  if (!LoadGrammars(session, grammar ? grammar : "", &grammars, &documents, &session_uris)) return nullptr;

  std::vector<HeaderLine> headers;
  if (params_file && !set_params && !LoadHeaderFile(session, params_file, &headers)) return nullptr;

  const mpf_codec_descriptor_t *codec = channel.Codec();
  if (!codec) {
    ASR_LOG(APT_PRIO_ERROR, "Channel Takes No Audio <%s>", id.c_str());
    return nullptr;
  }
  const std::string audio_name = input_file ? input_file : "";
  const std::string audio_path = DataPath(session, audio_name);
  if (audio_name.empty() || !IsFile(audio_path)) {
    ASR_LOG(APT_PRIO_ERROR, "Audio File [%s] Not Found: %s", audio_name.c_str(), audio_path.c_str());
    return nullptr;
  }
  std::vector<uint8_t> audio;
  std::string note;
  std::string error;
  const std::string codec_name(codec->name.buf, codec->name.length);
  if (!LoadSessionAudio(audio_path, codec_name, codec->sampling_rate, &audio, &note, &error)) {
    ASR_LOG(APT_PRIO_ERROR, "Audio File [%s]: %s", audio_name.c_str(), error.c_str());
    return nullptr;
  }
  const size_t bytes_per_second = mrcphost::FrameBytes(codec_name, codec->sampling_rate, 1000);
  const long audio_ms = bytes_per_second ? static_cast<long>(audio.size() * 1000 / bytes_per_second) : 0;
  ASR_LOG(APT_PRIO_INFO, "Audio File [%s] %ld ms %s/%u%s%s <%s>", audio_name.c_str(), audio_ms, codec_name.c_str(),
          codec->sampling_rate, note.empty() ? "" : ", ", note.c_str(), id.c_str());

  for (const auto &document : documents) {
    if (!DefineGrammar(session, document)) return nullptr;
  }

  mrcp_message_t *request = channel.CreateRequest(RECOGNIZER_RECOGNIZE);
  const std::string body = GrammarListBody(grammars, session_uris);
  if (!request || !SetHeader(request, "Content-Type", grammars.weighted ? "text/grammar-ref-list" : "text/uri-list",
                             &error)) {
    ASR_LOG(APT_PRIO_ERROR, "Cannot Compose RECOGNIZE: %s <%s>", error.c_str(), id.c_str());
    return nullptr;
  }
  if (!ApplyHeaders(request, params_file ? params_file : "", headers)) return nullptr;
  mrcp_message_body_set(request, body.data(), body.size());
  WireMessage response;
  mrcp_request_id recognize_id = 0;
  if (!Exchange(session, request, &response, &recognize_id)) return nullptr;
  if (!IsSuccess(response)) {
    ASR_LOG(APT_PRIO_ERROR, "RECOGNIZE Failed: %s <%s>", Describe(response).c_str(), id.c_str());
    return nullptr;
  }
  if (response.request_state != MRCP_REQUEST_STATE_INPROGRESS) {
    ASR_LOG(APT_PRIO_ERROR, "RECOGNIZE Answered %s: No Recognition Started <%s>", Describe(response).c_str(), id.c_str());
    return nullptr;
  }

  if (!channel.QueueAudio(std::move(audio), false, &error)) {
    ASR_LOG(APT_PRIO_ERROR, "Cannot Stream Audio: %s <%s>", error.c_str(), id.c_str());
    StopRecognition(session);
    return nullptr;
  }
  const long limit = session->engine->config.completion_timeout_ms;
  WireMessage complete;
  bool completed = channel.WaitMessage(
      [recognize_id](const WireMessage &m) {
        return m.type == MRCP_MESSAGE_TYPE_EVENT && m.request_id == recognize_id && m.name == "RECOGNITION-COMPLETE";
      },
      SteadyClock::now() + Limit(audio_ms + limit), &complete);
  if (!completed) {
    ASR_LOG(APT_PRIO_ERROR, "No RECOGNITION-COMPLETE within %ld ms after the end of the audio <%s>", limit, id.c_str());
    StopRecognition(session);
    return nullptr;
  }
  ASR_LOG(APT_PRIO_DEBUG, "Receive MRCP Event <%s>\n%s", id.c_str(), complete.text.c_str());
  const std::string *cause = complete.Header("Completion-Cause");
  ASR_LOG(APT_PRIO_INFO, "Recognition Complete [%s] <%s>", cause ? cause->c_str() : "", id.c_str());
  session->result = !complete.body.empty() ? complete.body : (cause ? *cause : std::string());
  return session->result.c_str();
}

void ConfigureLogging(apt_log_priority_e priority) {
  apt_log_priority_set(priority);
  apt_log_source_priority_set(kLogSourceName, priority);
  apt_log_source_priority_set("MRCPHOST", priority);
}

}  // namespace
}  // namespace asrclient

extern "C" {

asr_engine_t *asr_engine_create(const char *root_dir_path, apt_log_priority_e log_priority,
                                apt_log_output_e log_output) {
  if (apr_initialize() != APR_SUCCESS) return nullptr;
  auto engine = std::make_unique<asr_engine_t>();
  engine->program_dir = ProgramDir();
  if (root_dir_path && *root_dir_path) {
    engine->root = root_dir_path;
  } else {
    const std::string demo = engine->program_dir + "/../demo";
    engine->root = IsDirectory(demo) ? demo : engine->program_dir + "/..";
  }
  engine->root = Canonical(engine->root);
  engine->data_dir = engine->root + "/data";

  const int output = std::min(std::max(static_cast<int>(log_output), 0), 3);
  apt_log_instance_create(static_cast<apt_log_output_e>(output), log_priority, nullptr);
  ConfigureLogging(log_priority);
  if (output & APT_LOG_OUTPUT_FILE) {
    const std::string log_dir = engine->root + "/log";
    mkdir(log_dir.c_str(), 0755);
    if (!apt_log_file_open((log_dir + "/" + kLogFileName).c_str(), nullptr)) {
      ASR_LOG(APT_PRIO_WARNING, "Cannot Open Log File %s/%s", log_dir.c_str(), kLogFileName);
    }
  }
  if (!IsDirectory(engine->root)) {
    ASR_LOG(APT_PRIO_ERROR, "Root Directory Not Found: %s", engine->root.c_str());
    apt_log_instance_destroy();
    apr_terminate();
    return nullptr;
  }

  engine->config = DefaultClientConfig();
  const std::string config_path = engine->root + "/conf/" + kConfigFileName;
  std::string document;
  if (mrcphost::ReadWholeFile(config_path, &document)) {
    std::vector<std::string> warnings;
    std::string error;
    bool loaded = ParseClientConfig(document, &engine->config, &warnings, &error);
    for (const auto &warning : warnings) ASR_LOG(APT_PRIO_WARNING, "%s: %s", config_path.c_str(), warning.c_str());
    if (!loaded) {
      ASR_LOG(APT_PRIO_ERROR, "Bad Client Configuration %s: %s", config_path.c_str(), error.c_str());
      apt_log_instance_destroy();
      apr_terminate();
      return nullptr;
    }
  } else {
    ASR_LOG(APT_PRIO_INFO, "No Client Configuration %s: Built-in Profiles", config_path.c_str());
  }
  std::string names;
  for (const auto &profile : engine->config.profiles) names += (names.empty() ? "" : ", ") + profile.first;
  ASR_LOG(APT_PRIO_NOTICE, "ASR Client Engine Root [%s] Profiles [%s]", engine->root.c_str(), names.c_str());
  return engine.release();
}

apt_bool_t asr_engine_destroy(asr_engine_t *engine) {
  if (!engine) return FALSE;
  std::map<std::string, std::unique_ptr<mrcphost::Server>> servers;
  {
    std::unique_lock<std::mutex> lock(engine->mutex);
    engine->closing = true;
    if (engine->sessions > 0) {
      ASR_LOG(APT_PRIO_INFO, "Wait for %d Session(s) to End", engine->sessions);
    }
    // Sessions end on their own: every wait of theirs has a limit.
    engine->idle.wait(lock, [engine] { return engine->sessions == 0; });
    servers.swap(engine->servers);
  }
  apt_bool_t clean = TRUE;
  for (auto &entry : servers) {
    if (!entry.second->Shutdown(Limit(engine->config.close_timeout_ms))) {
      ASR_LOG(APT_PRIO_WARNING, "Plugins of [%s] Did Not Close in Time", entry.first.c_str());
      // A plugin thread may still use what the server owns: leave it to the process exit.
      entry.second.release();
      clean = FALSE;
    }
  }
  servers.clear();
  ASR_LOG(APT_PRIO_NOTICE, "ASR Client Engine Destroyed");
  delete engine;
  apt_log_instance_destroy();
  apr_terminate();
  return clean;
}

apt_bool_t asr_engine_log_priority_set(apt_log_priority_e log_priority) {
  ConfigureLogging(log_priority);
  return TRUE;
}

asr_session_t *asr_session_create(asr_engine_t *engine, const char *profile_name) {
  if (!engine) return nullptr;
  const std::string name = profile_name ? profile_name : "";
  mrcphost::Engine *plugin = nullptr;
  ClientProfile profile;
  {
    std::lock_guard<std::mutex> lock(engine->mutex);
    if (engine->closing) {
      ASR_LOG(APT_PRIO_ERROR, "No New Session: the Client Engine Is Closing");
      return nullptr;
    }
    auto found = engine->config.profiles.find(name);
    if (found == engine->config.profiles.end()) {
      std::string names;
      for (const auto &known : engine->config.profiles) names += (names.empty() ? "" : ", ") + known.first;
      ASR_LOG(APT_PRIO_ERROR, "Unknown Client Profile [%s] (known: %s)", name.c_str(), names.c_str());
      return nullptr;
    }
    profile = found->second;
    std::string error;
    plugin = AcquirePlugin(engine, profile, &error);
    if (!plugin) {
      ASR_LOG(APT_PRIO_ERROR, "Profile [%s]: %s", name.c_str(), error.c_str());
      return nullptr;
    }
    ++engine->sessions;
  }

  auto session = std::make_unique<asr_session_t>();
  session->engine = engine;
  session->profile = profile;
  mrcphost::ChannelConfig config;
  config.version = profile.mrcp_version == 1 ? MRCP_VERSION_1 : MRCP_VERSION_2;
  config.codec = profile.codec;
  config.rate = profile.sampling_rate;
  std::string error;
  session->channel = plugin->CreateChannel(config, Limit(engine->config.open_timeout_ms), &error);
  if (session->channel) {
    mrcphost::HostResult opened = session->channel->Open(Limit(engine->config.open_timeout_ms), &error);
    if (opened != mrcphost::HostResult::kOk) {
      error = std::string("channel open ") + mrcphost::HostResultName(opened) + ": " + error;
      std::string ignored;
      session->channel->Close(Limit(engine->config.close_timeout_ms), &ignored);
      session->channel.reset();
    }
  }
  if (!session->channel) {
    ASR_LOG(APT_PRIO_ERROR, "Profile [%s]: no recognizer channel: %s", name.c_str(), error.c_str());
    SessionEnded(engine);
    return nullptr;
  }
  ASR_LOG(APT_PRIO_INFO, "Session Opened Profile [%s] MRCPv%d <%s>", name.c_str(), profile.mrcp_version,
          session->channel->Id().c_str());
  return session.release();
}

const asr_params_t *asr_session_get_all_params(asr_session_t *session) {
  if (!session) return nullptr;
  mrcp_message_t *request = session->channel->CreateRequest(RECOGNIZER_GET_PARAMS);
  WireMessage response;
  if (!request || !Exchange(session, request, &response, nullptr)) return nullptr;
  asr_params_t params;
  params.status_code = response.status_code;
  for (const auto &header : response.headers) {
    if (strcasecmp(header.first.c_str(), "Channel-Identifier") == 0 ||
        strcasecmp(header.first.c_str(), "Content-Length") == 0) {
      continue;
    }
    std::string lower = header.first;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    params.headers.emplace_back(lower, header.second);
  }
  std::sort(params.headers.begin(), params.headers.end());
  ASR_LOG(APT_PRIO_INFO, "GET-PARAMS Answered %d with %zu Header(s) <%s>", params.status_code, params.headers.size(),
          session->channel->Id().c_str());
  session->params.push_back(params);
  return &session->params.back();
}

apt_bool_t asr_params_equal(const asr_params_t *a, const asr_params_t *b) {
  if (!a || !b) return a == b;
  return a->status_code == b->status_code && a->headers == b->headers;
}

apt_bool_t asr_session_set_param(asr_session_t *session, const char *params_file, const char *name,
                                 const char *value) {
  if (!session) return FALSE;
  std::vector<HeaderLine> headers;
  std::string source = "SET-PARAMS";
  if (params_file) {
    if (!LoadHeaderFile(session, params_file, &headers)) return FALSE;
    source = params_file;
  } else if (name) {
    headers.push_back({name, value ? value : "", 1});
  }
  mrcp_message_t *request = session->channel->CreateRequest(RECOGNIZER_SET_PARAMS);
  if (!request || !ApplyHeaders(request, source, headers)) return FALSE;
  WireMessage response;
  if (!Exchange(session, request, &response, nullptr)) return FALSE;
  if (!IsSuccess(response)) {
    ASR_LOG(APT_PRIO_ERROR, "SET-PARAMS Failed: %s <%s>", Describe(response).c_str(), session->channel->Id().c_str());
    return FALSE;
  }
  return TRUE;
}

const char *asr_session_file_recognize(asr_session_t *session, const char *grammar, const char *input_file,
                                       const char *params_file, apt_bool_t set_params) {
  if (!session) return nullptr;
  return Recognize(session, grammar, input_file, params_file, set_params != FALSE);
}

apt_bool_t asr_session_destroy(asr_session_t *session) {
  if (!session) return FALSE;
  asr_engine_t *engine = session->engine;
  std::string error;
  mrcphost::HostResult closed = session->channel->Close(Limit(engine->config.close_timeout_ms), &error);
  if (closed != mrcphost::HostResult::kOk) {
    ASR_LOG(APT_PRIO_WARNING, "Channel Close %s: %s <%s>", mrcphost::HostResultName(closed), error.c_str(),
            session->channel->Id().c_str());
  }
  ASR_LOG(APT_PRIO_INFO, "Session Closed <%s>", session->channel->Id().c_str());
  delete session;
  SessionEnded(engine);
  return closed == mrcphost::HostResult::kOk;
}

}  // extern "C"
