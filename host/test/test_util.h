// Small fixtures shared by the host's tests.
#ifndef MRCPHOST_TEST_TEST_UTIL_H
#define MRCPHOST_TEST_TEST_UTIL_H

#include <apr_general.h>
#include <apr_pools.h>
#include <gtest/gtest.h>

#include <string>

#include "mrcphost/host_apt.h"

namespace mrcphost {
namespace test {

inline std::string Str(const apt_str_t &s) { return s.buf ? std::string(s.buf, s.length) : std::string(); }

// A fresh APR pool per test.
class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    apr_initialize();
    apr_pool_create(&m_Pool, nullptr);
  }
  void TearDown() override {
    apr_pool_destroy(m_Pool);
    apr_terminate();
  }
  apr_pool_t *Pool() { return m_Pool; }

 private:
  apr_pool_t *m_Pool = nullptr;
};

}  // namespace test
}  // namespace mrcphost

#endif  // MRCPHOST_TEST_TEST_UTIL_H
