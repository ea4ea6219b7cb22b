// Media helpers: named events and stream capabilities.
#include <apr_strings.h>

#include "mrcphost/host_mpf.h"

namespace {
const char kDtmfChars[] = "0123456789*#ABCD";
}

extern "C" {

char mpf_event_id_to_dtmf_char(apr_uint32_t event_id) { return event_id < 16 ? kDtmfChars[event_id] : 0; }

apr_uint32_t mpf_dtmf_char_to_event_id(char dtmf_char) {
  char c = dtmf_char;
  if (c >= 'a' && c <= 'd') c = static_cast<char>(c - 'a' + 'A');
  for (apr_uint32_t i = 0; i < 16; ++i) {
    if (kDtmfChars[i] == c && c != '\0') return i;
  }
  return 0xFFFFFFFFu;
}

mpf_stream_capabilities_t *mpf_stream_capabilities_create(mpf_stream_direction_e direction, apr_pool_t *pool) {
  auto *capabilities = static_cast<mpf_stream_capabilities_t *>(apr_pcalloc(pool, sizeof(mpf_stream_capabilities_t)));
  capabilities->direction = direction;
  capabilities->codecs.attrib_arr = apr_array_make(pool, 2, sizeof(mpf_codec_attribs_t));
  capabilities->codecs.allow_named_events = TRUE;
  return capabilities;
}

apt_bool_t mpf_codec_capabilities_entry_add(mpf_codec_capabilities_t *capabilities, const char *codec_name,
                                            int sample_rates, apr_size_t bits_per_sample, apr_size_t frame_duration) {
  if (!capabilities || !capabilities->attrib_arr || !codec_name) return FALSE;
  apr_array_header_t *arr = capabilities->attrib_arr;
  auto *attribs = static_cast<mpf_codec_attribs_t *>(apr_array_push(arr));
  apt_string_assign(&attribs->name, codec_name, arr->pool);
  attribs->sample_rates = sample_rates;
  attribs->bits_per_sample = bits_per_sample;
  attribs->frame_duration = frame_duration;
  return TRUE;
}

apt_bool_t mpf_codec_capabilities_add(mpf_codec_capabilities_t *capabilities, int sample_rates, const char *codec_name) {
  return mpf_codec_capabilities_entry_add(capabilities, codec_name, sample_rates, 0, 10);
}

}  // extern "C"
