// The process logger. One instance per process; plugins reach it through this library, so the
// host program and every plugin write through the same object.
#include <strings.h>
#include <sys/time.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mrcphost/host_apt.h"

struct apt_logger_t {
  std::mutex mu;
  apt_log_output_e mode = APT_LOG_OUTPUT_CONSOLE;  // guarded by mu
  FILE *file = nullptr;                            // guarded by mu
  apt_log_ext_handler_f ext_handler = nullptr;     // guarded by mu
  void *ext_obj = nullptr;                         // guarded by mu
  std::atomic<bool> mark{false};
  std::atomic<int> priority{APT_PRIO_INFO};
};

namespace {

const char *const kPriorityNames[] = {"EMERGENCY", "ALERT", "CRITICAL", "ERROR",
                                      "WARNING",   "NOTICE", "INFO",     "DEBUG"};

// The logger is never freed: records may still be written by threads of a plugin while the host
// tears down, and a static object cannot dangle. "Destroy" only closes its outputs.
apt_logger_t g_logger_storage;
std::atomic<apt_logger_t *> g_logger{nullptr};

apt_log_source_t g_host_source = {"HOST", APT_PRIO_INFO};
std::atomic<apt_log_source_t *> g_default_source{&g_host_source};

// Sources live as long as the process: plugins keep pointers to them.
std::mutex g_sources_mu;
std::map<std::string, std::unique_ptr<apt_log_source_t>> &Sources() {  // guarded by g_sources_mu
  static auto *sources = new std::map<std::string, std::unique_ptr<apt_log_source_t>>();
  return *sources;
}
std::vector<std::unique_ptr<std::string>> &SourceNames() {  // guarded by g_sources_mu
  static auto *names = new std::vector<std::unique_ptr<std::string>>();
  return *names;
}

int LoadPriority(const apt_log_source_t *source) {
  return __atomic_load_n(reinterpret_cast<const int *>(&source->priority), __ATOMIC_RELAXED);
}
void StorePriority(apt_log_source_t *source, int priority) {
  __atomic_store_n(reinterpret_cast<int *>(&source->priority), priority, __ATOMIC_RELAXED);
}

apt_log_priority_e ClampPriority(int priority) {
  if (priority < APT_PRIO_EMERGENCY) return APT_PRIO_EMERGENCY;
  if (priority > APT_PRIO_DEBUG) return APT_PRIO_DEBUG;
  return static_cast<apt_log_priority_e>(priority);
}

const char *BaseName(const char *path) {
  if (!path) return "";
  const char *slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

void FormatTime(char *out, size_t size) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  localtime_r(&tv.tv_sec, &tm);
  snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d.%06ld", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
           tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long>(tv.tv_usec));
}

}  // namespace

extern "C" {

apt_bool_t apt_va_log(apt_log_source_t *source, const char *file, int line, apt_log_priority_e priority,
                      const char *format, va_list args) {
  apt_logger_t *logger = g_logger.load(std::memory_order_acquire);
  if (!logger || !format) return FALSE;
  apt_log_source_t *src = source ? source : g_default_source.load(std::memory_order_acquire);
  int threshold = src ? LoadPriority(src) : logger->priority.load(std::memory_order_relaxed);
  if (static_cast<int>(priority) > threshold) return FALSE;
  priority = ClampPriority(priority);

  char stack_text[1024];
  std::string heap_text;
  const char *text = stack_text;
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(stack_text, sizeof(stack_text), format, copy);
  va_end(copy);
  if (n < 0) {
    text = "(bad log format)";
  } else if (static_cast<size_t>(n) >= sizeof(stack_text)) {
    heap_text.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&heap_text[0], heap_text.size(), format, args);
    heap_text.resize(static_cast<size_t>(n));
    text = heap_text.c_str();
  }

  char stamp[100];
  FormatTime(stamp, sizeof(stamp));
  const char *source_name = src && src->name ? src->name : "";
  char mark[160] = "";
  if (logger->mark.load(std::memory_order_relaxed)) snprintf(mark, sizeof(mark), " [%s:%d]", BaseName(file), line);

  std::lock_guard<std::mutex> lock(logger->mu);
  if (logger->mode & APT_LOG_OUTPUT_CONSOLE) {
    fprintf(stderr, "%s [%s] [%s] %s%s\n", stamp, kPriorityNames[priority], source_name, text, mark);
  }
  if ((logger->mode & APT_LOG_OUTPUT_FILE) && logger->file) {
    fprintf(logger->file, "%s [%s] [%s] %s%s\n", stamp, kPriorityNames[priority], source_name, text, mark);
    fflush(logger->file);
  }
  if (logger->ext_handler) logger->ext_handler(source_name, file, line, priority, text, logger->ext_obj);
  return TRUE;
}

apt_bool_t apt_log(apt_log_source_t *source, const char *file, int line, apt_log_priority_e priority,
                   const char *format, ...) {
  va_list args;
  va_start(args, format);
  apt_bool_t written = apt_va_log(source, file, line, priority, format, args);
  va_end(args);
  return written;
}

apt_bool_t apt_log_instance_set(apt_logger_t *logger) {
  g_logger.store(logger, std::memory_order_release);
  return TRUE;
}

apt_logger_t *apt_log_instance_get(void) { return g_logger.load(std::memory_order_acquire); }

void apt_def_log_source_set(apt_log_source_t *source) {
  g_default_source.store(source ? source : &g_host_source, std::memory_order_release);
}

apt_log_source_t *apt_def_log_source_get(void) { return g_default_source.load(std::memory_order_acquire); }

apt_bool_t apt_log_source_assign(const char *name, apt_log_source_t **source) {
  if (!name || !source) return FALSE;
  std::lock_guard<std::mutex> lock(g_sources_mu);
  auto &sources = Sources();
  auto it = sources.find(name);
  if (it == sources.end()) {
    SourceNames().push_back(std::make_unique<std::string>(name));
    auto created = std::make_unique<apt_log_source_t>();
    created->name = SourceNames().back()->c_str();
    created->priority = static_cast<apt_log_priority_e>(g_logger_storage.priority.load(std::memory_order_relaxed));
    it = sources.emplace(name, std::move(created)).first;
  }
  *source = it->second.get();
  return TRUE;
}

apt_log_priority_e apt_log_priority_translate(const char *str) {
  if (!str) return APT_PRIO_DEBUG;
  if (str[0] >= '0' && str[0] <= '7' && str[1] == '\0') return static_cast<apt_log_priority_e>(str[0] - '0');
  for (int i = 0; i <= APT_PRIO_DEBUG; ++i) {
    if (strcasecmp(str, kPriorityNames[i]) == 0) return static_cast<apt_log_priority_e>(i);
  }
  return APT_PRIO_DEBUG;
}

const char *apt_log_priority_name(apt_log_priority_e priority) {
  if (priority < APT_PRIO_EMERGENCY || priority > APT_PRIO_DEBUG) return "UNKNOWN";
  return kPriorityNames[priority];
}

apt_logger_t *apt_log_instance_create(apt_log_output_e mode, apt_log_priority_e priority, apr_pool_t *) {
  apt_logger_t *logger = &g_logger_storage;
  {
    std::lock_guard<std::mutex> lock(logger->mu);
    logger->mode = mode;
    logger->ext_handler = nullptr;
    logger->ext_obj = nullptr;
  }
  logger->mark.store(false);
  apt_log_priority_set(priority);
  apt_log_instance_set(logger);
  return logger;
}

apt_bool_t apt_log_instance_destroy(void) {
  apt_logger_t *logger = g_logger.exchange(nullptr);
  if (!logger) return FALSE;
  std::lock_guard<std::mutex> lock(logger->mu);
  if (logger->file) {
    fclose(logger->file);
    logger->file = nullptr;
  }
  logger->ext_handler = nullptr;
  return TRUE;
}

apt_bool_t apt_log_file_open(const char *path, apr_pool_t *) {
  if (!path) return FALSE;
  FILE *file = fopen(path, "a");
  if (!file) return FALSE;
  apt_logger_t *logger = &g_logger_storage;
  std::lock_guard<std::mutex> lock(logger->mu);
  if (logger->file) fclose(logger->file);
  logger->file = file;
  return TRUE;
}

apt_bool_t apt_log_priority_set(apt_log_priority_e priority) {
  priority = ClampPriority(priority);
  g_logger_storage.priority.store(priority, std::memory_order_relaxed);
  StorePriority(&g_host_source, priority);
  apt_log_source_t *def = g_default_source.load(std::memory_order_acquire);
  if (def) StorePriority(def, priority);
  return TRUE;
}

apt_log_priority_e apt_log_priority_get(void) {
  return static_cast<apt_log_priority_e>(g_logger_storage.priority.load(std::memory_order_relaxed));
}

apt_bool_t apt_log_output_mode_set(apt_log_output_e mode) {
  std::lock_guard<std::mutex> lock(g_logger_storage.mu);
  g_logger_storage.mode = mode;
  return TRUE;
}

apt_bool_t apt_log_ext_handler_set(apt_log_ext_handler_f handler, void *obj) {
  std::lock_guard<std::mutex> lock(g_logger_storage.mu);
  g_logger_storage.ext_handler = handler;
  g_logger_storage.ext_obj = obj;
  return TRUE;
}

apt_bool_t apt_log_mark_set(apt_bool_t on) {
  g_logger_storage.mark.store(on != FALSE);
  return TRUE;
}

apt_bool_t apt_log_source_priority_set(const char *name, apt_log_priority_e priority) {
  apt_log_source_t *source = nullptr;
  if (!apt_log_source_assign(name, &source)) return FALSE;
  StorePriority(source, ClampPriority(priority));
  return TRUE;
}

}  // extern "C"
