/*
 * Host toolkit: strings, logging, directory layout, task threads and text helpers.
 * These are the host services a plugin relies on; the host layer owns their state.
 */
#ifndef MRCPHOST_HOST_APT_H
#define MRCPHOST_HOST_APT_H

#include <apr_pools.h>
#include <apr_tables.h>
#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define HOST_DECLARE(type) __attribute__((visibility("default"))) type
#else
#define HOST_DECLARE(type) type
#endif

typedef int apt_bool_t;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* ---------- strings ---------- */

/* A length-delimited string; buf may not be NUL-terminated unless assigned by the helpers below. */
typedef struct apt_str_t {
  char *buf;
  apr_size_t length;
} apt_str_t;

HOST_DECLARE(void) apt_string_reset(apt_str_t *str);
/* Points at text without copying. */
HOST_DECLARE(void) apt_string_set(apt_str_t *str, const char *text);
/* Copies text (NUL-terminated copy from pool). A null text resets the string. */
HOST_DECLARE(void) apt_string_assign(apt_str_t *str, const char *text, apr_pool_t *pool);
HOST_DECLARE(void) apt_string_assign_n(apt_str_t *str, const char *text, apr_size_t length, apr_pool_t *pool);
HOST_DECLARE(void) apt_string_copy(apt_str_t *dst, const apt_str_t *src, apr_pool_t *pool);
HOST_DECLARE(apt_bool_t) apt_string_is_empty(const apt_str_t *str);
HOST_DECLARE(apt_bool_t) apt_string_compare(const apt_str_t *a, const apt_str_t *b);          /* exact */
HOST_DECLARE(apt_bool_t) apt_string_compare_nocase(const apt_str_t *a, const char *text);      /* ASCII case-insensitive */

/* ---------- logging ---------- */

typedef enum {
  APT_PRIO_EMERGENCY = 0,
  APT_PRIO_ALERT = 1,
  APT_PRIO_CRITICAL = 2,
  APT_PRIO_ERROR = 3,
  APT_PRIO_WARNING = 4,
  APT_PRIO_NOTICE = 5,
  APT_PRIO_INFO = 6,
  APT_PRIO_DEBUG = 7
} apt_log_priority_e;

typedef enum {
  APT_LOG_OUTPUT_NONE = 0,
  APT_LOG_OUTPUT_CONSOLE = 1, /* stderr */
  APT_LOG_OUTPUT_FILE = 2,
  APT_LOG_OUTPUT_BOTH = 3
} apt_log_output_e;

/* A named log source with its own priority threshold. */
typedef struct apt_log_source_t {
  const char *name;
  apt_log_priority_e priority;
} apt_log_source_t;

/* The process logger (opaque). Plugins receive it through their logger entry point. */
typedef struct apt_logger_t apt_logger_t;

#define APT_LOG_MARK __FILE__, __LINE__

/* Logs through the current logger instance; a record above the source's (or, with a null source,
 * the default source's) priority is dropped. Returns FALSE when dropped or when there is no logger. */
HOST_DECLARE(apt_bool_t) apt_log(apt_log_source_t *source, const char *file, int line, apt_log_priority_e priority,
                                 const char *format, ...) __attribute__((format(printf, 5, 6)));
HOST_DECLARE(apt_bool_t) apt_va_log(apt_log_source_t *source, const char *file, int line, apt_log_priority_e priority,
                                    const char *format, va_list args);
HOST_DECLARE(apt_bool_t) apt_log_instance_set(apt_logger_t *logger);
HOST_DECLARE(apt_logger_t *) apt_log_instance_get(void);
HOST_DECLARE(void) apt_def_log_source_set(apt_log_source_t *source);
HOST_DECLARE(apt_log_source_t *) apt_def_log_source_get(void);
/* Finds or creates the source of that name and stores it in *source. */
HOST_DECLARE(apt_bool_t) apt_log_source_assign(const char *name, apt_log_source_t **source);
/* "EMERGENCY" .. "DEBUG" (case-insensitive) or a digit 0..7; anything else gives DEBUG. */
HOST_DECLARE(apt_log_priority_e) apt_log_priority_translate(const char *str);
HOST_DECLARE(const char *) apt_log_priority_name(apt_log_priority_e priority);

/* Host side: create, configure and destroy the process logger. */
HOST_DECLARE(apt_logger_t *) apt_log_instance_create(apt_log_output_e mode, apt_log_priority_e priority, apr_pool_t *pool);
HOST_DECLARE(apt_bool_t) apt_log_instance_destroy(void);
HOST_DECLARE(apt_bool_t) apt_log_file_open(const char *path, apr_pool_t *pool);
HOST_DECLARE(apt_bool_t) apt_log_priority_set(apt_log_priority_e priority); /* default source and new sources */
HOST_DECLARE(apt_bool_t) apt_log_output_mode_set(apt_log_output_e mode);
/* Optional extra sink, called with each record that passed filtering (after formatting, without line end). */
typedef void (*apt_log_ext_handler_f)(const char *source_name, const char *file, int line, apt_log_priority_e priority,
                                      const char *text, void *obj);
HOST_DECLARE(apt_bool_t) apt_log_ext_handler_set(apt_log_ext_handler_f handler, void *obj);
/* The handler runs under the logger's lock: it must not log itself. */
HOST_DECLARE(apt_log_priority_e) apt_log_priority_get(void);
/* Appends " [file:line]" to every written line. */
HOST_DECLARE(apt_bool_t) apt_log_mark_set(apt_bool_t on);
/* Sets the threshold of one source by name (the source is created when missing). */
HOST_DECLARE(apt_bool_t) apt_log_source_priority_set(const char *name, apt_log_priority_e priority);

/* ---------- directory layout ---------- */

typedef enum {
  APT_LAYOUT_CONF_DIR = 0,
  APT_LAYOUT_PLUGIN_DIR = 1,
  APT_LAYOUT_LOG_DIR = 2,
  APT_LAYOUT_DATA_DIR = 3,
  APT_LAYOUT_VAR_DIR = 4,
  APT_LAYOUT_DIR_COUNT = 5
} apt_dir_entry_e;

typedef struct apt_dir_layout_t apt_dir_layout_t;

/* conf/, plugin/, log/, data/, var/ under root. */
HOST_DECLARE(apt_dir_layout_t *) apt_default_dir_layout_create(const char *root_dir, apr_pool_t *pool);
HOST_DECLARE(apt_dir_layout_t *) apt_dir_layout_create(apr_pool_t *pool);
HOST_DECLARE(apt_bool_t) apt_dir_layout_path_set(apt_dir_layout_t *layout, apr_size_t entry, const char *path, apr_pool_t *pool);
/* Null when the entry is not set. */
HOST_DECLARE(const char *) apt_dir_layout_path_get(const apt_dir_layout_t *layout, apr_size_t entry);
/* Path of a file in the conf (resp. var, data) directory; null when the directory is not set. */
HOST_DECLARE(char *) apt_confdir_filepath_get(const apt_dir_layout_t *layout, const char *file_name, apr_pool_t *pool);
HOST_DECLARE(char *) apt_vardir_filepath_get(const apt_dir_layout_t *layout, const char *file_name, apr_pool_t *pool);
HOST_DECLARE(char *) apt_datadir_filepath_get(const apt_dir_layout_t *layout, const char *file_name, apr_pool_t *pool);

/* ---------- task threads ---------- */

typedef struct apt_task_t apt_task_t;
typedef struct apt_task_msg_t apt_task_msg_t;
typedef struct apt_task_msg_pool_t apt_task_msg_pool_t;

typedef apt_bool_t (*apt_task_method_f)(apt_task_t *task);
typedef apt_bool_t (*apt_task_msg_f)(apt_task_t *task, apt_task_msg_t *msg);
typedef void (*apt_task_event_f)(apt_task_t *task);

/* Method slots; null slots keep the default behaviour. */
typedef struct apt_task_vtable_t {
  apt_task_method_f destroy;
  apt_task_method_f start;
  apt_task_method_f terminate;   /* asks run to return; called by apt_task_terminate */
  apt_task_method_f run;         /* the thread body; default: return at once */
  apt_task_msg_f signal_msg;
  apt_task_msg_f process_msg;
  apt_task_event_f on_pre_run;
  apt_task_event_f on_post_run;
  apt_task_event_f on_start_complete;     /* on the task thread before run */
  apt_task_event_f on_terminate_complete; /* on the task thread after run */
} apt_task_vtable_t;

HOST_DECLARE(apt_task_t *) apt_task_create(void *obj, apt_task_msg_pool_t *msg_pool, apr_pool_t *pool);
HOST_DECLARE(apt_task_vtable_t *) apt_task_vtable_get(apt_task_t *task);
HOST_DECLARE(apt_bool_t) apt_task_name_set(apt_task_t *task, const char *name);
HOST_DECLARE(apt_bool_t) apt_task_start(apt_task_t *task);
/* Calls the terminate slot; with wait, joins the thread. */
HOST_DECLARE(apt_bool_t) apt_task_terminate(apt_task_t *task, apt_bool_t wait);
HOST_DECLARE(apt_bool_t) apt_task_destroy(apt_task_t *task);
HOST_DECLARE(void *) apt_task_object_get(apt_task_t *task);

/* ---------- text helpers ---------- */

/* A read cursor over text. */
typedef struct apt_text_stream_t {
  apt_str_t text;
  char *pos;
  const char *end;
  apt_bool_t is_eos;
} apt_text_stream_t;

HOST_DECLARE(void) apt_text_stream_init(apt_text_stream_t *stream, char *buffer, apr_size_t size);
/* Reads one line ended by CR, LF or CRLF (terminator not included). A last line without a
 * terminator is returned too and sets is_eos. FALSE when nothing is left. */
HOST_DECLARE(apt_bool_t) apt_text_line_read(apt_text_stream_t *stream, apt_str_t *line);
/* Reads up to the separator (or the end), optionally skipping leading spaces. FALSE when empty. */
HOST_DECLARE(apt_bool_t) apt_text_field_read(apt_text_stream_t *stream, char separator, apt_bool_t skip_spaces,
                                             apt_str_t *field);

typedef struct apt_header_field_t {
  apt_str_t name;
  apt_str_t value;
} apt_header_field_t;

typedef struct apt_header_section_t {
  apr_array_header_t *fields; /* apt_header_field_t, in order; null until parsed */
} apt_header_section_t;

HOST_DECLARE(void) apt_header_section_init(apt_header_section_t *section);
/* Parses "Name: value" lines up to and including an empty line; the stream is left at the body.
 * FALSE on a malformed line or when the empty line is missing. Values are trimmed of leading spaces. */
HOST_DECLARE(apt_bool_t) apt_header_section_parse(apt_header_section_t *section, apt_text_stream_t *stream, apr_pool_t *pool);
HOST_DECLARE(const apt_header_field_t *) apt_header_section_field_get(const apt_header_section_t *section, const char *name);

typedef struct apt_pair_t {
  apt_str_t name;
  apt_str_t value;
} apt_pair_t;
typedef apr_array_header_t apt_pair_arr_t; /* of apt_pair_t */

HOST_DECLARE(apt_pair_arr_t *) apt_pair_array_create(apr_size_t initial_count, apr_pool_t *pool);
/* Parses name=value;name2="quoted; value" (quotes kept in the value, separators inside them ignored,
 * \" inside quotes is a quote; a name without '=' gets an empty value; spaces around names and values
 * are skipped). FALSE when a quote is left open: that pair's value runs to the end and is kept. */
HOST_DECLARE(apt_bool_t) apt_pair_array_parse(apt_pair_arr_t *arr, const apt_str_t *value, apr_pool_t *pool);
/* Writes the pairs back as name=value;... into str. */
HOST_DECLARE(apt_bool_t) apt_pair_array_generate(const apt_pair_arr_t *arr, apt_str_t *str, apr_pool_t *pool);
HOST_DECLARE(apt_bool_t) apt_pair_array_append(apt_pair_arr_t *arr, const char *name, const char *value, apr_pool_t *pool);
HOST_DECLARE(int) apt_pair_array_size_get(const apt_pair_arr_t *arr);
HOST_DECLARE(const apt_pair_t *) apt_pair_array_get(const apt_pair_arr_t *arr, int index);
/* First pair of that name (exact, case-sensitive), or null. */
HOST_DECLARE(const apt_pair_t *) apt_pair_array_find(const apt_pair_arr_t *arr, const char *name);

/* A random identifier of length hex digits (32 for the usual id), NUL-terminated, from pool. */
HOST_DECLARE(apt_bool_t) apt_unique_id_generate(apt_str_t *id, apr_size_t length, apr_pool_t *pool);

#ifdef __cplusplus
}
#endif

#endif /* MRCPHOST_HOST_APT_H */
