// Fuzzes the MRCP wire text parser. Whatever parses must write back and parse again to the same text.
#include <apr_general.h>
#include <apr_pools.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "mrcphost/host_mrcp_text.h"

namespace {
std::string Write(const mrcp_message_t *m, apr_pool_t *pool) {
  apt_str_t text;
  if (!mrcp_message_write(m, &text, pool)) abort();
  return std::string(text.buf, text.length);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool initialized = apr_initialize() == APR_SUCCESS;
  if (!initialized) return 0;
  apr_pool_t *pool = nullptr;
  apr_pool_create(&pool, nullptr);
  // The first byte picks the mode and the default resource, the rest is the message.
  const uint8_t selector = size > 0 ? data[0] : 0;
  const auto mode = (selector & 1) ? MRCP_PARSE_TEMPLATE : MRCP_PARSE_WIRE;
  const mrcp_resource_id resource = (selector & 2) ? MRCP_SYNTHESIZER_RESOURCE : MRCP_RECOGNIZER_RESOURCE;
  const char *text = size > 0 ? reinterpret_cast<const char *>(data + 1) : nullptr;
  const size_t text_size = size > 0 ? size - 1 : 0;
  mrcp_text_error_t error;
  error.text[0] = '\0';
  apr_size_t consumed = 0;
  mrcp_message_t *m = mrcp_message_parse(text, text_size, resource, mode, &consumed, &error, pool);
  if (m) {
    if (consumed > text_size) abort();
    // As the host does for a request written by hand, name the channel before writing.
    if (m->channel_id.session_id.length == 0) apt_string_set(&m->channel_id.session_id, "fuzz");
    std::string first = Write(m, pool);
    apr_size_t again_consumed = 0;
    mrcp_message_t *again =
        mrcp_message_parse(first.data(), first.size(), m->resource, MRCP_PARSE_WIRE, &again_consumed, &error, pool);
    if (!again || again_consumed != first.size()) abort();
    if (Write(again, pool) != first) abort();
  } else if (error.text[0] == '\0') {
    abort();  // every failure says why
  }
  apr_pool_destroy(pool);
  return 0;
}
