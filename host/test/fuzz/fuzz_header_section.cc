// Fuzzes the header section parser and the line reader under it.
#include <apr_general.h>
#include <apr_pools.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mrcphost/host_apt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool initialized = apr_initialize() == APR_SUCCESS;
  if (!initialized) return 0;
  apr_pool_t *pool = nullptr;
  apr_pool_create(&pool, nullptr);
  std::vector<char> buffer(data, data + size);
  apt_text_stream_t stream;
  apt_text_stream_init(&stream, buffer.data(), buffer.size());
  apt_header_section_t section;
  apt_header_section_init(&section);
  if (apt_header_section_parse(&section, &stream, pool)) {
    if (stream.pos < buffer.data() || stream.pos > buffer.data() + buffer.size()) abort();
    for (int i = 0; i < section.fields->nelts; ++i) {
      const apt_header_field_t *field = &APR_ARRAY_IDX(section.fields, i, apt_header_field_t);
      if (field->name.length == 0 || field->name.buf[field->name.length] != '\0') abort();
      if (apt_header_section_field_get(&section, field->name.buf) == nullptr) abort();
    }
  }
  apr_pool_destroy(pool);
  return 0;
}
