#include <trelka/TrelkaLogFacility.h>

#include <apr_time.h>

#include <cstdio>

namespace Trelka {

static const std::string kLevelNames[] = {"EMERGENCY", "ALERT",  "CRITICAL", "ERROR",
                                          "WARNING",   "NOTICE", "INFO",     "DEBUG"};
static const std::string kLevelFormattedNames[] = {"EMERG  ", "ALERT  ", "CRITIC ", "ERROR  ",
                                                   "WARN   ", "NOTICE ", "INFO   ", "DEBUG  "};
static const int kLevelCount = 8;
static const char kGlobalFacilityName[] = "GLOBAL";

const std::string& GetLogLevelName(LogLevel level) { return kLevelNames[level]; }

const std::string& GetLogLevelFormattedName(LogLevel level) { return kLevelFormattedNames[level]; }

bool TranslateLogLevel(const std::string& name, LogLevel& level) {
  for (int i = 0; i < kLevelCount; ++i) {
    if (kLevelNames[i] == name) {
      level = static_cast<LogLevel>(i);
      return true;
    }
  }
  return false;
}

static LogLevel ConfiguredLevel(const std::string& name) {
  Logger* logger = Logger::GetInstance();
  if (!logger) return DEFAULT_LOG_LEVEL;
  return logger->GetFacilityConfig(name)->GetLevel();
}

LogFacility::LogFacility(const std::string& name) : m_Name(name), m_Level(ConfiguredLevel(name)) {}

LogFacility::LogFacility(const std::string& name, LogLevel level) : m_Name(name), m_Level(level) {}

LogFacilityConfig::~LogFacilityConfig() {
  for (LogFacilityConfig* child : m_Children) delete child;
}

LogFacilityConfig* LogFacilityConfig::FindChild(char key) const {
  for (LogFacilityConfig* child : m_Children) {
    if (child->m_Key == key) return child;
  }
  return nullptr;
}

LogFacilityConfig* LogFacilityConfig::AddChild(char key, LogLevel level) {
  LogFacilityConfig* child = new LogFacilityConfig(key, level);
  m_Children.push_back(child);
  return child;
}

void LogRecordEvent::Process() { m_pLogger->ProcessLogRecord(m_Record); }

// Opens a device added after the logger's thread started, on that thread.
class OpenDeviceEvent : public AsyncEvent {
 public:
  OpenDeviceEvent(Logger* logger, const std::string& name) : m_pLogger(logger), m_Name(name) {}
  void Process() override { m_pLogger->ProcessOpenDevice(m_Name); }

 private:
  Logger* m_pLogger;
  std::string m_Name;
};

std::atomic<Logger*> Logger::sm_pLogger(nullptr);
std::atomic<uint32_t> Logger::sm_RefCount(0);

Logger::Logger()
    : m_FacilityConfigRoot(0, DEFAULT_LOG_LEVEL),
      m_GlobalFacility(kGlobalFacilityName, DEFAULT_LOG_LEVEL),
      m_pProcessor(nullptr) {}

Logger::~Logger() {
  // Devices of a logger that never started were never handed to a thread.
  for (auto& item : m_Devices) delete item.second;
  m_Devices.clear();
}

Logger* Logger::CreateInstance() {
  if (sm_RefCount.fetch_add(1, std::memory_order_acq_rel) == 0 && !sm_pLogger.load(std::memory_order_acquire))
    sm_pLogger.store(new Logger(), std::memory_order_release);
  return sm_pLogger.load(std::memory_order_acquire);
}

void Logger::DestroyInstance() {
  uint32_t count = sm_RefCount.load(std::memory_order_acquire);
  while (count != 0) {
    if (sm_RefCount.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
      if (count == 1) {
        Logger* logger = sm_pLogger.load(std::memory_order_acquire);
        if (logger) {
          logger->Shutdown();
          sm_pLogger.store(nullptr, std::memory_order_release);
          delete logger;
        }
      }
      return;
    }
  }
}

bool Logger::Start() {
  if (m_pProcessor.load(std::memory_order_acquire)) return false;
  SoftEventProcessor* processor = new SoftEventProcessor();
  processor->AddObserver(this);
  if (!processor->Start()) {
    delete processor;
    return false;
  }
  m_pProcessor.store(processor, std::memory_order_release);
  return true;
}

bool Logger::Shutdown() {
  SoftEventProcessor* processor = m_pProcessor.load(std::memory_order_acquire);
  if (!processor) return false;
  processor->Shutdown(true);
  m_pProcessor.store(nullptr, std::memory_order_release);
  delete processor;
  return true;
}

bool Logger::AddLogDevice(LogDevice* device) {
  {
    std::lock_guard<std::mutex> lock(m_DeviceMutex);
    if (!m_Devices.emplace(device->GetName(), device).second) return false;
  }
  SoftEventProcessor* processor = m_pProcessor.load(std::memory_order_acquire);
  if (processor) {
    AsyncEvent* event = new OpenDeviceEvent(this, device->GetName());
    event->Ref();
    processor->PostEvent(event);
  }
  return true;
}

bool Logger::RemoveLogDevice(LogDevice* device) {
  std::lock_guard<std::mutex> lock(m_DeviceMutex);
  auto it = m_Devices.find(device->GetName());
  if (it == m_Devices.end()) return false;
  m_OpenDevices.erase(it->second);
  m_Devices.erase(it);
  return true;
}

void Logger::ProcessOpenDevice(const std::string& name) {
  std::lock_guard<std::mutex> lock(m_DeviceMutex);
  auto it = m_Devices.find(name);
  if (it != m_Devices.end() && m_OpenDevices.insert(it->second).second) it->second->Open();
}

bool Logger::AddFacilityConfig(const std::string& facility, const std::string& level) {
  LogLevel value;
  if (!TranslateLogLevel(level, value)) return false;
  if (facility == m_GlobalFacility.GetName()) {
    SetLogLevel(value);
    return true;
  }
  LogFacilityConfig* node = &m_FacilityConfigRoot;
  for (char key : facility) {
    LogFacilityConfig* child = node->FindChild(key);
    if (!child) child = node->AddChild(key, node->GetLevel());
    node = child;
  }
  node->SetLevel(value);
  node->SetConfigured();
  return true;
}

const LogFacilityConfig* Logger::GetFacilityConfig(const std::string& facility) const {
  // Intermediate nodes copy their parent's level when created; skipping them
  // keeps a later change of the root level effective for their names.
  const LogFacilityConfig* node = &m_FacilityConfigRoot;
  const LogFacilityConfig* match = node;
  for (char key : facility) {
    node = node->FindChild(key);
    if (!node) break;
    if (node->IsConfigured()) match = node;
  }
  return match;
}

void Logger::SetLogLevel(LogLevel level) {
  m_GlobalFacility.SetLevel(level);
  m_FacilityConfigRoot.SetLevel(level);
}

void Logger::PostLogRecord(const LogRecord& record) {
  SoftEventProcessor* processor = m_pProcessor.load(std::memory_order_acquire);
  if (!processor) return;
  AsyncEvent* event = new LogRecordEvent(this, record);
  event->Ref();
  processor->PostEvent(event);
}

void Logger::PostLogRecord(LogRecord&& record) {
  SoftEventProcessor* processor = m_pProcessor.load(std::memory_order_acquire);
  if (!processor) return;
  AsyncEvent* event = new LogRecordEvent(this, std::move(record));
  event->Ref();
  processor->PostEvent(event);
}

bool Logger::ProcessLogRecord(const LogRecord& record) {
  bool result = true;
  std::lock_guard<std::mutex> lock(m_DeviceMutex);
  for (auto& item : m_Devices) {
    if (!item.second->ProcessLogRecord(record)) result = false;
  }
  return result;
}

bool Logger::OnStart(SoftEventProcessor* /*processor*/) {
  std::lock_guard<std::mutex> lock(m_DeviceMutex);
  for (auto& item : m_Devices) {
    if (m_OpenDevices.insert(item.second).second) item.second->Open();
  }
  return true;
}

void Logger::OnShutdown(SoftEventProcessor* /*processor*/) {
  std::lock_guard<std::mutex> lock(m_DeviceMutex);
  for (auto& item : m_Devices) {
    item.second->Close();
    delete item.second;
  }
  m_Devices.clear();
  m_OpenDevices.clear();
}

// Characters in the buffer after a bounded formatting call.
static size_t FormattedSize(int size) {
  if (size <= 0) return 0;
  return static_cast<size_t>(size) < LOG_MESSAGE_BUFFER_SIZE ? static_cast<size_t>(size) : LOG_MESSAGE_BUFFER_SIZE - 1;
}

// Local time as "%4d-%02d-%02d %02d:%02d:%02d.%06d". The local-time breakdown
// of the current second is kept per thread: it costs more than the rest of a
// record, and local time only changes offset on whole seconds.
static void FormatTimeStamp(std::string& out) {
  thread_local apr_time_t cachedSecond = -1;
  thread_local char cachedPrefix[64];
  thread_local int cachedPrefixSize = 0;
  const apr_time_t now = apr_time_now();
  const apr_time_t second = apr_time_sec(now);
  if (second != cachedSecond) {
    apr_time_exp_t tm;
    if (apr_time_exp_lt(&tm, now) != APR_SUCCESS) {
      out.clear();
      return;
    }
    cachedPrefixSize = std::snprintf(cachedPrefix, sizeof(cachedPrefix), "%4d-%02d-%02d %02d:%02d:%02d",
                                    tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    cachedSecond = second;
  }
  char buffer[80];
  int size = std::snprintf(buffer, sizeof(buffer), "%.*s.%06d", cachedPrefixSize, cachedPrefix,
                          static_cast<int>(apr_time_usec(now)));
  out.assign(buffer, size > 0 ? static_cast<size_t>(size) : 0);
}

void PopulateLogRecord(LogRecord& record, const LogFacility& facility, int tag, LogLevel level, int /*reserved*/,
                       const char* file, int line, const char* format, va_list args) {
  record.m_File = file ? file : "";
  record.m_Level = level;
  record.m_Line = line;
  record.m_Facility = facility.GetName();
  record.m_Tag = tag;
  record.m_Reserved1 = 0;
  record.m_Reserved2 = 0;

  FormatTimeStamp(record.m_TimeStamp);
  char buffer[LOG_MESSAGE_BUFFER_SIZE];

  // The C library's formatter, not APR's: callers write printf formats (and
  // the compiler checks them as such), which APR's misreads for %zu or %lld.
  record.m_Message.assign(buffer, FormattedSize(std::vsnprintf(buffer, sizeof(buffer), format, args)));
}

static void PostRecord(const LogFacility& facility, int tag, LogLevel level, const char* file, int line,
                       const char* format, va_list args) {
  Logger* logger = Logger::GetInstance();
  if (!logger || !logger->IsStarted()) return;
  LogRecord record;
  PopulateLogRecord(record, facility, tag, level, 0, file, line, format, args);
  logger->PostLogRecord(std::move(record));
}

void Log(LogLevel level, const char* file, int line, const char* format, ...) {
  Logger* logger = Logger::GetInstance();
  if (!logger) return;
  const LogFacility& facility = logger->GetGlobalFacility();
  if (!facility.IsEnabled(level)) return;
  va_list args;
  va_start(args, format);
  PostRecord(facility, 0, level, file, line, format, args);
  va_end(args);
}

void FacilityLog(const LogFacility& facility, int tag, LogLevel level, int /*reserved*/, const char* file, int line,
                 const char* format, ...) {
  if (!facility.IsEnabled(level)) return;
  va_list args;
  va_start(args, format);
  PostRecord(facility, tag, level, file, line, format, args);
  va_end(args);
}

}  // namespace Trelka
