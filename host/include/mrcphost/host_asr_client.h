/*
 * ASR client calls: run MRCP recognizer sessions against a plugin loaded in this process
 * by the host layer, the way an MRCP client stack would against a server.
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

/* Starts the client engine: reads the client profiles under root_dir_path/conf (null: the
 * default root), sets up logging. Null on failure. */
HOST_DECLARE(asr_engine_t *) asr_engine_create(const char *root_dir_path, apt_log_priority_e log_priority,
                                               apt_log_output_e log_output);
HOST_DECLARE(apt_bool_t) asr_engine_destroy(asr_engine_t *engine);
HOST_DECLARE(apt_bool_t) asr_engine_log_priority_set(apt_log_priority_e log_priority);

/* Opens a recognizer session with the named client profile; null on failure. */
HOST_DECLARE(asr_session_t *) asr_session_create(asr_engine_t *engine, const char *profile);
/* Sends GET-PARAMS and returns what came back; null on failure. */
HOST_DECLARE(const asr_params_t *) asr_session_get_all_params(asr_session_t *session);
/* TRUE when both records hold the same headers with the same values. */
HOST_DECLARE(apt_bool_t) asr_params_equal(const asr_params_t *a, const asr_params_t *b);
/* Sends SET-PARAMS with the headers of params_file (a file of MRCP headers, relative to the data
 * directory), or with the single header name: value when no file is given. */
HOST_DECLARE(apt_bool_t) asr_session_set_param(asr_session_t *session, const char *params_file, const char *name,
                                               const char *value);
/* Defines and activates the grammar(s), streams the audio file through RECOGNIZE (adding the
 * headers of params_file unless set_params is TRUE) and returns the RECOGNITION-COMPLETE body,
 * or its completion cause when there is no body; null on failure. Owned by the session. */
HOST_DECLARE(const char *) asr_session_file_recognize(asr_session_t *session, const char *grammar, const char *input_file,
                                                      const char *params_file, apt_bool_t set_params);
HOST_DECLARE(apt_bool_t) asr_session_destroy(asr_session_t *session);

#ifdef __cplusplus
}
#endif

#endif /* MRCPHOST_HOST_ASR_CLIENT_H */
