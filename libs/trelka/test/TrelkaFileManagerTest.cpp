#include "TrelkaTestSupport.h"

#include <trelka/TrelkaFileManager.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

using namespace Trelka;
using namespace TrelkaTest;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

apr_time_t ChangeTime(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return apr_time_from_sec(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec / 1000;
}

// Scratch directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/trelka-fm-XXXXXX";
    m_Path = mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + m_Path + "'").c_str()); }
  std::string Path(const std::string& name) const { return m_Path + "/" + name; }
  const std::string& Get() const { return m_Path; }

  // Each file gets a change time later than the previous one's; the file
  // system clock is coarse, so the touch is repeated until it moves on.
  std::string Make(const std::string& name, const std::string& content = "data") {
    std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << content;
    while (ChangeTime(path) <= m_LastChange) {
      std::this_thread::yield();
      chmod(path.c_str(), 0644);
    }
    m_LastChange = ChangeTime(path);
    return path;
  }

 private:
  std::string m_Path;
  apr_time_t m_LastChange = 0;
};

class CountingEntry : public FileManager::FileEntry {
 public:
  CountingEntry(const std::string& name, apr_time_t time, std::vector<std::string>* journal)
      : FileEntry(name, time), m_pJournal(journal) {}
  void OnRegister(FileManager*) override { m_pJournal->push_back("register:" + m_Name); }
  void OnUnregister(FileManager*) override { m_pJournal->push_back("unregister:" + m_Name); }

 private:
  std::vector<std::string>* m_pJournal;
};

class TestManager : public FileManager {
 public:
  explicit TestManager(const LogFacility& facility) : FileManager(facility) {}
  FileEntry* CreateFileEntry(const std::string& name, long time) override {
    return new CountingEntry(name, time, &m_Journal);
  }
  std::vector<std::string> m_Journal;
};

class FileManagerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Logger* logger = Logger::CreateInstance();
    logger->AddLogDevice(new CapturingLogDevice("CAP", m_Sink));
    ASSERT_TRUE(logger->Start());
    m_Clock.Install(m_Processor.GetTimerQueue());
    m_Manager.reset(new TestManager(m_Facility));
    m_Manager->SetDirectory(m_Dir.Get());
    m_Manager->SetFilePrefix("oxa-");
    m_Manager->SetFileExtension(".wav");
  }
  void TearDown() override {
    m_Manager.reset();
    m_Processor.RunPending();
    Logger::DestroyInstance();
  }
  bool Logged(const std::string& level, const std::string& message) {
    return m_Sink->m_Messages.WaitFor("UTTM|" + level + "|" + message);
  }
  void RunClock(int64_t ms) {
    m_Processor.RunPending();
    m_Clock.AdvanceMs(ms);
    ASSERT_TRUE(m_Processor.GetTimerQueue()->Advance());
    m_Processor.RunPending();
  }

  std::shared_ptr<LogSink> m_Sink = std::make_shared<LogSink>();
  LogFacility m_Facility{"UTTM", LOG_LEVEL_DEBUG};
  TempDir m_Dir;
  ManualProcessor m_Processor;
  FakeClock m_Clock;
  std::unique_ptr<TestManager> m_Manager;
};

TEST_F(FileManagerFixture, StartScanKeepsTheNewestWithinTheCount) {
  for (int i = 1; i <= 5; ++i) m_Dir.Make("oxa-" + std::to_string(i) + ".wav");
  m_Dir.Make("other-1.wav");
  m_Manager->SetMaxFileCount(3);
  ASSERT_TRUE(m_Manager->LoadFileEntries());
  EXPECT_FALSE(CheckForFile(m_Dir.Path("oxa-1.wav")));
  EXPECT_FALSE(CheckForFile(m_Dir.Path("oxa-2.wav")));
  for (const char* kept : {"oxa-3.wav", "oxa-4.wav", "oxa-5.wav", "other-1.wav"})
    EXPECT_TRUE(CheckForFile(m_Dir.Path(kept))) << kept;
  EXPECT_EQ(m_Manager->GetFileEntryCount(), 3u);
  EXPECT_TRUE(Logged("NOTICE", "Remove file oxa-1.wav [max file count]"));
  EXPECT_TRUE(Logged("NOTICE", "Remove file oxa-2.wav [max file count]"));
  EXPECT_TRUE(Logged("DEBUG", "Found file oxa-5.wav"));
  EXPECT_TRUE(Logged("NOTICE", "Populate files from " + m_Dir.Get() +
                                   "/ pattern [oxa-*.wav] max-count [3] max-age [0 min] purge-existing [0]"));
  EXPECT_TRUE(Logged("NOTICE", "UTTM total file entries [3] timers [0]"));
  std::multiset<std::string> journal(m_Manager->m_Journal.begin(), m_Manager->m_Journal.end());
  EXPECT_EQ(journal.count("register:oxa-1.wav"), 1u);
  EXPECT_EQ(journal.count("unregister:oxa-1.wav"), 1u);
  EXPECT_EQ(journal.count("unregister:oxa-3.wav"), 0u);
}

TEST_F(FileManagerFixture, PurgeRemovesOnlyMatchingRegularFiles) {
  m_Dir.Make("oxa-a.wav");
  m_Dir.Make("oxa-b.wav");
  m_Dir.Make("oxb-a.wav");
  m_Dir.Make("oxa-a.raw");
  mkdir(m_Dir.Path("oxa-dir.wav").c_str(), 0755);
  m_Manager->SetPurgeExisting(true);
  ASSERT_TRUE(m_Manager->LoadFileEntries());
  EXPECT_FALSE(CheckForFile(m_Dir.Path("oxa-a.wav")));
  EXPECT_FALSE(CheckForFile(m_Dir.Path("oxa-b.wav")));
  EXPECT_TRUE(CheckForFile(m_Dir.Path("oxb-a.wav")));
  EXPECT_TRUE(CheckForFile(m_Dir.Path("oxa-a.raw")));
  EXPECT_TRUE(CheckForFile(m_Dir.Path("oxa-dir.wav")));
  EXPECT_EQ(m_Manager->GetFileEntryCount(), 0u);
  EXPECT_TRUE(Logged("NOTICE", "Remove file oxa-a.wav [purge existing]"));
}

TEST_F(FileManagerFixture, MissingDirectoryIsCreatedUsable) {
  std::string nested = m_Dir.Path("a/b/c");
  m_Manager->SetDirectory(nested);
  EXPECT_EQ(m_Manager->GetDirectory(), nested + "/");
  ASSERT_TRUE(m_Manager->LoadFileEntries());
  EXPECT_TRUE(Logged("INFO", "Create directory " + nested + "/"));
  struct stat st;
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  // Owner must be able to enter it, not only to list it.
  EXPECT_EQ(st.st_mode & S_IRWXU, static_cast<mode_t>(S_IRWXU));
}

TEST_F(FileManagerFixture, UncreatableDirectoryFails) {
  std::string blocker = m_Dir.Make("plain-file");
  m_Manager->SetDirectory(blocker + "/sub");
  EXPECT_FALSE(m_Manager->LoadFileEntries());
  EXPECT_TRUE(Logged("WARNING", "Failed to create directory " + blocker + "/sub/"));
}

TEST_F(FileManagerFixture, AddingBeyondTheCountRemovesTheOldest) {
  m_Manager->SetMaxFileCount(3);
  ASSERT_TRUE(m_Manager->LoadFileEntries());
  const char* names[] = {"oxa-1.wav", "oxa-2.wav", "oxa-3.wav", "oxa-4.wav"};
  apr_time_t now = apr_time_now();
  // Registered out of time order: the oldest by time goes first.
  long times[] = {now + 2, now + 1, now + 3, now + 4};
  for (int i = 0; i < 4; ++i) {
    m_Dir.Make(names[i]);
    ASSERT_TRUE(m_Manager->AddFileEntry(names[i], times[i]));
  }
  EXPECT_TRUE(CheckForFile(m_Dir.Path("oxa-1.wav")));
  EXPECT_FALSE(CheckForFile(m_Dir.Path("oxa-2.wav")));
  EXPECT_EQ(m_Manager->GetFileEntryCount(), 3u);
  EXPECT_TRUE(Logged("NOTICE", "Remove file oxa-2.wav [max file count]"));
  EXPECT_TRUE(Logged("NOTICE", "UTTM total file entries [3] timers [0]"));
}

TEST_F(FileManagerFixture, AddedFileExpiresAfterMaxAge) {
  m_Manager->SetMaxFileAge(1);
  m_Manager->SetTimerProcessor(&m_Processor);
  ASSERT_TRUE(m_Manager->LoadFileEntries());
  m_Dir.Make("oxa-x.wav");
  ASSERT_TRUE(m_Manager->AddFileEntry("oxa-x.wav", apr_time_now()));
  EXPECT_EQ(m_Manager->GetExpirationTimerCount(), 1u);
  EXPECT_TRUE(Logged("DEBUG", "Set expiration timer for file oxa-x.wav [1 min]"));
  RunClock(59999);
  EXPECT_TRUE(CheckForFile(m_Dir.Path("oxa-x.wav")));
  RunClock(1);
  EXPECT_FALSE(CheckForFile(m_Dir.Path("oxa-x.wav")));
  EXPECT_EQ(m_Manager->GetFileEntryCount(), 0u);
  EXPECT_EQ(m_Manager->GetExpirationTimerCount(), 0u);
  EXPECT_TRUE(m_Processor.GetTimerQueue()->IsEmpty());
  EXPECT_TRUE(Logged("NOTICE", "Remove file oxa-x.wav [timed out]"));
  EXPECT_TRUE(Logged("NOTICE", "UTTM total file entries [0] timers [0]"));
}

TEST_F(FileManagerFixture, AdoptedFilesGetTheirRemainingAge) {
  m_Dir.Make("oxa-old.wav");
  m_Manager->SetMaxFileAge(1);
  m_Manager->SetTimerProcessor(&m_Processor);
  ASSERT_TRUE(m_Manager->LoadFileEntries());
  EXPECT_EQ(m_Manager->GetExpirationTimerCount(), 1u);
  EXPECT_TRUE(Logged("DEBUG", "Set expiration timer for file oxa-old.wav [0 min]"));
  RunClock(60000);
  EXPECT_FALSE(CheckForFile(m_Dir.Path("oxa-old.wav")));
  EXPECT_EQ(m_Manager->GetFileEntryCount(), 0u);
}

TEST_F(FileManagerFixture, RemovingByNameStopsTheTimerAndOnlyTouchesManagedFiles) {
  m_Manager->SetMaxFileAge(1);
  m_Manager->SetTimerProcessor(&m_Processor);
  ASSERT_TRUE(m_Manager->LoadFileEntries());
  m_Dir.Make("oxa-m.wav");
  std::string stranger = m_Dir.Make("oxa-stranger.wav");
  ASSERT_TRUE(m_Manager->AddFileEntry("oxa-m.wav", apr_time_now()));
  m_Processor.RunPending();
  EXPECT_FALSE(m_Manager->RemoveFileEntry("oxa-stranger.wav"));
  EXPECT_TRUE(CheckForFile(stranger));
  EXPECT_TRUE(m_Manager->RemoveFileEntry("oxa-m.wav"));
  EXPECT_FALSE(CheckForFile(m_Dir.Path("oxa-m.wav")));
  EXPECT_EQ(m_Manager->GetExpirationTimerCount(), 0u);
  m_Processor.RunPending();
  EXPECT_TRUE(m_Processor.GetTimerQueue()->IsEmpty());
  EXPECT_EQ(m_Manager->m_Journal.back(), "unregister:oxa-m.wav");
}

TEST_F(FileManagerFixture, ShredZeroesTheBytesBeforeUnlinking) {
  ASSERT_TRUE(m_Manager->LoadFileEntries());
  m_Manager->SetShred(true);
  const std::string content(10000, 'S');
  std::string path = m_Dir.Make("oxa-secret.wav", content);
  // A second link keeps the inode readable after the manager unlinks its name.
  std::string witness = m_Dir.Path("witness");
  ASSERT_EQ(link(path.c_str(), witness.c_str()), 0);
  ASSERT_TRUE(m_Manager->AddFileEntry("oxa-secret.wav", apr_time_now()));
  ASSERT_TRUE(m_Manager->RemoveFileEntry("oxa-secret.wav"));
  EXPECT_FALSE(CheckForFile(path));
  EXPECT_EQ(ReadFile(witness), std::string(content.size(), '\0'));
}

TEST_F(FileManagerFixture, DestroyKeepsFilesAndOutlivesPendingStops) {
  m_Manager->SetMaxFileAge(5);
  m_Manager->SetTimerProcessor(&m_Processor);
  ASSERT_TRUE(m_Manager->LoadFileEntries());
  m_Dir.Make("oxa-keep.wav");
  ASSERT_TRUE(m_Manager->AddFileEntry("oxa-keep.wav", apr_time_now()));
  m_Processor.RunPending();
  m_Manager.reset();       // stops its timer: the stop is still pending
  m_Processor.RunPending();  // runs it after the manager is gone
  EXPECT_TRUE(m_Processor.GetTimerQueue()->IsEmpty());
  EXPECT_TRUE(CheckForFile(m_Dir.Path("oxa-keep.wav")));
}

TEST(FileUtilities, ShredFileOverwritesInPlace) {
  TempDir dir;
  std::string path = dir.Make("f", std::string(5000, 'x'));
  EXPECT_TRUE(ShredFile(path));
  EXPECT_EQ(ReadFile(path), std::string(5000, '\0'));
  EXPECT_FALSE(ShredFile(dir.Path("missing")));
  EXPECT_TRUE(RemoveFile(path));
  EXPECT_FALSE(RemoveFile(path));
  EXPECT_FALSE(CheckForFile(path));
}

TEST(FileUtilities, SearchFileFindsTheNewestMatch) {
  TempDir dir;
  dir.Make("key-a.json");
  dir.Make("key-b.json");
  dir.Make("key-c.txt");
  std::string result;
  ASSERT_TRUE(SearchFile(dir.Path("key-*.json"), result));
  EXPECT_EQ(result, dir.Path("key-b.json"));
  EXPECT_FALSE(SearchFile(dir.Path("nokey-*.json"), result));
  EXPECT_FALSE(SearchFile(dir.Path("missing/key-*.json"), result));
}

TEST(FileUtilities, UniqueNames) {
  TempDir dir;
  std::string name;
  ASSERT_TRUE(GenerateUniqueFilename(dir.Get(), "rec", ".json", name));
  EXPECT_TRUE(std::regex_match(name, std::regex(dir.Get() + "/rec-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-"
                                                            "[0-9a-f]{12}\\.json")))
      << name;
  std::string first, second;
  ASSERT_TRUE(CreateUniqueFile(dir.Get(), "u", ".wav", first));
  ASSERT_TRUE(CreateUniqueFile(dir.Get(), "u", ".wav", second));
  EXPECT_NE(first, second);
  EXPECT_TRUE(CheckForFile(first));
  EXPECT_TRUE(CheckForFile(second));
  EXPECT_FALSE(CreateUniqueFile(dir.Path("missing"), "u", ".wav", first));
}

TEST(DirStructure, AppendPathAndLayout) {
  struct Case {
    const char* dir;
    const char* name;
    const char* expected;
  } cases[] = {{"a/", "b", "a/b"}, {"a", "b", "a/b"}, {"", "b", "b"}, {"/", "b", "/b"}};
  for (const Case& c : cases) {
    std::string result;
    EXPECT_TRUE(DirStructure::AppendPath(c.dir, c.name, result));
    EXPECT_EQ(result, c.expected);
  }

  DirStructure* layout = DirStructure::CreateInstance("/opt/morvik/");
  ASSERT_NE(layout, nullptr);
  EXPECT_EQ(DirStructure::CreateInstance("/other"), nullptr);
  EXPECT_EQ(DirStructure::GetInstance(), layout);
  const char* expected[] = {"/opt/morvik/bin",     "/opt/morvik/lib",       "/opt/morvik/conf",
                            "/opt/morvik/data",    "/opt/morvik/mod",       "/opt/morvik/var",
                            "/opt/morvik/var/log", "/opt/morvik/var/event", "/opt/morvik/var/cache",
                            "/opt/morvik/var/status"};
  for (int i = 0; i < DirStructure::DIR_COUNT; ++i)
    EXPECT_EQ(layout->GetPath(static_cast<DirStructure::DirLabel>(i)), expected[i]);
  std::string path;
  EXPECT_TRUE(layout->ComposeStatusFilePath("oxazorv-usage", path));
  EXPECT_EQ(path, "/opt/morvik/var/status/oxazorv-usage.status");
  EXPECT_TRUE(layout->ComposePath(DirStructure::DIR_CONF, "oxazorv.xml", path));
  EXPECT_EQ(path, "/opt/morvik/conf/oxazorv.xml");
  DirStructure::DestroyInstance();
  EXPECT_EQ(DirStructure::GetInstance(), nullptr);
}

}  // namespace
