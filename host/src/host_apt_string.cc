// Length-delimited strings.
#include <apr_strings.h>
#include <strings.h>

#include <cstring>

#include "mrcphost/host_apt.h"

extern "C" {

void apt_string_reset(apt_str_t *str) {
  str->buf = nullptr;
  str->length = 0;
}

void apt_string_set(apt_str_t *str, const char *text) {
  str->buf = const_cast<char *>(text);
  str->length = text ? strlen(text) : 0;
}

void apt_string_assign(apt_str_t *str, const char *text, apr_pool_t *pool) {
  if (!text) {
    apt_string_reset(str);
    return;
  }
  apt_string_assign_n(str, text, strlen(text), pool);
}

void apt_string_assign_n(apt_str_t *str, const char *text, apr_size_t length, apr_pool_t *pool) {
  if (!text) {
    apt_string_reset(str);
    return;
  }
  str->buf = apr_pstrmemdup(pool, text, length);
  str->length = length;
}

void apt_string_copy(apt_str_t *dst, const apt_str_t *src, apr_pool_t *pool) {
  if (!src->buf) {
    apt_string_reset(dst);
    return;
  }
  apt_string_assign_n(dst, src->buf, src->length, pool);
}

apt_bool_t apt_string_is_empty(const apt_str_t *str) { return !str->buf || str->length == 0; }

apt_bool_t apt_string_compare(const apt_str_t *a, const apt_str_t *b) {
  if (a->length != b->length) return FALSE;
  return a->length == 0 || memcmp(a->buf, b->buf, a->length) == 0;
}

apt_bool_t apt_string_compare_nocase(const apt_str_t *a, const char *text) {
  size_t n = text ? strlen(text) : 0;
  if (a->length != n) return FALSE;
  return n == 0 || strncasecmp(a->buf, text, n) == 0;
}

}  // extern "C"
