/*
 * ASR client calls: run MRCP recognizer sessions against a plugin loaded in this process
 * by the host layer, the way an MRCP client stack would against a server.
 *
 * Root directory layout: conf/ holds the client configuration "asrclient.xml" (client profiles
 * and time limits; built-in profiles "kel2" (MRCPv2) and "kel1" (MRCPv1) when it is missing),
 * data/ the grammars, audio and parameter files named by the calls below, log/ the log file.
 * Every wait for the plugin has a limit: a plugin that does not answer makes the call fail with
 * a logged reason, never hang.
 */
#ifndef MRCPHOST_HOST_ASR_CLIENT_H
#define MRCPHOST_HOST_ASR_CLIENT_H

#include "host_apt.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct asr_engine_t asr_engine_t;
typedef struct asr_session_t asr_session_t;
/* The parameters a GET-PARAMS returned; owned by the session, valid until it is destroyed. */
typedef struct asr_params_t asr_params_t;

/* Starts the client engine: sets up logging (console on stderr, file log/asrclient.log under the
 * root), reads the client profiles. A null root_dir_path means the "demo" folder beside the
 * program's folder when there is one, else the program folder's parent. Null on failure (the
 * reason is logged). Plugins are loaded when a session first needs them. */
HOST_DECLARE(asr_engine_t *) asr_engine_create(const char *root_dir_path, apt_log_priority_e log_priority,
                                               apt_log_output_e log_output);
/* Lets the sessions still running finish (each within its own time limits), then closes the
 * plugins and frees the engine. No session may be created once this has started. */
HOST_DECLARE(apt_bool_t) asr_engine_destroy(asr_engine_t *engine);
HOST_DECLARE(apt_bool_t) asr_engine_log_priority_set(apt_log_priority_e log_priority);

/* Opens a recognizer session with the named client profile; null on failure (reason logged).
 * Safe to call from several threads at once. */
HOST_DECLARE(asr_session_t *) asr_session_create(asr_engine_t *engine, const char *profile);
/* Sends GET-PARAMS and returns the answer's status and headers; null on failure. */
HOST_DECLARE(const asr_params_t *) asr_session_get_all_params(asr_session_t *session);
/* TRUE when both records hold the same status and the same headers with the same values (in any
 * order); two null records are equal. */
HOST_DECLARE(apt_bool_t) asr_params_equal(const asr_params_t *a, const asr_params_t *b);
/* Sends SET-PARAMS with the headers of params_file (a file of "Name: value" lines, relative to the
 * data directory unless absolute), or with the single header name: value when no file is given,
 * or with no header at all when neither is given. TRUE when the plugin answered with success. */
HOST_DECLARE(apt_bool_t) asr_session_set_param(asr_session_t *session, const char *params_file, const char *name,
                                               const char *value);
/* Defines and activates the grammar(s), streams the audio file through RECOGNIZE in real time
 * (adding the headers of params_file unless set_params is TRUE) and returns the
 * RECOGNITION-COMPLETE body, or its Completion-Cause when there is no body; null on failure.
 * The grammar argument is a grammar file of the data directory, a URI (builtin:, session:,
 * http:, https:, ...), a comma-separated list of these, or a list of text/grammar-ref-list
 * entries such as <yesno.xml>;weight="2.0". The text is owned by the session and valid until
 * the next call on it. */
HOST_DECLARE(const char *) asr_session_file_recognize(asr_session_t *session, const char *grammar, const char *input_file,
                                                      const char *params_file, apt_bool_t set_params);
HOST_DECLARE(apt_bool_t) asr_session_destroy(asr_session_t *session);

#ifdef __cplusplus
}
#endif

#endif /* MRCPHOST_HOST_ASR_CLIENT_H */
