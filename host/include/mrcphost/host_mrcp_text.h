/*
 * MRCP wire text: parsing and writing MRCPv2 (RFC 6787) and MRCPv1 (RFC 4463) messages of the
 * recognizer and synthesizer resources.
 */
#ifndef MRCPHOST_HOST_MRCP_TEXT_H
#define MRCPHOST_HOST_MRCP_TEXT_H

#include "host_mrcp_message.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mrcp_text_error_t {
  apr_size_t line; /* 1-based line of the fault; 0 when it concerns the message as a whole */
  char text[256];  /* "line 3: header without ':' [Foo bar]" */
} mrcp_text_error_t;

typedef enum {
  /* A message as it travels: full start line, Channel-Identifier (MRCPv2), length and Content-Length agree. */
  MRCP_PARSE_WIRE = 0,
  /* A request as a person writes it: the start line may be the method name alone, Channel-Identifier
   * may be missing, and the body is all the text after the empty line (lengths are computed). */
  MRCP_PARSE_TEMPLATE = 1
} mrcp_parse_mode_e;

/* Parses the message at the start of buffer into a message allocated from pool.
 * default_resource serves messages that name no resource (MRCPv1, templates without Channel-Identifier).
 * On success *consumed (when given) is the size of the message; bytes after it are left alone.
 * On failure returns null and fills error (when given). Any input is safe to pass. */
HOST_DECLARE(mrcp_message_t *) mrcp_message_parse(const char *buffer, apr_size_t size, mrcp_resource_id default_resource,
                                                  mrcp_parse_mode_e mode, apr_size_t *consumed,
                                                  mrcp_text_error_t *error, apr_pool_t *pool);

/* Writes the message as wire text of its own version (MRCPv2 when unknown) into a NUL-terminated
 * string from pool: computed message length, Channel-Identifier, generic headers, resource headers
 * (index order), unknown headers as received, Content-Length of the body, the body. */
HOST_DECLARE(apt_bool_t) mrcp_message_write(const mrcp_message_t *message, apt_str_t *text, apr_pool_t *pool);
HOST_DECLARE(apt_bool_t) mrcp_message_write_version(const mrcp_message_t *message, mrcp_version_e version,
                                                    apt_str_t *text, apr_pool_t *pool);

/* Sets one header from its text value as the parser would (name case-insensitive; unknown names are
 * kept as unknown headers). FALSE with error filled when the value is not valid for the header. */
HOST_DECLARE(apt_bool_t) mrcp_header_value_parse(mrcp_message_t *message, const char *name, const char *value,
                                                 mrcp_text_error_t *error);
/* Text of a present header by combined index, as the writer puts it; FALSE when absent. */
HOST_DECLARE(apt_bool_t) mrcp_header_value_write(const mrcp_message_t *message, apr_size_t index, apt_str_t *value,
                                                 apr_pool_t *pool);

#ifdef __cplusplus
}
#endif

#endif /* MRCPHOST_HOST_MRCP_TEXT_H */
