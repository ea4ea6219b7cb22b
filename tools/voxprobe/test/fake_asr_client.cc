// A stand-in for the ASR client library that records every call voxprobe makes.
#include "fake_asr_client.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "mrcphost/host_asr_client.h"

struct asr_engine_t {
  int unused;
};
struct asr_params_t {
  int generation;
};
struct asr_session_t {
  asr_params_t before{0};
  asr_params_t after{1};
  bool set = false;
};

namespace {

std::mutex g_mutex;
std::vector<std::string> g_calls;  // guarded by g_mutex
asr_engine_t g_engine;

void Record(const std::string &call) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.push_back(call);
}

std::string Str(const char *text) { return text ? text : "(null)"; }

}  // namespace

std::vector<std::string> FakeAsrCalls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<std::string> calls;
  calls.swap(g_calls);
  return calls;
}

extern "C" {

asr_engine_t *asr_engine_create(const char *root, apt_log_priority_e priority, apt_log_output_e output) {
  Record("engine_create " + Str(root) + " " + std::to_string(priority) + " " + std::to_string(output));
  return Str(root) == "fail" ? nullptr : &g_engine;
}

apt_bool_t asr_engine_destroy(asr_engine_t *) {
  Record("engine_destroy");
  return TRUE;
}

apt_bool_t asr_engine_log_priority_set(apt_log_priority_e priority) {
  Record("loglevel " + std::to_string(priority));
  return TRUE;
}

asr_session_t *asr_session_create(asr_engine_t *, const char *profile) {
  Record("session_create " + Str(profile));
  return Str(profile) == "broken" ? nullptr : new asr_session_t();
}

const asr_params_t *asr_session_get_all_params(asr_session_t *session) {
  Record("get_params");
  // What SET-PARAMS set shows in the next GET-PARAMS.
  return session->set ? &session->after : &session->before;
}

apt_bool_t asr_params_equal(const asr_params_t *a, const asr_params_t *b) { return a == b; }

apt_bool_t asr_session_set_param(asr_session_t *session, const char *file, const char *name, const char *value) {
  Record("set_param " + Str(file) + " " + Str(name) + " " + Str(value));
  session->set = true;
  return TRUE;
}

const char *asr_session_file_recognize(asr_session_t *, const char *grammar, const char *audio, const char *params,
                                       apt_bool_t set) {
  Record("recognize " + Str(grammar) + " " + Str(audio) + " " + Str(params) + " " + std::to_string(set));
  return Str(grammar) == "nothing" ? nullptr : "nlsml";
}

apt_bool_t asr_session_destroy(asr_session_t *session) {
  Record("session_destroy");
  delete session;
  return TRUE;
}

}  // extern "C"
