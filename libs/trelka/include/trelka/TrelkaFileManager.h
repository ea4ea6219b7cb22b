#ifndef TRELKA_FILE_MANAGER_H
#define TRELKA_FILE_MANAGER_H

#include <trelka/TrelkaLogFacility.h>
#include <trelka/TrelkaTimer.h>

#include <apr_pools.h>
#include <apr_time.h>

#include <cstdint>
#include <map>
#include <string>

namespace Trelka {

// One directory of files kept under a maximum age (one expiration timer per
// file) and a maximum count (oldest removed first). Not thread-safe: used,
// timers included, on the owner's event processor thread only.
class FileManager : public TimerHandler {
 public:
  class FileEntry {
   public:
    FileEntry(const std::string& name, apr_time_t time)
        : m_Name(name), m_Time(time), m_ExpirationTime(0), m_Reserved(0), m_pExpirationTimer(nullptr) {}
    virtual ~FileEntry() {}
    virtual void OnRegister(FileManager* /*manager*/) {}
    virtual void OnUnregister(FileManager* /*manager*/) {}

    std::string m_Name;  // without directory
    apr_time_t m_Time;   // creation time, or change time for files found at start
    apr_time_t m_ExpirationTime;
    int64_t m_Reserved;
    Timer* m_pExpirationTimer;  // null when none
  };

  typedef std::multimap<apr_time_t, FileEntry*> FileEntryMap;
  typedef std::map<Timer*, FileEntry*> ExpirationTimerMap;

  // The facility is kept by reference and must outlive the manager.
  explicit FileManager(const LogFacility& facility);
  // Stops the expiration timers and deletes the entries; files stay on disk.
  ~FileManager() override;

  void OnTimerStarted(Timer* timer) override;
  void OnTimerStopped(Timer* timer) override;
  void OnTimeoutElapsed(Timer* timer) override;

  // Creates the directory when missing, then adopts or purges the matching
  // files found in it.
  virtual bool LoadFileEntries();
  virtual void DestroyFileEntries();
  // Registers a completed file; may remove the oldest ones to honour the
  // count limit. time is in microseconds.
  virtual bool AddFileEntry(const std::string& name, long time);
  // Removes the file from disk and forgets it; false when not managed.
  virtual bool RemoveFileEntry(const std::string& name);
  virtual FileEntry* CreateFileEntry(const std::string& name, long time);
  virtual bool AddFileEntry(FileEntry* entry);
  // Stops its timer, deletes the file, OnUnregister; the entry stays listed.
  virtual bool RemoveFileEntry(FileEntry* entry);
  virtual bool RemoveManagedFile(const std::string& name);
  virtual void OnFileEntryChnage();

  // Ends with '/'.
  void SetDirectory(const std::string& path);
  const std::string& GetDirectory() const { return m_Directory; }
  void SetPurgeExisting(bool purge) { m_PurgeExisting = purge; }
  bool GetPurgeExisting() const { return m_PurgeExisting; }
  void SetShred(bool shred) { m_Shred = shred; }
  bool GetShred() const { return m_Shred; }
  // 0: no limit.
  void SetMaxFileCount(uint64_t count) { m_MaxFileCount = count; }
  uint64_t GetMaxFileCount() const { return m_MaxFileCount; }
  // Minutes; 0: no limit.
  void SetMaxFileAge(uint64_t minutes) { m_MaxFileAge = minutes; }
  uint64_t GetMaxFileAge() const { return m_MaxFileAge; }
  void SetFilePrefix(const std::string& prefix) { m_FilePrefix = prefix; }
  const std::string& GetFilePrefix() const { return m_FilePrefix; }
  void SetFileExtension(const std::string& ext) { m_FileExtension = ext; }
  const std::string& GetFileExtension() const { return m_FileExtension; }
  // Where expiration timers run; without it no timer is set.
  void SetTimerProcessor(AsyncEventTimerProcessor* processor) { m_pTimerProcessor = processor; }
  AsyncEventTimerProcessor* GetTimerProcessor() const { return m_pTimerProcessor; }
  const LogFacility& GetLogFacility() const { return *m_pLogFacility; }

  size_t GetFileEntryCount() const { return m_FileEntries.size(); }
  size_t GetExpirationTimerCount() const { return m_ExpirationTimers.size(); }
  const FileEntryMap& GetFileEntries() const { return m_FileEntries; }

 protected:
  bool PopulateFileEntries(apr_pool_t* pool);
  void CheckMaxFileCount(size_t n);
  bool AddExpirationTimer(Timer* timer, FileEntry* entry);
  bool RemoveExpirationTimer(Timer* timer);
  FileEntryMap::iterator FindFileEntry(FileEntry* entry);
  // Starts a one-shot expiration timer of `remaining` microseconds.
  bool SetExpirationTimer(FileEntry* entry, apr_time_t remaining);

  const LogFacility* m_pLogFacility;
  std::string m_Directory;
  bool m_PurgeExisting;
  bool m_Shred;
  uint64_t m_MaxFileCount;
  uint64_t m_MaxFileAge;
  std::string m_FilePrefix;
  std::string m_FileExtension;
  AsyncEventTimerProcessor* m_pTimerProcessor;
  ExpirationTimerMap m_ExpirationTimers;
  FileEntryMap m_FileEntries;

 private:
  FileManager(const FileManager&) = delete;
  FileManager& operator=(const FileManager&) = delete;
};

bool CheckForFile(const std::string& path);
bool RemoveFile(const std::string& path);
// Overwrites the file's bytes with zeros in place (no truncation or sync).
bool ShredFile(const std::string& path);
// Newest regular file (by change time) matching a wildcard pattern such as
// "dir/key-*.json".
bool SearchFile(const std::string& pattern, std::string& result);
// dir + "/" + prefix + "-" + random UUID-like hex + ext.
bool GenerateUniqueFilename(const std::string& dir, const std::string& prefix, const std::string& ext,
                            std::string& result);
// Creates (exclusively, mode 0664) and closes a file of such a name.
bool CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& ext,
                      std::string& result);

// Process-wide directory layout below one root.
class DirStructure {
 public:
  enum DirLabel {
    DIR_BIN = 0,
    DIR_LIB,
    DIR_CONF,
    DIR_DATA,
    DIR_MOD,
    DIR_VAR,
    DIR_LOG,
    DIR_EVENT,
    DIR_CACHE,
    DIR_STATUS,
    DIR_COUNT
  };

  // Null when an instance exists already.
  static DirStructure* CreateInstance(const std::string& root);
  static DirStructure* GetInstance() { return sm_pDirStructure; }
  static void DestroyInstance();

  const std::string& GetPath(DirLabel label) const { return m_Paths[label]; }
  // dir + ('/' unless dir is empty or ends with '/') + name.
  static bool AppendPath(const std::string& dir, const std::string& name, std::string& result);
  bool ComposePath(DirLabel label, const std::string& name, std::string& result) const;
  // Status directory + name + ".status".
  bool ComposeStatusFilePath(const std::string& name, std::string& result) const;

 private:
  explicit DirStructure(const std::string& root);
  void Load(const std::string& root);

  std::string m_Paths[DIR_COUNT];

  static DirStructure* sm_pDirStructure;
};

}  // namespace Trelka

#endif  // TRELKA_FILE_MANAGER_H
