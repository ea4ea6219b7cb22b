#include <trelka/TrelkaFileManager.h>

#include <apr_file_info.h>
#include <apr_file_io.h>
#include <apr_fnmatch.h>
#include <apr_general.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>

namespace Trelka {

static const apr_time_t kMicrosPerMinute = APR_USEC_PER_SEC * 60;

namespace {

// Takes the callbacks of expiration timers whose manager has gone while their
// stop is still pending.
class DetachedTimerHandler : public TimerHandler {
 public:
  void OnTimeoutElapsed(Timer* /*timer*/) override {}
};

DetachedTimerHandler g_DetachedTimerHandler;

// Scoped APR pool.
class TempPool {
 public:
  TempPool() {
    if (apr_pool_create(&m_pPool, nullptr) != APR_SUCCESS) m_pPool = nullptr;
  }
  ~TempPool() {
    if (m_pPool) apr_pool_destroy(m_pPool);
  }
  apr_pool_t* Get() const { return m_pPool; }

 private:
  apr_pool_t* m_pPool;
};

// Calls visit(name, change time) for each regular file of an open directory
// whose name matches the wildcard pattern.
void ForEachMatchingFile(apr_dir_t* dir, const std::string& pattern,
                         const std::function<void(const char*, apr_time_t)>& visit) {
  apr_finfo_t finfo;
  const apr_int32_t wanted = APR_FINFO_NAME | APR_FINFO_TYPE | APR_FINFO_CTIME;
  apr_status_t status;
  while ((status = apr_dir_read(&finfo, wanted, dir)) == APR_SUCCESS || status == APR_INCOMPLETE) {
    if ((finfo.valid & wanted) != wanted || finfo.filetype != APR_REG || !finfo.name) continue;
    if (apr_fnmatch(pattern.c_str(), finfo.name, 0) != APR_SUCCESS) continue;
    visit(finfo.name, finfo.ctime);
  }
}

}  // namespace

FileManager::FileManager(const LogFacility& facility)
    : m_pLogFacility(&facility),
      m_PurgeExisting(false),
      m_Shred(false),
      m_MaxFileCount(100),
      m_MaxFileAge(0),
      m_pTimerProcessor(nullptr) {}

FileManager::~FileManager() { FileManager::DestroyFileEntries(); }

void FileManager::SetDirectory(const std::string& path) {
  m_Directory = path.empty() ? "." : path;
  if (m_Directory.back() != '/') m_Directory += '/';
}

void FileManager::OnTimerStarted(Timer* /*timer*/) {}

void FileManager::OnTimerStopped(Timer* /*timer*/) {}

bool FileManager::LoadFileEntries() {
  TempPool pool;
  if (!pool.Get()) return false;
  apr_finfo_t finfo;
  if (apr_stat(&finfo, m_Directory.c_str(), APR_FINFO_TYPE, pool.Get()) != APR_SUCCESS || finfo.filetype != APR_DIR) {
    TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_INFO, "Create directory %s", m_Directory.c_str());
    // Owner execute too: without it nothing could be created in the directory.
    if (apr_dir_make_recursive(m_Directory.c_str(), APR_FPROT_UREAD | APR_FPROT_UWRITE | APR_FPROT_UEXECUTE,
                               pool.Get()) != APR_SUCCESS) {
      TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_WARNING, "Failed to create directory %s", m_Directory.c_str());
      return false;
    }
  }
  PopulateFileEntries(pool.Get());
  return true;
}

bool FileManager::PopulateFileEntries(apr_pool_t* pool) {
  apr_dir_t* dir;
  if (apr_dir_open(&dir, m_Directory.c_str(), pool) != APR_SUCCESS) return false;
  const std::string pattern = m_FilePrefix + "*" + m_FileExtension;
  TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_NOTICE,
              "Populate files from %s pattern [%s] max-count [%d] max-age [%d min] purge-existing [%d]",
              m_Directory.c_str(), pattern.c_str(), static_cast<int>(m_MaxFileCount), static_cast<int>(m_MaxFileAge),
              m_PurgeExisting ? 1 : 0);
  const apr_time_t maxAge = static_cast<apr_time_t>(m_MaxFileAge) * kMicrosPerMinute;
  const apr_time_t now = apr_time_now();
  ForEachMatchingFile(dir, pattern, [&](const char* fileName, apr_time_t changeTime) {
    const std::string name = fileName;
    TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_DEBUG, "Found file %s", name.c_str());
    if (m_PurgeExisting) {
      TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_NOTICE, "Remove file %s [purge existing]", name.c_str());
      RemoveManagedFile(name);
    } else if (maxAge && changeTime + maxAge <= now) {
      TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_NOTICE, "Remove file %s [max file age]", name.c_str());
      RemoveManagedFile(name);
    } else {
      FileEntry* entry = CreateFileEntry(name, static_cast<long>(changeTime));
      m_FileEntries.emplace(entry->m_Time, entry);
      entry->OnRegister(this);
    }
  });
  apr_dir_close(dir);
  CheckMaxFileCount(0);

  if (maxAge && m_pTimerProcessor) {
    for (auto& item : m_FileEntries) {
      FileEntry* entry = item.second;
      if (entry->m_pExpirationTimer) continue;
      entry->m_ExpirationTime = entry->m_Time + maxAge;
      apr_time_t remaining = entry->m_ExpirationTime - now;
      if (remaining < 0) remaining = 0;
      TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_DEBUG, "Set expiration timer for file %s [%lu min]", entry->m_Name.c_str(),
                  static_cast<unsigned long>(remaining / kMicrosPerMinute));
      SetExpirationTimer(entry, remaining);
    }
  }
  OnFileEntryChnage();
  return true;
}

bool FileManager::SetExpirationTimer(FileEntry* entry, apr_time_t remaining) {
  // At least 1 ms: a shorter timeout would be refused and never fire.
  int64_t timeout = remaining / 1000;
  if (timeout < 1) timeout = 1;
  Timer* timer = new Timer(this, timeout, Timer::OneShot, Timer::Dynamic);
  if (!AddExpirationTimer(timer, entry)) {
    delete timer;
    return false;
  }
  entry->m_pExpirationTimer = timer;
  timer->Start(m_pTimerProcessor);
  return true;
}

void FileManager::DestroyFileEntries() {
  for (auto& item : m_ExpirationTimers) {
    Timer* timer = item.first;
    // The stop may run after this manager is gone.
    timer->SetHandler(&g_DetachedTimerHandler);
    timer->Stop();
  }
  m_ExpirationTimers.clear();
  for (auto& item : m_FileEntries) delete item.second;
  m_FileEntries.clear();
}

bool FileManager::AddFileEntry(const std::string& name, long time) { return AddFileEntry(CreateFileEntry(name, time)); }

FileManager::FileEntry* FileManager::CreateFileEntry(const std::string& name, long time) {
  return new FileEntry(name, time);
}

bool FileManager::AddFileEntry(FileEntry* entry) {
  CheckMaxFileCount(1);
  m_FileEntries.emplace(entry->m_Time, entry);
  entry->OnRegister(this);
  if (m_MaxFileAge && m_pTimerProcessor) {
    const apr_time_t maxAge = static_cast<apr_time_t>(m_MaxFileAge) * kMicrosPerMinute;
    entry->m_ExpirationTime = entry->m_Time + maxAge;
    TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_DEBUG, "Set expiration timer for file %s [%lu min]", entry->m_Name.c_str(),
                static_cast<unsigned long>(m_MaxFileAge));
    SetExpirationTimer(entry, maxAge);
  }
  OnFileEntryChnage();
  return true;
}

bool FileManager::RemoveFileEntry(const std::string& name) {
  for (auto it = m_FileEntries.begin(); it != m_FileEntries.end(); ++it) {
    if (it->second->m_Name != name) continue;
    FileEntry* entry = it->second;
    RemoveFileEntry(entry);
    m_FileEntries.erase(it);
    delete entry;
    OnFileEntryChnage();
    return true;
  }
  return false;
}

bool FileManager::RemoveFileEntry(FileEntry* entry) {
  if (entry->m_pExpirationTimer) {
    Timer* timer = entry->m_pExpirationTimer;
    entry->m_pExpirationTimer = nullptr;
    RemoveExpirationTimer(timer);
    timer->Stop();
  }
  bool result = RemoveManagedFile(entry->m_Name);
  entry->OnUnregister(this);
  return result;
}

bool FileManager::RemoveManagedFile(const std::string& name) {
  const std::string path = m_Directory + name;
  if (m_Shred) ShredFile(path);
  return RemoveFile(path);
}

void FileManager::OnFileEntryChnage() {
  const int entries = static_cast<int>(m_FileEntries.size());
  const int timers = static_cast<int>(m_ExpirationTimers.size());
  const char* name = m_pLogFacility->GetName().c_str();
  TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_NOTICE, "%s total file entries [%d] timers [%d]", name, entries, timers);
  if (m_MaxFileAge && entries != timers)
    TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_WARNING, "Mismatch in %s total file entries [%d] timers [%d]", name,
                entries, timers);
}

void FileManager::CheckMaxFileCount(size_t n) {
  if (!m_MaxFileCount) return;
  const uint64_t wanted = m_FileEntries.size() + n;
  if (wanted <= m_MaxFileCount) return;
  uint64_t excess = wanted - m_MaxFileCount;
  while (excess-- && !m_FileEntries.empty()) {
    auto it = m_FileEntries.begin();
    FileEntry* entry = it->second;
    TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_NOTICE, "Remove file %s [max file count]", entry->m_Name.c_str());
    RemoveFileEntry(entry);
    m_FileEntries.erase(it);
    delete entry;
  }
}

void FileManager::OnTimeoutElapsed(Timer* timer) {
  auto timerIt = m_ExpirationTimers.find(timer);
  if (timerIt == m_ExpirationTimers.end()) return;
  FileEntry* entry = timerIt->second;
  if (entry->m_pExpirationTimer != timer) {
    TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_WARNING, "Mismatch in expired timer for %s", entry->m_Name.c_str());
    // The entry's own timer must not outlive the entry.
    if (entry->m_pExpirationTimer) {
      Timer* other = entry->m_pExpirationTimer;
      RemoveExpirationTimer(other);
      other->Stop();
    }
  }
  entry->m_pExpirationTimer = nullptr;
  m_ExpirationTimers.erase(timerIt);
  delete timer;
  TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_NOTICE, "Remove file %s [timed out]", entry->m_Name.c_str());
  auto it = FindFileEntry(entry);
  if (it == m_FileEntries.end()) {
    TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_WARNING, "Failed to remove file %s", entry->m_Name.c_str());
  } else {
    RemoveFileEntry(entry);
    m_FileEntries.erase(it);
    delete entry;
  }
  OnFileEntryChnage();
}

bool FileManager::AddExpirationTimer(Timer* timer, FileEntry* entry) {
  if (!m_ExpirationTimers.emplace(timer, entry).second) {
    TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_WARNING, "Failed to add expiration timer %s", entry->m_Name.c_str());
    return false;
  }
  return true;
}

bool FileManager::RemoveExpirationTimer(Timer* timer) {
  if (m_ExpirationTimers.erase(timer) == 0) {
    TRELKA_FLOG(*m_pLogFacility, LOG_LEVEL_WARNING, "Failed to remove expiration timer");
    return false;
  }
  return true;
}

FileManager::FileEntryMap::iterator FileManager::FindFileEntry(FileEntry* entry) {
  auto range = m_FileEntries.equal_range(entry->m_Time);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == entry) return it;
  }
  return m_FileEntries.end();
}

bool CheckForFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool ShredFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  static const char zeros[4096] = {0};
  off_t written = 0;
  ssize_t result = 0;
  while (written < st.st_size) {
    off_t left = st.st_size - written;
    size_t block = left < static_cast<off_t>(sizeof(zeros)) ? static_cast<size_t>(left) : sizeof(zeros);
    result = write(fd, zeros, block);
    if (result <= 0) break;
    written += result;
  }
  close(fd);
  return result >= 0;
}

bool SearchFile(const std::string& pattern, std::string& result) {
  std::string::size_type pos = pattern.rfind('/');
  if (pos == std::string::npos) pos = pattern.rfind('\\');
  const std::string dirPath = pos == std::string::npos ? "." : pattern.substr(0, pos);
  const std::string namePattern = pos == std::string::npos ? pattern : pattern.substr(pos + 1);
  TempPool pool;
  if (!pool.Get()) return false;
  apr_dir_t* dir;
  if (apr_dir_open(&dir, dirPath.empty() ? "/" : dirPath.c_str(), pool.Get()) != APR_SUCCESS) return false;
  std::string best;
  apr_time_t bestTime = 0;
  bool found = false;
  ForEachMatchingFile(dir, namePattern, [&](const char* name, apr_time_t changeTime) {
    // The first one found wins a tie.
    if (!found || changeTime > bestTime) {
      best = name;
      bestTime = changeTime;
      found = true;
    }
  });
  apr_dir_close(dir);
  if (!found) return false;
  char* merged;
  if (apr_filepath_merge(&merged, dirPath.empty() ? "/" : dirPath.c_str(), best.c_str(), APR_FILEPATH_NATIVE,
                         pool.Get()) != APR_SUCCESS)
    return false;
  result = merged;
  return true;
}

bool GenerateUniqueFilename(const std::string& dir, const std::string& prefix, const std::string& ext,
                            std::string& result) {
  unsigned char b[16];
  if (apr_generate_random_bytes(b, sizeof(b)) != APR_SUCCESS) return false;
  char uuid[40];
  std::snprintf(uuid, sizeof(uuid), "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  result = dir + "/" + prefix + "-" + uuid + ext;
  return true;
}

bool CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& ext,
                      std::string& result) {
  for (;;) {
    std::string path;
    if (!GenerateUniqueFilename(dir, prefix, ext, path)) return false;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0664);
    if (fd >= 0) {
      close(fd);
      result = path;
      return true;
    }
    if (errno != EEXIST) return false;
  }
}

DirStructure* DirStructure::sm_pDirStructure = nullptr;

DirStructure::DirStructure(const std::string& root) { Load(root); }

DirStructure* DirStructure::CreateInstance(const std::string& root) {
  if (sm_pDirStructure) return nullptr;
  sm_pDirStructure = new DirStructure(root);
  return sm_pDirStructure;
}

void DirStructure::DestroyInstance() {
  delete sm_pDirStructure;
  sm_pDirStructure = nullptr;
}

void DirStructure::Load(const std::string& root) {
  static const char* const kRootDirs[] = {"bin", "lib", "conf", "data", "mod", "var"};
  static const char* const kVarDirs[] = {"log", "event", "cache", "status"};
  int label = 0;
  for (const char* name : kRootDirs) AppendPath(root, name, m_Paths[label++]);
  const std::string& var = m_Paths[DIR_VAR];
  for (const char* name : kVarDirs) AppendPath(var, name, m_Paths[label++]);
}

bool DirStructure::AppendPath(const std::string& dir, const std::string& name, std::string& result) {
  result = dir;
  if (!dir.empty() && dir.back() != '/') result += '/';
  result += name;
  return true;
}

bool DirStructure::ComposePath(DirLabel label, const std::string& name, std::string& result) const {
  if (label < 0 || label >= DIR_COUNT) return false;
  return AppendPath(m_Paths[label], name, result);
}

bool DirStructure::ComposeStatusFilePath(const std::string& name, std::string& result) const {
  return ComposePath(DIR_STATUS, name + ".status", result);
}

}  // namespace Trelka
