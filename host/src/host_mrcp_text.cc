// MRCP wire text. Start lines (RFC 6787 section 5, RFC 4463 section 5):
//   MRCPv2 request   MRCP/2.0 <length> <method> <request-id>
//   MRCPv2 response  MRCP/2.0 <length> <request-id> <status-code> <request-state>
//   MRCPv2 event     MRCP/2.0 <length> <event> <request-id> <request-state>
//   MRCPv1 request   <method> <request-id> MRCP/1.0
//   MRCPv1 response  MRCP/1.0 <request-id> <status-code> <request-state>
//   MRCPv1 event     <event> <request-id> <request-state> MRCP/1.0
// The MRCPv2 length counts the whole message, start line included; MRCPv1 has no length and
// relies on Content-Length alone.
#include <apr_strings.h>
#include <strings.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host_internal.h"
#include "mrcphost/host_mrcp_text.h"

namespace {

constexpr size_t kNotFound = ~size_t{0};
constexpr char kChannelIdentifier[] = "Channel-Identifier";

enum class Kind { String, Size, Float, Bool, Char, RecogCause, SynthCause, Pairs, Gender, Volume, Rate };

struct FieldDesc {
  Kind kind;
  size_t offset;  // within mrcp_message_t
};

#define GEN(kind, field) {Kind::kind, offsetof(mrcp_message_t, generic_header.field)}
#define REC(kind, field) {Kind::kind, offsetof(mrcp_message_t, recog_header.field)}
#define SYN(kind, field) {Kind::kind, offsetof(mrcp_message_t, synth_header.field)}

const FieldDesc kGenericFields[GENERIC_HEADER_COUNT] = {
    GEN(String, active_request_id_list), GEN(String, proxy_sync_id), GEN(String, accept_charset),
    GEN(String, content_type), GEN(String, content_id), GEN(String, content_base), GEN(String, content_encoding),
    GEN(String, content_location), GEN(Size, content_length), GEN(String, cache_control), GEN(String, logging_tag),
    GEN(Pairs, vendor_specific_params), GEN(String, accept), GEN(Size, fetch_timeout), GEN(String, set_cookie),
    GEN(String, set_cookie2)};

const FieldDesc kRecogFields[RECOGNIZER_HEADER_COUNT] = {
    REC(Float, confidence_threshold), REC(Float, sensitivity_level), REC(Float, speed_vs_accuracy),
    REC(Size, n_best_list_length), REC(Size, no_input_timeout), REC(Size, recognition_timeout),
    REC(String, waveform_uri), REC(RecogCause, completion_cause), REC(String, recognizer_context_block),
    REC(Bool, start_input_timers), REC(Size, speech_complete_timeout), REC(Size, speech_incomplete_timeout),
    REC(Size, dtmf_interdigit_timeout), REC(Size, dtmf_term_timeout), REC(Char, dtmf_term_char),
    REC(String, failed_uri), REC(String, failed_uri_cause), REC(Bool, save_waveform), REC(Bool, new_audio_channel),
    REC(String, speech_language), REC(String, input_type), REC(String, input_waveform_uri),
    REC(String, completion_reason), REC(String, media_type), REC(Bool, ver_buffer_utterance),
    REC(String, recognition_mode), REC(Bool, cancel_if_queue), REC(Size, hotword_max_duration),
    REC(Size, hotword_min_duration), REC(String, interpret_text), REC(Size, dtmf_buffer_time),
    REC(Bool, clear_dtmf_buffer), REC(Bool, early_no_match)};

const FieldDesc kSynthFields[SYNTHESIZER_HEADER_COUNT] = {
    SYN(String, jump_size), SYN(Bool, kill_on_barge_in), SYN(String, speaker_profile),
    SYN(SynthCause, completion_cause), SYN(String, completion_reason), SYN(Gender, voice_param.gender),
    SYN(Size, voice_param.age), SYN(Size, voice_param.variant), SYN(String, voice_param.name),
    SYN(Volume, prosody_param.volume), SYN(Rate, prosody_param.rate), SYN(String, speech_marker),
    SYN(String, speech_language), SYN(String, fetch_hint), SYN(String, audio_fetch_hint), SYN(String, failed_uri),
    SYN(String, failed_uri_cause), SYN(Bool, speak_restart), SYN(String, speak_length), SYN(Bool, load_lexicon),
    SYN(String, lexicon_search_order)};

#undef GEN
#undef REC
#undef SYN

const char *const kGenders[] = {"male", "female", "neutral"};
const char *const kRateLabels[] = {"x-slow", "slow", "medium", "fast", "x-fast", "default"};
const char *const kVolumeLabels[] = {"silent", "x-soft", "soft", "medium", "loud", "x-loud", "default"};

template <size_t N>
size_t FindLabel(const char *const (&labels)[N], const std::string &text) {
  for (size_t i = 0; i < N; ++i) {
    if (strcasecmp(labels[i], text.c_str()) == 0) return i;
  }
  return kNotFound;
}

const FieldDesc *FindField(mrcp_resource_id resource, size_t index) {
  if (index < GENERIC_HEADER_COUNT) return &kGenericFields[index];
  size_t id = index - GENERIC_HEADER_COUNT;
  if (resource == MRCP_RECOGNIZER_RESOURCE && id < RECOGNIZER_HEADER_COUNT) return &kRecogFields[id];
  if (resource == MRCP_SYNTHESIZER_RESOURCE && id < SYNTHESIZER_HEADER_COUNT) return &kSynthFields[id];
  return nullptr;
}

template <typename T>
T *At(mrcp_message_t *message, size_t offset) {
  return reinterpret_cast<T *>(reinterpret_cast<char *>(message) + offset);
}
template <typename T>
const T *At(const mrcp_message_t *message, size_t offset) {
  return reinterpret_cast<const T *>(reinterpret_cast<const char *>(message) + offset);
}

// Shows a piece of input inside an error text: printable, bounded.
std::string Quote(const char *begin, const char *end) {
  std::string out;
  for (const char *p = begin; p < end && out.size() < 60; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      snprintf(hex, sizeof(hex), "\\x%02x", c);
      out += hex;
    }
  }
  if (end - begin > 60) out += "...";
  return "[" + out + "]";
}

class ErrorSink {
 public:
  explicit ErrorSink(mrcp_text_error_t *error) : m_Error(error) {}
  bool Fail(size_t line, const std::string &text) {
    if (m_Error) {
      m_Error->line = line;
      if (line > 0) {
        snprintf(m_Error->text, sizeof(m_Error->text), "line %zu: %s", line, text.c_str());
      } else {
        snprintf(m_Error->text, sizeof(m_Error->text), "%s", text.c_str());
      }
    }
    return false;
  }

 private:
  mrcp_text_error_t *m_Error;
};

bool ParseDecimal(const std::string &text, size_t max_digits, apr_uint64_t *out) {
  if (text.empty() || text.size() > max_digits) return false;
  apr_uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<apr_uint64_t>(c - '0');
  }
  *out = value;
  return true;
}

bool ParseFloat(const std::string &text, double *out) {
  if (text.empty()) return false;
  char first = text[0];
  if (!(first == '+' || first == '-' || first == '.' || (first >= '0' && first <= '9'))) return false;
  errno = 0;
  char *end = nullptr;
  double value = strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

// A number that a float holds, so that writing it gives a number again (never "inf").
bool FitsFloat(double value) { return std::fabs(value) <= static_cast<double>(FLT_MAX); }

// Prosody numbers may carry a unit: "+10%", "-6dB".
std::string StripUnit(const std::string &text) {
  if (text.size() > 1 && text.back() == '%') return text.substr(0, text.size() - 1);
  if (text.size() > 2 && strcasecmp(text.c_str() + text.size() - 2, "dB") == 0) return text.substr(0, text.size() - 2);
  return text;
}

std::string FormatFloat(double value) {
  char buf[64];
  snprintf(buf, sizeof(buf), "%g", value);
  return buf;
}

bool ParseCause(const std::string &text, apr_uint64_t *code) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 3) return false;
  if (digits < text.size() && text[digits] != ' ' && text[digits] != '\t') return false;
  return ParseDecimal(text.substr(0, digits), 3, code);
}

// Stores a typed value; an empty value marks the header present with its default (GET-PARAMS asks so).
bool SetField(mrcp_message_t *message, const FieldDesc &field, const std::string &value, std::string *why) {
  apr_pool_t *pool = message->pool;
  const bool v1 = message->start_line.version == MRCP_VERSION_1;
  switch (field.kind) {
    case Kind::String:
      apt_string_assign_n(At<apt_str_t>(message, field.offset), value.data(), value.size(), pool);
      return true;
    case Kind::Pairs: {
      apt_pair_arr_t **arr = At<apt_pair_arr_t *>(message, field.offset);
      if (!*arr) *arr = apt_pair_array_create(4, pool);
      apt_str_t text = {const_cast<char *>(value.data()), value.size()};
      return apt_pair_array_parse(*arr, &text, pool) ? true : (*why = "a quote left open", false);
    }
    default:
      break;
  }
  if (value.empty()) return true;
  switch (field.kind) {
    case Kind::Size: {
      apr_uint64_t number = 0;
      if (!ParseDecimal(value, 19, &number)) return *why = "expected a decimal number", false;
      *At<apr_size_t>(message, field.offset) = static_cast<apr_size_t>(number);
      return true;
    }
    case Kind::Float: {
      double number = 0;
      if (!ParseFloat(value, &number)) return *why = "expected a number", false;
      // MRCPv1 writes these as 0-100, MRCPv2 as 0.0-1.0.
      if (v1) number /= 100.0;
      if (number < 0.0 || number > 1.0) return *why = "number out of range", false;
      *At<float>(message, field.offset) = static_cast<float>(number);
      return true;
    }
    case Kind::Bool:
      if (strcasecmp(value.c_str(), "true") == 0) {
        *At<apt_bool_t>(message, field.offset) = TRUE;
      } else if (strcasecmp(value.c_str(), "false") == 0) {
        *At<apt_bool_t>(message, field.offset) = FALSE;
      } else {
        return *why = "expected true or false", false;
      }
      return true;
    case Kind::Char:
      if (value.size() != 1) return *why = "expected one character", false;
      *At<char>(message, field.offset) = value[0];
      return true;
    case Kind::RecogCause:
    case Kind::SynthCause: {
      apr_uint64_t code = 0;
      if (!ParseCause(value, &code)) return *why = "expected a cause code like 000", false;
      if (field.kind == Kind::RecogCause) {
        *At<mrcp_recog_completion_cause_e>(message, field.offset) =
            code < RECOGNIZER_COMPLETION_CAUSE_COUNT ? static_cast<mrcp_recog_completion_cause_e>(code)
                                                     : RECOGNIZER_COMPLETION_CAUSE_UNKNOWN;
      } else {
        *At<mrcp_synth_completion_cause_e>(message, field.offset) =
            code < SYNTHESIZER_COMPLETION_CAUSE_COUNT ? static_cast<mrcp_synth_completion_cause_e>(code)
                                                      : SYNTHESIZER_COMPLETION_CAUSE_UNKNOWN;
      }
      return true;
    }
    case Kind::Gender: {
      size_t gender = FindLabel(kGenders, value);
      if (gender == kNotFound) return *why = "expected male, female or neutral", false;
      *At<mrcp_voice_gender_e>(message, field.offset) = static_cast<mrcp_voice_gender_e>(gender);
      return true;
    }
    case Kind::Volume: {
      mrcp_prosody_volume_t *volume = At<mrcp_prosody_volume_t>(message, field.offset);
      size_t label = FindLabel(kVolumeLabels, value);
      double number = 0;
      if (label != kNotFound) {
        volume->type = PROSODY_VOLUME_TYPE_LABEL;
        volume->value.label = static_cast<mrcp_prosody_volume_label_e>(label);
      } else if (!ParseFloat(StripUnit(value), &number) || !FitsFloat(number)) {
        return *why = "expected a volume word or number", false;
      } else if (value[0] == '+' || value[0] == '-') {
        volume->type = PROSODY_VOLUME_TYPE_RELATIVE_CHANGE;
        volume->value.relative = static_cast<float>(number);
      } else {
        volume->type = PROSODY_VOLUME_TYPE_NUMERIC;
        volume->value.numeric = static_cast<float>(number);
      }
      return true;
    }
    case Kind::Rate: {
      mrcp_prosody_rate_t *rate = At<mrcp_prosody_rate_t>(message, field.offset);
      size_t label = FindLabel(kRateLabels, value);
      double number = 0;
      if (label != kNotFound) {
        rate->type = PROSODY_RATE_TYPE_LABEL;
        rate->value.label = static_cast<mrcp_prosody_rate_label_e>(label);
      } else if (!ParseFloat(StripUnit(value), &number)) {
        return *why = "expected a rate word or number", false;
      } else {
        // A signed value is a change in percent, a bare one a multiplier: "+20%" and "1.2" agree.
        double multiplier = (value[0] == '+' || value[0] == '-') ? 1.0 + number / 100.0 : number;
        if (multiplier < 0) return *why = "rate below zero", false;
        if (!FitsFloat(multiplier)) return *why = "rate out of range", false;
        rate->type = PROSODY_RATE_TYPE_RELATIVE_CHANGE;
        rate->value.relative = static_cast<float>(multiplier);
      }
      return true;
    }
    default:
      return true;
  }
}

bool FieldText(const mrcp_message_t *message, const FieldDesc &field, mrcp_version_e version, std::string *out) {
  out->clear();
  switch (field.kind) {
    case Kind::String: {
      const apt_str_t *str = At<apt_str_t>(message, field.offset);
      if (str->buf) out->assign(str->buf, str->length);
      return true;
    }
    case Kind::Size:
      *out = std::to_string(*At<apr_size_t>(message, field.offset));
      return true;
    case Kind::Float: {
      double value = *At<float>(message, field.offset);
      *out = version == MRCP_VERSION_1 ? std::to_string(static_cast<long>(std::lround(value * 100.0)))
                                       : FormatFloat(value);
      return true;
    }
    case Kind::Bool:
      *out = *At<apt_bool_t>(message, field.offset) ? "true" : "false";
      return true;
    case Kind::Char: {
      char c = *At<char>(message, field.offset);
      if (c) *out = std::string(1, c);
      return true;
    }
    case Kind::RecogCause:
    case Kind::SynthCause: {
      int code = field.kind == Kind::RecogCause
                     ? static_cast<int>(*At<mrcp_recog_completion_cause_e>(message, field.offset))
                     : static_cast<int>(*At<mrcp_synth_completion_cause_e>(message, field.offset));
      const apt_str_t *name = nullptr;
      if (field.kind == Kind::RecogCause) {
        auto cause = static_cast<mrcp_recog_completion_cause_e>(code);
        name = mrcp_recog_completion_cause_get(cause, version);
        if (!name) name = mrcp_recog_completion_cause_get(cause, MRCP_VERSION_2);
      } else {
        auto cause = static_cast<mrcp_synth_completion_cause_e>(code);
        name = mrcp_synth_completion_cause_get(cause, version);
        if (!name) name = mrcp_synth_completion_cause_get(cause, MRCP_VERSION_2);
      }
      char code_text[8];
      snprintf(code_text, sizeof(code_text), "%03d", code);
      *out = code_text;
      if (name) {
        *out += ' ';
        out->append(name->buf, name->length);
      }
      return true;
    }
    case Kind::Pairs: {
      const apt_pair_arr_t *arr = *At<apt_pair_arr_t *const>(message, field.offset);
      for (int i = 0; arr && i < arr->nelts; ++i) {
        const apt_pair_t *pair = &APR_ARRAY_IDX(arr, i, apt_pair_t);
        if (i > 0) *out += ';';
        if (pair->name.buf) out->append(pair->name.buf, pair->name.length);
        if (pair->value.length > 0) {
          *out += '=';
          out->append(pair->value.buf, pair->value.length);
        }
      }
      return true;
    }
    case Kind::Gender: {
      auto gender = *At<mrcp_voice_gender_e>(message, field.offset);
      if (gender < VOICE_GENDER_UNDEFINED) *out = kGenders[gender];
      return true;
    }
    case Kind::Volume: {
      const mrcp_prosody_volume_t *volume = At<mrcp_prosody_volume_t>(message, field.offset);
      if (volume->type == PROSODY_VOLUME_TYPE_LABEL && volume->value.label < PROSODY_VOLUME_UNKNOWN) {
        *out = kVolumeLabels[volume->value.label];
      } else if (volume->type == PROSODY_VOLUME_TYPE_NUMERIC) {
        *out = FormatFloat(volume->value.numeric);
      } else if (volume->type == PROSODY_VOLUME_TYPE_RELATIVE_CHANGE) {
        char buf[64];
        snprintf(buf, sizeof(buf), "%+g", static_cast<double>(volume->value.relative));
        *out = buf;
      }
      return true;
    }
    case Kind::Rate: {
      const mrcp_prosody_rate_t *rate = At<mrcp_prosody_rate_t>(message, field.offset);
      if (rate->type == PROSODY_RATE_TYPE_LABEL && rate->value.label < PROSODY_RATE_UNKNOWN) {
        *out = kRateLabels[rate->value.label];
      } else if (rate->type == PROSODY_RATE_TYPE_RELATIVE_CHANGE) {
        *out = FormatFloat(rate->value.relative);
      }
      return true;
    }
  }
  return false;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

struct Line {
  const char *begin;
  const char *end;
  size_t number;
};

// Splits the input into lines ended by CRLF, LF or CR; remembers whether the last one was ended.
class LineReader {
 public:
  LineReader(const char *begin, const char *end) : m_Pos(begin), m_End(end) {}
  bool Next(Line *line, bool *terminated) {
    if (m_Pos >= m_End) return false;
    const char *p = m_Pos;
    while (p < m_End && *p != '\r' && *p != '\n') ++p;
    line->begin = m_Pos;
    line->end = p;
    line->number = ++m_Number;
    *terminated = p < m_End;
    if (p < m_End) {
      if (*p == '\r' && p + 1 < m_End && p[1] == '\n') ++p;
      ++p;
    }
    m_Pos = p;
    return true;
  }
  const char *Pos() const { return m_Pos; }

 private:
  const char *m_Pos;
  const char *m_End;
  size_t m_Number = 0;
};

const char *FindControl(const char *begin, const char *end) {
  for (const char *p = begin; p < end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c < 0x20 && c != '\t') || c == 0x7f) return p;
  }
  return nullptr;
}

std::vector<std::string> SplitTokens(const char *begin, const char *end) {
  std::vector<std::string> tokens;
  const char *p = begin;
  while (p < end) {
    while (p < end && IsSpace(*p)) ++p;
    const char *start = p;
    while (p < end && !IsSpace(*p)) ++p;
    if (p > start) tokens.emplace_back(start, p);
  }
  return tokens;
}

struct HeaderLine {
  std::string name;
  std::string value;
  size_t line;
};

struct StartLine {
  mrcp_message_type_e type = MRCP_MESSAGE_TYPE_UNKNOWN;
  mrcp_version_e version = MRCP_VERSION_UNKNOWN;
  bool has_length = false;
  apr_uint64_t length = 0;
  std::string name;  // method or event
  apr_uint64_t request_id = 0;
  apr_uint64_t status = 0;
  mrcp_request_state_e state = MRCP_REQUEST_STATE_UNKNOWN;
};

bool ParseVersion(const std::string &token, mrcp_version_e *version) {
  if (token == "MRCP/2.0") {
    *version = MRCP_VERSION_2;
  } else if (token == "MRCP/1.0") {
    *version = MRCP_VERSION_1;
  } else {
    return false;
  }
  return true;
}

bool ParseStartLine(const std::vector<std::string> &t, mrcp_parse_mode_e mode, mrcp_version_e template_version,
                    StartLine *s, std::string *why) {
  auto request_id = [&](const std::string &token) {
    // request-id = 1*10DIGIT (RFC 6787 section 5.1)
    return ParseDecimal(token, 10, &s->request_id) && s->request_id <= 0xFFFFFFFFu;
  };
  auto status = [&](const std::string &token) {
    return token.size() == 3 && ParseDecimal(token, 3, &s->status) && s->status >= 100;
  };
  auto state = [&](const std::string &token) {
    s->state = mrcp_request_state_find(token.c_str());
    return s->state != MRCP_REQUEST_STATE_UNKNOWN && strcmp(token.c_str(), mrcp_request_state_name_get(s->state)) == 0;
  };
  auto is_number = [](const std::string &token) { return !token.empty() && token[0] >= '0' && token[0] <= '9'; };

  if (t.empty()) return *why = "empty start line", false;
  if (mode == MRCP_PARSE_TEMPLATE && t.size() == 1 && t[0].compare(0, 5, "MRCP/") != 0) {
    s->type = MRCP_MESSAGE_TYPE_REQUEST;
    s->version = template_version;
    s->name = t[0];
    return true;
  }
  if (ParseVersion(t[0], &s->version)) {
    if (s->version == MRCP_VERSION_2) {
      if (t.size() < 4 || t.size() > 5) return *why = "expected 4 or 5 fields in an MRCPv2 start line", false;
      if (!ParseDecimal(t[1], 10, &s->length)) {
        if (mode != MRCP_PARSE_TEMPLATE) return *why = "bad message length " + t[1], false;
      }
      s->has_length = true;
      if (t.size() == 4) {
        s->type = MRCP_MESSAGE_TYPE_REQUEST;
        s->name = t[2];
        if (!request_id(t[3])) return *why = "bad request id " + t[3], false;
      } else if (is_number(t[2])) {
        s->type = MRCP_MESSAGE_TYPE_RESPONSE;
        if (!request_id(t[2])) return *why = "bad request id " + t[2], false;
        if (!status(t[3])) return *why = "bad status code " + t[3], false;
        if (!state(t[4])) return *why = "bad request state " + t[4], false;
      } else {
        s->type = MRCP_MESSAGE_TYPE_EVENT;
        s->name = t[2];
        if (!request_id(t[3])) return *why = "bad request id " + t[3], false;
        if (!state(t[4])) return *why = "bad request state " + t[4], false;
      }
      return true;
    }
    if (t.size() != 4) return *why = "expected 4 fields in an MRCPv1 response line", false;
    s->type = MRCP_MESSAGE_TYPE_RESPONSE;
    if (!request_id(t[1])) return *why = "bad request id " + t[1], false;
    if (!status(t[2])) return *why = "bad status code " + t[2], false;
    if (!state(t[3])) return *why = "bad request state " + t[3], false;
    return true;
  }
  if (ParseVersion(t.back(), &s->version) && s->version == MRCP_VERSION_1) {
    if (t.size() == 3) {
      s->type = MRCP_MESSAGE_TYPE_REQUEST;
    } else if (t.size() == 4) {
      s->type = MRCP_MESSAGE_TYPE_EVENT;
      if (!state(t[2])) return *why = "bad request state " + t[2], false;
    } else {
      return *why = "expected 3 or 4 fields in an MRCPv1 start line", false;
    }
    s->name = t[0];
    if (!request_id(t[1])) return *why = "bad request id " + t[1], false;
    return true;
  }
  return *why = "not an MRCP start line", false;
}

bool ApplyHeader(mrcp_message_t *message, const std::string &name, const std::string &value, std::string *why) {
  size_t index = mrcp_header_index_find(message->resource, name.c_str());
  const FieldDesc *field = index == kNotFound ? nullptr : FindField(message->resource, index);
  if (!field) {
    if (!message->unknown_headers) message->unknown_headers = apr_array_make(message->pool, 2, sizeof(apt_header_field_t));
    auto *header = static_cast<apt_header_field_t *>(apr_array_push(message->unknown_headers));
    apt_string_assign_n(&header->name, name.data(), name.size(), message->pool);
    apt_string_assign_n(&header->value, value.data(), value.size(), message->pool);
    return true;
  }
  std::string joined = value;
  // A repeated list header adds to the list (RFC 5322 field combination).
  if (index == GENERIC_HEADER_ACTIVE_REQUEST_ID_LIST && mrcp_header_property_check(message, index) &&
      message->generic_header.active_request_id_list.length > 0 && !value.empty()) {
    joined = std::string(message->generic_header.active_request_id_list.buf,
                         message->generic_header.active_request_id_list.length) +
             ", " + value;
  }
  if (!SetField(message, *field, joined, why)) return false;
  if (index < GENERIC_HEADER_COUNT) {
    mrcp_generic_header_property_add(message, index);
  } else {
    mrcp_resource_header_property_add(message, index - GENERIC_HEADER_COUNT);
  }
  return true;
}

mrcp_message_t *Parse(const char *buffer, apr_size_t size, mrcp_resource_id default_resource, mrcp_parse_mode_e mode,
                      apr_size_t *consumed, ErrorSink &err, apr_pool_t *pool) {
  if (!pool) return nullptr;
  if (!buffer || size == 0) return err.Fail(0, "empty message"), nullptr;
  const char *end = buffer + size;
  LineReader reader(buffer, end);
  Line line = {buffer, buffer, 0};
  bool terminated = false;
  std::string why;

  reader.Next(&line, &terminated);
  if (const char *bad = FindControl(line.begin, line.end)) {
    char text[64];
    snprintf(text, sizeof(text), "control character 0x%02x in start line", static_cast<unsigned char>(*bad));
    return err.Fail(1, text), nullptr;
  }
  StartLine start;
  mrcp_version_e template_version = MRCP_VERSION_2;
  if (!ParseStartLine(SplitTokens(line.begin, line.end), mode, template_version, &start, &why)) {
    return err.Fail(1, why + " " + Quote(line.begin, line.end)), nullptr;
  }
  if (!terminated) {
    if (mode != MRCP_PARSE_TEMPLATE) return err.Fail(1, "message ends after the start line"), nullptr;
  }

  std::vector<HeaderLine> headers;
  bool ended = false;
  while (terminated && reader.Next(&line, &terminated)) {
    if (line.begin == line.end) {
      ended = true;
      break;
    }
    if (const char *bad = FindControl(line.begin, line.end)) {
      char text[64];
      snprintf(text, sizeof(text), "control character 0x%02x in header line", static_cast<unsigned char>(*bad));
      return err.Fail(line.number, text), nullptr;
    }
    const char *b = line.begin;
    const char *e = line.end;
    if (IsSpace(*b)) {
      // A folded line continues the previous header's value.
      if (headers.empty()) return err.Fail(line.number, "continuation line without a header " + Quote(b, e)), nullptr;
      while (b < e && IsSpace(*b)) ++b;
      while (e > b && IsSpace(*(e - 1))) --e;
      if (b < e) {
        std::string &value = headers.back().value;
        if (!value.empty()) value += ' ';
        value.append(b, e);
      }
      continue;
    }
    const char *colon = static_cast<const char *>(memchr(b, ':', static_cast<size_t>(e - b)));
    if (!colon) return err.Fail(line.number, "header without ':' " + Quote(b, e)), nullptr;
    const char *name_end = colon;
    while (name_end > b && IsSpace(*(name_end - 1))) --name_end;
    if (name_end == b) return err.Fail(line.number, "header without a name " + Quote(b, e)), nullptr;
    for (const char *p = b; p < name_end; ++p) {
      if (IsSpace(*p)) return err.Fail(line.number, "space in header name " + Quote(b, e)), nullptr;
    }
    const char *vb = colon + 1;
    const char *ve = e;
    while (vb < ve && IsSpace(*vb)) ++vb;
    while (ve > vb && IsSpace(*(ve - 1))) --ve;
    headers.push_back({std::string(b, name_end), std::string(vb, ve), line.number});
  }
  if (!ended && mode != MRCP_PARSE_TEMPLATE) {
    return err.Fail(0, "message ends inside the header section (no empty line)"), nullptr;
  }
  const size_t header_size = static_cast<size_t>(reader.Pos() - buffer);

  // The resource comes from Channel-Identifier: <session-id>@<resource-name>.
  mrcp_resource_id resource = default_resource;
  std::string session_id;
  const HeaderLine *channel_header = nullptr;
  for (const HeaderLine &h : headers) {
    if (strcasecmp(h.name.c_str(), kChannelIdentifier) == 0) channel_header = &h;
  }
  if (channel_header) {
    size_t at = channel_header->value.rfind('@');
    if (at == std::string::npos || at == 0) {
      return err.Fail(channel_header->line, "Channel-Identifier is not <id>@<resource> " +
                                                Quote(channel_header->value.data(),
                                                      channel_header->value.data() + channel_header->value.size())),
             nullptr;
    }
    session_id = channel_header->value.substr(0, at);
    std::string resource_name = channel_header->value.substr(at + 1);
    resource = mrcp_resource_find(resource_name.c_str());
    if (resource >= MRCP_RESOURCE_TYPE_COUNT) {
      return err.Fail(channel_header->line, "unknown resource " +
                                                Quote(resource_name.data(), resource_name.data() + resource_name.size())),
             nullptr;
    }
  } else if (start.version == MRCP_VERSION_2 && mode != MRCP_PARSE_TEMPLATE) {
    return err.Fail(0, "missing Channel-Identifier"), nullptr;
  }
  if (resource >= MRCP_RESOURCE_TYPE_COUNT) return err.Fail(0, "the message names no resource"), nullptr;

  mrcp_message_t *message = mrcp_message_create(resource, start.version, pool);
  mrcp_start_line_t &sl = message->start_line;
  sl.message_type = start.type;
  sl.request_id = static_cast<mrcp_request_id>(start.request_id);
  sl.status_code = static_cast<mrcp_status_code_e>(start.status);
  sl.request_state = start.state;
  if (start.type == MRCP_MESSAGE_TYPE_REQUEST) {
    sl.method_id = mrcp_method_find(resource, start.name.c_str());
    const char *name = mrcp_method_name_get(resource, sl.method_id);
    if (!name) return err.Fail(1, "unknown " + std::string(mrcp_resource_name_get(resource)) + " method " + start.name), nullptr;
    apt_string_set(&sl.method_name, name);
  } else if (start.type == MRCP_MESSAGE_TYPE_EVENT) {
    sl.method_id = mrcp_event_find(resource, start.name.c_str());
    const char *name = mrcp_event_name_get(resource, sl.method_id);
    if (!name) return err.Fail(1, "unknown " + std::string(mrcp_resource_name_get(resource)) + " event " + start.name), nullptr;
    apt_string_set(&sl.method_name, name);
  }
  if (channel_header) {
    apt_string_assign_n(&message->channel_id.session_id, session_id.data(), session_id.size(), pool);
  }

  for (const HeaderLine &h : headers) {
    if (&h == channel_header || strcasecmp(h.name.c_str(), kChannelIdentifier) == 0) continue;
    if (!ApplyHeader(message, h.name, h.value, &why)) {
      return err.Fail(h.line, why + " in " + h.name + " " + Quote(h.value.data(), h.value.data() + h.value.size())),
             nullptr;
    }
  }

  const bool has_content_length = mrcp_generic_header_property_check(message, GENERIC_HEADER_CONTENT_LENGTH);
  const apr_size_t content_length = message->generic_header.content_length;
  size_t body_size = 0;
  size_t total = 0;
  if (mode == MRCP_PARSE_TEMPLATE) {
    body_size = size - header_size;
    total = size;
  } else if (start.has_length) {
    if (start.length < header_size) {
      return err.Fail(1, "message length " + std::to_string(start.length) + " is shorter than the " +
                             std::to_string(header_size) + " bytes of start line and headers"),
             nullptr;
    }
    if (start.length > size) {
      return err.Fail(1, "message truncated: length " + std::to_string(start.length) + " but only " +
                             std::to_string(size) + " bytes"),
             nullptr;
    }
    total = static_cast<size_t>(start.length);
    body_size = total - header_size;
    if (has_content_length && content_length != body_size) {
      return err.Fail(0, "Content-Length " + std::to_string(content_length) + " does not match the " +
                             std::to_string(body_size) + " bytes of body that the message length leaves"),
             nullptr;
    }
  } else {
    body_size = has_content_length ? content_length : 0;
    if (body_size > size - header_size) {
      return err.Fail(0, "message truncated: Content-Length " + std::to_string(body_size) + " but only " +
                             std::to_string(size - header_size) + " bytes of body"),
             nullptr;
    }
    total = header_size + body_size;
  }
  if (body_size > 0) mrcp_message_body_set(message, buffer + header_size, body_size);
  message->generic_header.content_length = body_size;
  if (body_size > 0 || has_content_length) mrcp_generic_header_property_add(message, GENERIC_HEADER_CONTENT_LENGTH);
  if (consumed) *consumed = total;
  return message;
}

void AppendHeader(std::string *out, const char *name, const std::string &value) {
  out->append(name);
  out->append(": ");
  out->append(value);
  out->append("\r\n");
}

bool Write(const mrcp_message_t *message, mrcp_version_e version, std::string *out) {
  if (!message) return false;
  if (version != MRCP_VERSION_1) version = MRCP_VERSION_2;
  const mrcp_start_line_t &sl = message->start_line;
  const mrcp_resource_id resource = message->resource;

  std::string name;
  if (sl.message_type == MRCP_MESSAGE_TYPE_REQUEST || sl.message_type == MRCP_MESSAGE_TYPE_EVENT) {
    if (sl.method_name.length > 0) {
      name.assign(sl.method_name.buf, sl.method_name.length);
    } else {
      const char *known = sl.message_type == MRCP_MESSAGE_TYPE_REQUEST ? mrcp_method_name_get(resource, sl.method_id)
                                                                       : mrcp_event_name_get(resource, sl.method_id);
      if (!known) return false;
      name = known;
    }
  } else if (sl.message_type != MRCP_MESSAGE_TYPE_RESPONSE) {
    return false;
  }
  const char *state = mrcp_request_state_name_get(sl.request_state);
  const std::string request_id = std::to_string(sl.request_id);

  std::string headers;
  if (version == MRCP_VERSION_2 && message->channel_id.session_id.length > 0) {
    std::string channel;
    if (message->channel_id.session_id.buf) channel.assign(message->channel_id.session_id.buf, message->channel_id.session_id.length);
    channel += '@';
    if (message->channel_id.resource_name.length > 0) {
      channel.append(message->channel_id.resource_name.buf, message->channel_id.resource_name.length);
    } else if (const char *resource_name = mrcp_resource_name_get(resource)) {
      channel += resource_name;
    }
    AppendHeader(&headers, kChannelIdentifier, channel);
  }
  std::string value;
  const apr_size_t count = GENERIC_HEADER_COUNT + mrcp_resource_header_count_get(resource);
  for (apr_size_t index = 0; index < count; ++index) {
    if (index == GENERIC_HEADER_CONTENT_LENGTH || !mrcp_header_property_check(message, index)) continue;
    const FieldDesc *field = FindField(resource, index);
    if (!field || !FieldText(message, *field, version, &value)) continue;
    const char *header_name = index < GENERIC_HEADER_COUNT
                                  ? mrcp_generic_header_name_get(index)
                                  : mrcp_resource_header_name_get(resource, index - GENERIC_HEADER_COUNT);
    AppendHeader(&headers, header_name, value);
  }
  if (message->unknown_headers) {
    for (int i = 0; i < message->unknown_headers->nelts; ++i) {
      const apt_header_field_t *h = &APR_ARRAY_IDX(message->unknown_headers, i, apt_header_field_t);
      if (!h->name.buf || h->name.length == 0) continue;
      headers.append(h->name.buf, h->name.length);
      headers.append(": ");
      if (h->value.buf) headers.append(h->value.buf, h->value.length);
      headers.append("\r\n");
    }
  }
  const size_t body_size = message->body.buf ? message->body.length : 0;
  if (body_size > 0 || mrcp_generic_header_property_check(message, GENERIC_HEADER_CONTENT_LENGTH)) {
    AppendHeader(&headers, "Content-Length", std::to_string(body_size));
  }
  headers.append("\r\n");
  if (body_size > 0) headers.append(message->body.buf, body_size);

  std::string start;
  const std::string status = std::to_string(static_cast<int>(sl.status_code));
  if (version == MRCP_VERSION_2) {
    std::string rest;
    if (sl.message_type == MRCP_MESSAGE_TYPE_REQUEST) {
      rest = name + " " + request_id;
    } else if (sl.message_type == MRCP_MESSAGE_TYPE_RESPONSE) {
      if (!state) return false;
      rest = request_id + " " + status + " " + state;
    } else {
      if (!state) return false;
      rest = name + " " + request_id + " " + state;
    }
    // The length counts itself: grow its digit count until the total fits.
    size_t fixed = strlen("MRCP/2.0 ") + 1 + rest.size() + 2 + headers.size();
    size_t digits = 1;
    while (std::to_string(fixed + digits).size() != digits) ++digits;
    start = "MRCP/2.0 " + std::to_string(fixed + digits) + " " + rest + "\r\n";
  } else {
    if (sl.message_type == MRCP_MESSAGE_TYPE_REQUEST) {
      start = name + " " + request_id + " MRCP/1.0\r\n";
    } else if (sl.message_type == MRCP_MESSAGE_TYPE_RESPONSE) {
      if (!state) return false;
      start = "MRCP/1.0 " + request_id + " " + status + " " + state + "\r\n";
    } else {
      if (!state) return false;
      start = name + " " + request_id + " " + state + " MRCP/1.0\r\n";
    }
  }
  *out = start + headers;
  return true;
}

}  // namespace

namespace mrcphost {
namespace internal {
bool WriteMessageText(const mrcp_message_t *message, mrcp_version_e version, std::string *out) {
  return Write(message, version, out);
}
}  // namespace internal
}  // namespace mrcphost

extern "C" {

mrcp_message_t *mrcp_message_parse(const char *buffer, apr_size_t size, mrcp_resource_id default_resource,
                                   mrcp_parse_mode_e mode, apr_size_t *consumed, mrcp_text_error_t *error,
                                   apr_pool_t *pool) {
  ErrorSink err(error);
  if (consumed) *consumed = 0;
  return Parse(buffer, size, default_resource, mode, consumed, err, pool);
}

apt_bool_t mrcp_message_write_version(const mrcp_message_t *message, mrcp_version_e version, apt_str_t *text,
                                      apr_pool_t *pool) {
  std::string out;
  if (!text || !pool || !Write(message, version, &out)) return FALSE;
  apt_string_assign_n(text, out.data(), out.size(), pool);
  return TRUE;
}

apt_bool_t mrcp_message_write(const mrcp_message_t *message, apt_str_t *text, apr_pool_t *pool) {
  return message ? mrcp_message_write_version(message, message->start_line.version, text, pool) : FALSE;
}

apt_bool_t mrcp_header_value_parse(mrcp_message_t *message, const char *name, const char *value,
                                   mrcp_text_error_t *error) {
  ErrorSink err(error);
  if (!message || !name || !*name) return err.Fail(0, "no header name");
  std::string why;
  if (!ApplyHeader(message, name, value ? value : "", &why)) return err.Fail(0, why + " in " + name);
  return TRUE;
}

apt_bool_t mrcp_header_value_write(const mrcp_message_t *message, apr_size_t index, apt_str_t *value,
                                   apr_pool_t *pool) {
  if (!message || !value || !mrcp_header_property_check(message, index)) return FALSE;
  const FieldDesc *field = FindField(message->resource, index);
  std::string text;
  if (!field || !FieldText(message, *field, message->start_line.version, &text)) return FALSE;
  apt_string_assign_n(value, text.data(), text.size(), pool);
  return TRUE;
}

}  // extern "C"
