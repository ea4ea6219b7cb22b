#ifndef TRELKA_LOG_FACILITY_H
#define TRELKA_LOG_FACILITY_H

#include <trelka/TrelkaEventProcessor.h>

#include <atomic>
#include <cstdarg>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace Trelka {

// Same numbering as the host's log priorities; lower is more severe.
enum LogLevel {
  LOG_LEVEL_EMERGENCY = 0,
  LOG_LEVEL_ALERT = 1,
  LOG_LEVEL_CRITICAL = 2,
  LOG_LEVEL_ERROR = 3,
  LOG_LEVEL_WARNING = 4,
  LOG_LEVEL_NOTICE = 5,
  LOG_LEVEL_INFO = 6,
  LOG_LEVEL_DEBUG = 7
};

const LogLevel DEFAULT_LOG_LEVEL = LOG_LEVEL_INFO;
const size_t LOG_MESSAGE_BUFFER_SIZE = 1024;

// "EMERGENCY" ... "DEBUG"; level must be 0-7.
const std::string& GetLogLevelName(LogLevel level);
// Seven characters, space-padded: "EMERG  " ... "DEBUG  ".
const std::string& GetLogLevelFormattedName(LogLevel level);
// Exact, case-sensitive match of the names above; level untouched on failure.
bool TranslateLogLevel(const std::string& name, LogLevel& level);

// A named source of records with its own level.
class LogFacility {
 public:
  // Level from the logger's facility configuration (INFO without a logger).
  explicit LogFacility(const std::string& name);
  LogFacility(const std::string& name, LogLevel level);

  const std::string& GetName() const { return m_Name; }
  LogLevel GetLevel() const { return m_Level; }
  void SetLevel(LogLevel level) { m_Level = level; }
  // A record of this level is written.
  bool IsEnabled(LogLevel level) const { return level <= m_Level; }

 private:
  std::string m_Name;
  LogLevel m_Level;
};

// Node of the character tree of configured facility levels.
class LogFacilityConfig {
 public:
  LogFacilityConfig(char key, LogLevel level) : m_Key(key), m_Level(level), m_Configured(false) {}
  ~LogFacilityConfig();

  char GetKey() const { return m_Key; }
  LogLevel GetLevel() const { return m_Level; }
  void SetLevel(LogLevel level) { m_Level = level; }
  // Set for nodes that end a configured name; the others only lead there.
  bool IsConfigured() const { return m_Configured; }
  void SetConfigured() { m_Configured = true; }
  LogFacilityConfig* FindChild(char key) const;
  LogFacilityConfig* AddChild(char key, LogLevel level);

 private:
  LogFacilityConfig(const LogFacilityConfig&) = delete;
  LogFacilityConfig& operator=(const LogFacilityConfig&) = delete;

  char m_Key;
  LogLevel m_Level;
  bool m_Configured;
  std::list<LogFacilityConfig*> m_Children;  // owned
};

struct LogRecord {
  std::string m_TimeStamp;  // local "YYYY-MM-DD hh:mm:ss.uuuuuu"
  LogLevel m_Level = DEFAULT_LOG_LEVEL;
  std::string m_Facility;
  int32_t m_Tag = 0;
  std::string m_File;
  int32_t m_Line = 0;
  int32_t m_Reserved1 = 0;
  std::string m_Message;  // at most 1023 characters
  int32_t m_Reserved2 = 0;
};

// Destination of records; owned by the logger once added. Its methods run on
// the logger's thread only.
class LogDevice {
 public:
  // The facility name is the device's key in the logger.
  explicit LogDevice(const LogFacility& facility) : m_Facility(facility) {}
  virtual ~LogDevice() {}

  virtual bool Open() { return true; }
  virtual bool Close() { return true; }
  virtual bool ProcessLogRecord(const LogRecord& record) = 0;

  const LogFacility& GetFacility() const { return m_Facility; }
  const std::string& GetName() const { return m_Facility.GetName(); }

 private:
  LogFacility m_Facility;
};

class Logger;

class LogRecordEvent : public AsyncEvent {
 public:
  LogRecordEvent(Logger* logger, const LogRecord& record) : m_pLogger(logger), m_Record(record) {}
  LogRecordEvent(Logger* logger, LogRecord&& record) : m_pLogger(logger), m_Record(std::move(record)) {}
  void Process() override;

 private:
  Logger* m_pLogger;
  LogRecord m_Record;
};

// Process-wide asynchronous logger: callers format on their own thread, the
// logger's own processor hands each record to every device in name order.
class Logger : public SoftEventProcessor::Observer {
 public:
  // Counted: the first call creates the instance; every call returns it.
  static Logger* CreateInstance();
  static Logger* GetInstance() { return sm_pLogger.load(std::memory_order_acquire); }
  // The call that brings the count to 0 shuts the logger down and deletes it.
  static void DestroyInstance();

  bool Start();
  // Writes every record already posted, then closes and deletes the devices.
  bool Shutdown();
  bool IsStarted() const { return m_pProcessor.load(std::memory_order_acquire) != nullptr; }

  // Refused (and not taken over) when a device of that name exists.
  bool AddLogDevice(LogDevice* device);
  // Neither closes nor deletes the device; it belongs to the caller again.
  bool RemoveLogDevice(LogDevice* device);

  // Levels are configured before records are written from other threads.
  bool AddFacilityConfig(const std::string& facility, const std::string& level);
  // Node of the longest configured prefix of the name (the root when none),
  // whatever order the levels were configured in.
  const LogFacilityConfig* GetFacilityConfig(const std::string& facility) const;
  void SetLogLevel(LogLevel level);
  const LogFacility& GetGlobalFacility() const { return m_GlobalFacility; }

  // Any thread: copies the record into an event for the logger's thread.
  void PostLogRecord(const LogRecord& record);
  // Same, taking over the record's storage instead of copying it.
  void PostLogRecord(LogRecord&& record);
  // Logger thread: every device is called; false if any of them failed.
  bool ProcessLogRecord(const LogRecord& record);
  // Logger thread: opens a device added after the logger started, unless the
  // start already did.
  void ProcessOpenDevice(const std::string& name);

  bool OnStart(SoftEventProcessor* processor) override;
  void OnShutdown(SoftEventProcessor* processor) override;

 private:
  Logger();
  ~Logger() override;
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  LogFacilityConfig m_FacilityConfigRoot;
  LogFacility m_GlobalFacility;
  std::atomic<SoftEventProcessor*> m_pProcessor;
  std::mutex m_DeviceMutex;
  std::map<std::string, LogDevice*> m_Devices;  // guarded by m_DeviceMutex
  std::set<LogDevice*> m_OpenDevices;           // guarded by m_DeviceMutex

  static std::atomic<Logger*> sm_pLogger;
  static std::atomic<uint32_t> sm_RefCount;
};

// Records through the logger's global facility ("GLOBAL"). Without a started
// logger the record is dropped.
void Log(LogLevel level, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
// Records through a facility; `reserved` is not stored.
void FacilityLog(const LogFacility& facility, int tag, LogLevel level, int reserved, const char* file, int line,
                 const char* format, ...) __attribute__((format(printf, 7, 8)));
void PopulateLogRecord(LogRecord& record, const LogFacility& facility, int tag, LogLevel level, int reserved,
                       const char* file, int line, const char* format, va_list args)
    __attribute__((format(printf, 8, 0)));

}  // namespace Trelka

// The usual call: level filtered inline, source position filled in.
#define TRELKA_FLOG(facility, level, ...)                                                 \
  do {                                                                                      \
    if ((facility).IsEnabled(level))                                                        \
      ::Trelka::FacilityLog((facility), 0, (level), 0, __FILE__, __LINE__, __VA_ARGS__);    \
  } while (0)

#endif  // TRELKA_LOG_FACILITY_H
