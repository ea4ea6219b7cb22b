// The boolean syntax and the path rules of the configuration helpers.
#include "OxaConfigUtils.h"
#include "OxaTestHost.h"

#include <gtest/gtest.h>

#include <apr_general.h>
#include <sys/stat.h>

#include <string>

namespace {

using OxaTest::TempLayout;

class ConfigUtilsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { apr_initialize(); }
  void SetUp() override {
    apr_pool_create(&m_pPool, nullptr);
    m_pLayout.reset(new TempLayout(m_pPool));
  }
  void TearDown() override {
    m_pLayout.reset();
    apr_pool_destroy(m_pPool);
  }

  apr_pool_t* m_pPool = nullptr;
  std::unique_ptr<TempLayout> m_pLayout;
};

TEST(ParseBooleanStringTest, OnlyExactWordsAreBooleans) {
  struct Case {
    const char* m_Text;
    bool m_Parsed;
    bool m_Value;
  };
  const Case cases[] = {{"true", true, true},   {"false", true, false}, {"TRUE", false, false}, {"False", false, false},
                        {"1", false, false},     {"yes", false, false},  {"", false, false},     {" true", false, false},
                        {"true ", false, false}, {"truex", false, false}};
  for (const Case& c : cases) {
    for (bool initial : {false, true}) {
      bool value = initial;
      EXPECT_EQ(OXA_NS::ParseBooleanString(c.m_Text, value), c.m_Parsed) << c.m_Text;
      EXPECT_EQ(value, c.m_Parsed ? c.m_Value : initial) << c.m_Text;
    }
  }
}

TEST_F(ConfigUtilsTest, RelativePathsAreMergedWithTheBase) {
  struct Case {
    const char* m_Path;
    bool m_Relative;
    const char* m_Result;
  };
  const Case cases[] = {
      {"usage.txt", true, "/srv/var/status/usage.txt"},
      {"sub/usage.txt", true, "/srv/var/status/sub/usage.txt"},
      {"../usage.txt", true, "/srv/var/usage.txt"},
      {"", true, "/srv/var/status/"},
      {"/tmp/usage.txt", false, "/tmp/usage.txt"},
      {"/", false, "/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OXA_NS::IsRelativePath(c.m_Path, m_pPool), c.m_Relative) << c.m_Path;
    std::string file = c.m_Path;
    EXPECT_TRUE(OXA_NS::CheckFilePath(file, "/srv/var/status", m_pPool)) << c.m_Path;
    EXPECT_EQ(file, c.m_Result);
    std::string dir = c.m_Path;
    EXPECT_TRUE(OXA_NS::CheckDirPath(dir, "/srv/var/status", m_pPool)) << c.m_Path;
    EXPECT_EQ(dir, c.m_Result);
  }
}

// Touches `later` until its change time is past that of `earlier`: file times are coarse, so two
// files written in a row may share one.
void MakeNewer(const std::string& later, const std::string& earlier) {
  struct stat a, b;
  ASSERT_EQ(stat(earlier.c_str(), &a), 0);
  for (int i = 0; i < 1000000; i++) {
    chmod(later.c_str(), (i % 2) ? 0644 : 0640);
    ASSERT_EQ(stat(later.c_str(), &b), 0);
    if (b.st_ctim.tv_sec > a.st_ctim.tv_sec ||
        (b.st_ctim.tv_sec == a.st_ctim.tv_sec && b.st_ctim.tv_nsec / 1000 > a.st_ctim.tv_nsec / 1000))
      return;
  }
  FAIL() << "change time did not advance";
}

TEST_F(ConfigUtilsTest, FileSearchFindsTheNewestMatch) {
  m_pLayout->WriteFile("data/key-old.json", "{}");
  m_pLayout->WriteFile("data/key-new.json", "{}");
  m_pLayout->WriteFile("data/other.json", "{}");
  mkdir(m_pLayout->Path("data/key-dir.json").c_str(), 0755);
  MakeNewer(m_pLayout->Path("data/key-new.json"), m_pLayout->Path("data/key-old.json"));

  char* result = nullptr;
  ASSERT_TRUE(OXA_NS::file_search(&result, m_pLayout->Path("data/key-*.json").c_str(), m_pPool));
  EXPECT_EQ(std::string(result), m_pLayout->Path("data/key-new.json"));

  MakeNewer(m_pLayout->Path("data/key-old.json"), m_pLayout->Path("data/key-new.json"));
  ASSERT_TRUE(OXA_NS::file_search(&result, m_pLayout->Path("data/key-*.json").c_str(), m_pPool));
  EXPECT_EQ(std::string(result), m_pLayout->Path("data/key-old.json"));

  // An exact name is a pattern that matches itself.
  ASSERT_TRUE(OXA_NS::file_search(&result, m_pLayout->Path("data/other.json").c_str(), m_pPool));
  EXPECT_EQ(std::string(result), m_pLayout->Path("data/other.json"));
}

TEST_F(ConfigUtilsTest, FileSearchFailsWithoutAMatch) {
  m_pLayout->WriteFile("data/key.json", "{}");
  mkdir(m_pLayout->Path("data/dir.json").c_str(), 0755);
  char* result = nullptr;
  for (const std::string& pattern : {m_pLayout->Path("data/none-*.json"), m_pLayout->Path("missing/key*.json"),
                                     m_pLayout->Path("data/dir.json"), m_pLayout->Path("data/")}) {
    EXPECT_FALSE(OXA_NS::file_search(&result, pattern.c_str(), m_pPool)) << pattern;
  }
  EXPECT_EQ(result, nullptr);
}

TEST_F(ConfigUtilsTest, FileSearchWithoutSeparatorLooksInTheCurrentDirectory) {
  m_pLayout->WriteFile("data/local-key.json", "{}");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
  ASSERT_EQ(chdir(m_pLayout->Path("data").c_str()), 0);
  char* result = nullptr;
  bool found = OXA_NS::file_search(&result, "local-*.json", m_pPool);
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_TRUE(found);
  EXPECT_EQ(std::string(result), "./local-key.json");
}

}  // namespace
