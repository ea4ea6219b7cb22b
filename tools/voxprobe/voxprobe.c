/*
 * voxprobe: runs recognition sessions from the command line. Each "run" command starts one
 * session, in a thread of its own, from a grammar and an audio file, and prints the result.
 */
#include <apr_general.h>
#include <apr_getopt.h>
#include <apr_strings.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_proc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mrcphost/host_asr_client.h>

#define CMDLINE_BUFFER_SIZE 1024

typedef struct {
  const char *root_dir_path;
  apr_int32_t log_priority;
  apr_int32_t log_output;
  apr_pool_t *pool;
} options_t;

/* Runs still in progress. The command loop waits for them before the engine goes, so no session
 * uses a destroyed engine and no run pool is freed after APR has terminated. */
typedef struct {
  apr_thread_mutex_t *mutex;
  apr_thread_cond_t *done;
  int count; /* guarded by mutex */
  apr_threadattr_t *attr;
} run_tracker_t;

typedef struct {
  run_tracker_t *tracker;
  asr_engine_t *engine;
  const char *grammar;
  const char *input_file;
  const char *profile;
  const char *params_file;
  apt_bool_t set_params;
  apt_bool_t get_params;
  apr_thread_t *thread;
  apr_pool_t *pool;
} run_t;

static const char usage_text[] =
    "\n"
    "Usage:\n"
    "\n"
    "  voxprobe [options]\n"
    "\n"
    "  Available options:\n"
    "\n"
    "   -r [--root-dir] path     : Set the project root directory path.\n"
    "\n"
    "   -l [--log-prio] priority : Set the log priority.\n"
    "                              (0-emergency, ..., 7-debug)\n"
    "\n"
    "   -o [--log-output] mode   : Set the log output mode.\n"
    "                              (0-none, 1-console only, 2-file only, 3-both)\n"
    "\n"
    "   -h [--help]              : Show the help.\n";

static const char command_help_text[] =
    "usage:\n"
    "\n"
    "  Run demo ASR client\n"
    "\n"
    "  - Run grammar_uri_list audio_input_file [profile_name | -] [params_file | -] [set | -] [get | -]\n"
    "\n"
    "       grammar_uri_list is the name of a grammar file (path is relative to data dir)\n"
    "       (default is grammar.xml)\n"
    "       or a comma separated list of grammar uris, where grammar_uri may be one of the following:\n"
    "         http:// or https:// - grammar is hosted on a web server and fetched over HTTP or HTTPS\n"
    "         builtin: - grammar is a VoiceXML builtin grammar like builtin:grammar/boolean\n"
    "         builtin:speech/transcribe, builtin:speech/<context> - supported prorpietary grammar URIs\n"
    "         (no URI prefix) - grammar file is read from local data folder.\n"
    "       or a comma separated list of weighted grammars, each in text/grammar-ref-list format\n"
    "\n"
    "       audio_input_file is the name of audio file to process, (path is relative to data dir). \n"
    "       headerless PCM files are supported as well as WAV files with RIFF headers.\n"
    "       (default is one-8kHz.pcm)\n"
    "\n"
    "       profile_name is the configured client-profile, like one of 'kel2', 'kel1', ...\n"
    "       (default is kel2)\n"
    "\n"
    "       params_file is a path to a file of MRCP headers. A dash (-) may be used to skip this parameter.\n"
    "       Example:\n"
    "         N-Best-List-Length: 3\n"
    "         No-Input-Timeout: 3000\n"
    "         Speech-Complete-Timeout: 500\n"
    "       (default is no parameter file. In this case the ASR defaults are used)\n"
    "\n"
    "       set - send parameter_file as headers in MRCP SET-PARAMS method, otherwise\n"
    "       parameters are sent as headers in the MRCP RECOGNIZE method \n"
    "\n"
    "       get - send MRCP GET-PARAMS method before and after recognition\n"
    "\n"
    "     examples:\n"
    "       run grammar.xml one-8kHz.pcm kel2 params_default.txt set get\n"
    "       run grammar.xml one.wav\n"
    "       run builtin:grammar/boolean yes.wav\n"
    "       run operator.grxml speak_to_representative.wav kel2\n"
    "       run builtin:grammar/boolean yes.pcm kel2\n"
    "       run builtin:grammar/boolean yes.wav - params.txt set get\n"
    "       run http://grammars.example.com/grammars/pizza.grxml one.wav\n"
    "       run http://grammars.example.com/grammars/pizza.grxml,builtin:grammar/boolean one.wav\n"
    "       run <http://grammars.example.com/grammars/yesno.grxml>;weight=\"2.0\",<http://grammars.example.com/grammars/pizza.grxml>;weight=\"0.75\" one.wav\n"
    "\n"
    "  - loglevel [level] (set loglevel, one of 0,1...7)\n"
    "\n"
    "  - quit, exit\n";

static apt_bool_t run_tracker_init(run_tracker_t *tracker, apr_pool_t *pool) {
  tracker->count = 0;
  if (apr_thread_mutex_create(&tracker->mutex, APR_THREAD_MUTEX_DEFAULT, pool) != APR_SUCCESS ||
      apr_thread_cond_create(&tracker->done, pool) != APR_SUCCESS)
    return FALSE;
  /* Sessions are never joined: detached, so finished threads do not pile up. */
  return apr_threadattr_create(&tracker->attr, pool) == APR_SUCCESS &&
         apr_threadattr_detach_set(tracker->attr, 1) == APR_SUCCESS;
}

static void run_tracker_enter(run_tracker_t *tracker) {
  apr_thread_mutex_lock(tracker->mutex);
  tracker->count++;
  apr_thread_mutex_unlock(tracker->mutex);
}

static void run_tracker_leave(run_tracker_t *tracker) {
  apr_thread_mutex_lock(tracker->mutex);
  if (--tracker->count == 0) apr_thread_cond_broadcast(tracker->done);
  apr_thread_mutex_unlock(tracker->mutex);
}

static void run_tracker_wait(run_tracker_t *tracker) {
  apr_thread_mutex_lock(tracker->mutex);
  while (tracker->count > 0) apr_thread_cond_wait(tracker->done, tracker->mutex);
  apr_thread_mutex_unlock(tracker->mutex);
}

static void *APR_THREAD_FUNC asr_session_run(apr_thread_t *thread, void *data) {
  run_t *run = data;
  (void)thread;
  asr_session_t *session = asr_session_create(run->engine, run->profile);
  if (session) {
    const asr_params_t *params_before = NULL;
    if (run->get_params) params_before = asr_session_get_all_params(session);
    if (run->set_params) asr_session_set_param(session, run->params_file, NULL, NULL);

    const char *result =
        asr_session_file_recognize(session, run->grammar, run->input_file, run->params_file, run->set_params);
    if (result) {
      printf("Recog Result [%s]", result);
      fflush(stdout);
    }

    if (run->get_params) {
      const asr_params_t *params_after = asr_session_get_all_params(session);
      if (!asr_params_equal(params_before, params_after)) {
        printf("Parameters do not match.");
        fflush(stdout);
      }
    }
    asr_session_destroy(session);
  }
  run_tracker_t *tracker = run->tracker;
  /* The run record, the thread record and its strings all live in this pool. */
  apr_pool_destroy(run->pool);
  run_tracker_leave(tracker);
  return NULL;
}

static void run_start(run_tracker_t *tracker, asr_engine_t *engine, char **state) {
  apr_pool_t *pool = NULL;
  if (apr_pool_create(&pool, NULL) != APR_SUCCESS) return;
  run_t *run = apr_pcalloc(pool, sizeof(*run));
  run->tracker = tracker;
  run->engine = engine;
  run->pool = pool;
  run->grammar = "grammar.xml";
  run->input_file = "one-8kHz.pcm";
  run->profile = "kel2";

  char *token = apr_strtok(NULL, " ", state);
  if (token) {
    run->grammar = apr_pstrdup(pool, token);
    token = apr_strtok(NULL, " ", state);
  }
  if (token) {
    run->input_file = apr_pstrdup(pool, token);
    token = apr_strtok(NULL, " ", state);
  }
  if (token) {
    if (*token != '-') run->profile = apr_pstrdup(pool, token);
    token = apr_strtok(NULL, " ", state);
  }
  if (token) {
    if (*token != '-') run->params_file = apr_pstrdup(pool, token);
    token = apr_strtok(NULL, " ", state);
  }
  if (token) {
    if (strcasecmp(token, "SET") == 0) run->set_params = TRUE;
    token = apr_strtok(NULL, " ", state);
  }
  if (token) {
    if (strcasecmp(token, "GET") == 0) run->get_params = TRUE;
  }

  run_tracker_enter(tracker);
  if (apr_thread_create(&run->thread, tracker->attr, asr_session_run, run, pool) != APR_SUCCESS) {
    apr_pool_destroy(pool);
    run_tracker_leave(tracker);
  }
}

static apt_bool_t cmdline_process(run_tracker_t *tracker, asr_engine_t *engine, char *line) {
  char *state = NULL;
  char *command = apr_strtok(line, " ", &state);
  if (!command) return TRUE;

  if (strcasecmp(command, "run") == 0) {
    run_start(tracker, engine, &state);
  } else if (strcasecmp(command, "loglevel") == 0) {
    char *level = apr_strtok(NULL, " ", &state);
    if (level) asr_engine_log_priority_set((apt_log_priority_e)strtol(level, NULL, 10));
  } else if (strcasecmp(command, "exit") == 0 || strcmp(command, "quit") == 0) {
    return FALSE;
  } else if (strcasecmp(command, "help") == 0) {
    printf("%s", command_help_text);
  } else {
    printf("unknown command: %s (input help for usage)\n", command);
  }
  return TRUE;
}

/* Reads one line into buffer (NUL-terminated, at most size - 1 characters). FALSE at end of input
 * with nothing read. */
static apt_bool_t cmdline_read(char *buffer, size_t size) {
  size_t length = 0;
  int ch = 0;
  memset(buffer, 0, size);
  while (length < size - 1) {
    ch = getchar();
    if (ch == EOF) return length > 0;
    if (ch == '\n') break;
    buffer[length++] = (char)ch;
  }
  return TRUE;
}

static void cmdline_run(asr_engine_t *engine, apr_pool_t *pool) {
  char buffer[CMDLINE_BUFFER_SIZE];
  run_tracker_t *tracker = apr_pcalloc(pool, sizeof(*tracker));
  if (!run_tracker_init(tracker, pool)) return;
  for (;;) {
    printf(">");
    fflush(stdout);
    if (!cmdline_read(buffer, sizeof(buffer))) {
      /* End of input ends the session like "exit". */
      printf("\n");
      break;
    }
    if (buffer[0] == '\0') continue;
    if (!cmdline_process(tracker, engine, buffer)) break;
  }
  /* Every run ends within the client library's time limits. */
  run_tracker_wait(tracker);
}

static void usage(void) { printf("%s", usage_text); }

/* Parses the options; FALSE when the program should end (help shown or an option error). */
static apt_bool_t options_load(options_t *options, int argc, const char *const *argv) {
  static const apr_getopt_option_t opt_option[] = {
      {"root-dir", 'r', TRUE, "path to root dir"},
      {"log-prio", 'l', TRUE, "log priority"},
      {"log-output", 'o', TRUE, "log output mode"},
      {"help", 'h', FALSE, "show help"},
      {NULL, 0, 0, NULL},
  };
  apr_getopt_t *opt = NULL;
  if (apr_getopt_init(&opt, options->pool, argc, argv) != APR_SUCCESS) return FALSE;

  apr_status_t rv;
  int optch;
  const char *optarg;
  while ((rv = apr_getopt_long(opt, opt_option, &optch, &optarg)) == APR_SUCCESS) {
    switch (optch) {
      case 'r':
        options->root_dir_path = optarg;
        break;
      case 'l':
        if (optarg) options->log_priority = (apr_int32_t)strtol(optarg, NULL, 10);
        break;
      case 'o':
        if (optarg) options->log_output = (apr_int32_t)strtol(optarg, NULL, 10);
        break;
      case 'h':
        usage();
        return FALSE;
      default:
        break;
    }
  }
  if (rv != APR_EOF) {
    usage();
    return FALSE;
  }
  return TRUE;
}

int main(int argc, const char *const *argv) {
  if (apr_initialize() != APR_SUCCESS) {
    apr_terminate();
    return 0;
  }
  apr_pool_t *pool = NULL;
  if (apr_pool_create(&pool, NULL) != APR_SUCCESS) {
    apr_terminate();
    return 0;
  }

  options_t *options = apr_pcalloc(pool, sizeof(*options));
  options->log_priority = APT_PRIO_INFO;
  options->log_output = APT_LOG_OUTPUT_CONSOLE;
  options->pool = pool;

  if (options_load(options, argc, argv)) {
    asr_engine_t *engine = asr_engine_create(options->root_dir_path, (apt_log_priority_e)options->log_priority,
                                             (apt_log_output_e)options->log_output);
    if (engine) {
      cmdline_run(engine, pool);
      asr_engine_destroy(engine);
    }
  }

  apr_pool_destroy(pool);
  apr_terminate();
  return 0;
}
