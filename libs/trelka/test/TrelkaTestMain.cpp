#include <trelka/TrelkaEventProcessor.h>

#include <gtest/gtest.h>

namespace {

// APR must be up before any pool, thread or file call.
class AprEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(Trelka::GlobalInit()); }
  void TearDown() override { Trelka::GlobalDeinit(); }
};

::testing::Environment* const g_AprEnvironment = ::testing::AddGlobalTestEnvironment(new AprEnvironment);

}  // namespace
