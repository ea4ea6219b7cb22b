// Text helpers: line and field readers, header sections, name=value pair lists, unique ids.
#include <apr_strings.h>
#include <strings.h>
#include <sys/random.h>

#include <cstring>
#include <string>

#include "mrcphost/host_apt.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// A header line may carry horizontal tabs but no other control character.
bool HasControl(const char *p, const char *end) {
  for (; p < end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
  }
  return false;
}

void Trim(const char **begin, const char **end) {
  while (*begin < *end && IsSpace(**begin)) ++*begin;
  while (*end > *begin && IsSpace(*(*end - 1))) --*end;
}

void AssignRange(apt_str_t *str, const char *begin, const char *end, apr_pool_t *pool) {
  apt_string_assign_n(str, begin, static_cast<apr_size_t>(end - begin), pool);
}

bool FillRandom(unsigned char *out, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = getrandom(out + done, size - done, 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

extern "C" {

void apt_text_stream_init(apt_text_stream_t *stream, char *buffer, apr_size_t size) {
  stream->text.buf = buffer;
  stream->text.length = buffer ? size : 0;
  stream->pos = buffer;
  stream->end = buffer ? buffer + size : buffer;
  stream->is_eos = (stream->pos == stream->end);
}

apt_bool_t apt_text_line_read(apt_text_stream_t *stream, apt_str_t *line) {
  apt_string_reset(line);
  if (!stream->pos || stream->pos >= stream->end) {
    stream->is_eos = TRUE;
    return FALSE;
  }
  char *begin = stream->pos;
  char *p = begin;
  while (p < stream->end && *p != '\r' && *p != '\n') ++p;
  line->buf = begin;
  line->length = static_cast<apr_size_t>(p - begin);
  if (p == stream->end) {
    stream->pos = p;
    stream->is_eos = TRUE;
    return TRUE;
  }
  if (*p == '\r' && p + 1 < stream->end && p[1] == '\n') ++p;
  stream->pos = p + 1;
  stream->is_eos = (stream->pos >= stream->end);
  return TRUE;
}

apt_bool_t apt_text_field_read(apt_text_stream_t *stream, char separator, apt_bool_t skip_spaces, apt_str_t *field) {
  apt_string_reset(field);
  if (!stream->pos) return FALSE;
  if (skip_spaces) {
    while (stream->pos < stream->end && IsSpace(*stream->pos)) ++stream->pos;
  }
  if (stream->pos >= stream->end) {
    stream->is_eos = TRUE;
    return FALSE;
  }
  char *begin = stream->pos;
  char *p = static_cast<char *>(memchr(begin, separator, static_cast<size_t>(stream->end - begin)));
  if (p) {
    field->buf = begin;
    field->length = static_cast<apr_size_t>(p - begin);
    stream->pos = p + 1;
  } else {
    field->buf = begin;
    field->length = static_cast<apr_size_t>(stream->end - begin);
    stream->pos = const_cast<char *>(stream->end);
  }
  stream->is_eos = (stream->pos >= stream->end);
  return field->length > 0;
}

void apt_header_section_init(apt_header_section_t *section) { section->fields = nullptr; }

apt_bool_t apt_header_section_parse(apt_header_section_t *section, apt_text_stream_t *stream, apr_pool_t *pool) {
  if (!section->fields) section->fields = apr_array_make(pool, 8, sizeof(apt_header_field_t));
  apt_str_t line;
  while (apt_text_line_read(stream, &line)) {
    if (line.length == 0) return TRUE;
    const char *begin = line.buf;
    const char *end = line.buf + line.length;
    if (HasControl(begin, end)) return FALSE;
    if (IsSpace(*begin)) {
      // A folded line continues the previous value.
      if (section->fields->nelts == 0) return FALSE;
      apt_header_field_t *last = &APR_ARRAY_IDX(section->fields, section->fields->nelts - 1, apt_header_field_t);
      Trim(&begin, &end);
      if (begin == end) continue;
      std::string joined(last->value.buf, last->value.length);
      if (!joined.empty()) joined += ' ';
      joined.append(begin, end);
      apt_string_assign_n(&last->value, joined.data(), joined.size(), pool);
      continue;
    }
    const char *colon = static_cast<const char *>(memchr(begin, ':', line.length));
    if (!colon) return FALSE;
    const char *name_end = colon;
    while (name_end > begin && IsSpace(*(name_end - 1))) --name_end;
    if (name_end == begin) return FALSE;
    for (const char *p = begin; p < name_end; ++p) {
      if (IsSpace(*p)) return FALSE;
    }
    const char *value_begin = colon + 1;
    const char *value_end = end;
    Trim(&value_begin, &value_end);
    apt_header_field_t *field = static_cast<apt_header_field_t *>(apr_array_push(section->fields));
    AssignRange(&field->name, begin, name_end, pool);
    AssignRange(&field->value, value_begin, value_end, pool);
  }
  return FALSE;  // no empty line ended the section
}

const apt_header_field_t *apt_header_section_field_get(const apt_header_section_t *section, const char *name) {
  if (!section || !section->fields || !name) return nullptr;
  for (int i = 0; i < section->fields->nelts; ++i) {
    const apt_header_field_t *field = &APR_ARRAY_IDX(section->fields, i, apt_header_field_t);
    if (apt_string_compare_nocase(&field->name, name)) return field;
  }
  return nullptr;
}

apt_pair_arr_t *apt_pair_array_create(apr_size_t initial_count, apr_pool_t *pool) {
  return apr_array_make(pool, static_cast<int>(initial_count ? initial_count : 1), sizeof(apt_pair_t));
}

apt_bool_t apt_pair_array_parse(apt_pair_arr_t *arr, const apt_str_t *value, apr_pool_t *pool) {
  if (!arr || !value) return FALSE;
  if (!value->buf) return TRUE;
  const char *p = value->buf;
  const char *end = value->buf + value->length;
  bool well_formed = true;
  while (p < end) {
    while (p < end && IsSpace(*p)) ++p;
    if (p == end) break;
    if (*p == ';') {
      ++p;
      continue;
    }
    const char *name_begin = p;
    while (p < end && *p != '=' && *p != ';') ++p;
    const char *name_end = p;
    Trim(&name_begin, &name_end);
    const char *value_begin = p;
    const char *value_end = p;
    if (p < end && *p == '=') {
      ++p;
      value_begin = p;
      bool quoted = false;
      while (p < end) {
        if (*p == '"') {
          quoted = !quoted;
        } else if (quoted && *p == '\\' && p + 1 < end) {
          ++p;  // a quoted-pair: the next character is taken as it is
        } else if (!quoted && *p == ';') {
          break;
        }
        ++p;
      }
      value_end = p;
      Trim(&value_begin, &value_end);
      // An open quote runs to the end of the list; the value is kept but the list is malformed.
      if (quoted) well_formed = false;
    }
    if (p < end && *p == ';') ++p;
    if (name_begin == name_end) continue;  // "=value" names nothing
    apt_pair_t *pair = static_cast<apt_pair_t *>(apr_array_push(arr));
    AssignRange(&pair->name, name_begin, name_end, pool);
    AssignRange(&pair->value, value_begin, value_end, pool);
  }
  return well_formed ? TRUE : FALSE;
}

apt_bool_t apt_pair_array_generate(const apt_pair_arr_t *arr, apt_str_t *str, apr_pool_t *pool) {
  if (!arr || !str) return FALSE;
  std::string out;
  for (int i = 0; i < arr->nelts; ++i) {
    const apt_pair_t *pair = &APR_ARRAY_IDX(arr, i, apt_pair_t);
    if (i > 0) out += ';';
    if (pair->name.buf) out.append(pair->name.buf, pair->name.length);
    if (pair->value.length > 0) {
      out += '=';
      out.append(pair->value.buf, pair->value.length);
    }
  }
  apt_string_assign_n(str, out.data(), out.size(), pool);
  return TRUE;
}

apt_bool_t apt_pair_array_append(apt_pair_arr_t *arr, const char *name, const char *value, apr_pool_t *pool) {
  if (!arr || !name) return FALSE;
  apt_pair_t *pair = static_cast<apt_pair_t *>(apr_array_push(arr));
  apt_string_assign(&pair->name, name, pool);
  apt_string_assign(&pair->value, value ? value : "", pool);
  return TRUE;
}

int apt_pair_array_size_get(const apt_pair_arr_t *arr) { return arr ? arr->nelts : 0; }

const apt_pair_t *apt_pair_array_get(const apt_pair_arr_t *arr, int index) {
  if (!arr || index < 0 || index >= arr->nelts) return nullptr;
  return &APR_ARRAY_IDX(arr, index, apt_pair_t);
}

const apt_pair_t *apt_pair_array_find(const apt_pair_arr_t *arr, const char *name) {
  if (!arr || !name) return nullptr;
  for (int i = 0; i < arr->nelts; ++i) {
    const apt_pair_t *pair = &APR_ARRAY_IDX(arr, i, apt_pair_t);
    apt_str_t wanted;
    apt_string_set(&wanted, name);
    if (apt_string_compare(&pair->name, &wanted)) return pair;
  }
  return nullptr;
}

apt_bool_t apt_unique_id_generate(apt_str_t *id, apr_size_t length, apr_pool_t *pool) {
  static const char kHex[] = "0123456789abcdef";
  if (!id || !pool || length == 0) return FALSE;
  size_t bytes = (length + 1) / 2;
  std::string random(bytes, '\0');
  if (!FillRandom(reinterpret_cast<unsigned char *>(&random[0]), bytes)) return FALSE;
  char *buf = static_cast<char *>(apr_palloc(pool, length + 1));
  for (apr_size_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(random[i / 2]);
    buf[i] = kHex[(i % 2) ? (byte & 0x0f) : (byte >> 4)];
  }
  buf[length] = '\0';
  id->buf = buf;
  id->length = length;
  return TRUE;
}

}  // extern "C"
