// Fixtures shared by the recognizer-common tests: a captured host log, an APR pool, XML and
// MRCP message builders.
#ifndef OXA_RECOG_TEST_SUPPORT_H
#define OXA_RECOG_TEST_SUPPORT_H

#include <apr_pools.h>
#include <apr_xml.h>
#include <gtest/gtest.h>
#include <mrcphost/mrcphost.h>

#include <string>
#include <vector>

namespace RecogTest {

// Every host log line written since the last Clear.
class LogCapture {
 public:
  static void Clear();
  static const std::vector<std::string>& Lines();
  static bool Contains(const std::string& text);
};

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The root element of the document, or null (with a test failure) when it does not parse.
  const apr_xml_elem* ParseXml(const std::string& text);
  // A recognizer request with the generic headers that are not null.
  mrcp_message_t* CreateRequest(mrcp_method_id method, const char* contentType, const char* contentId,
                                const std::string& body);

  apr_pool_t* m_pPool = nullptr;
};

// True when text is a well-formed XML document.
bool IsWellFormedXml(const std::string& text, apr_pool_t* pool);

}  // namespace RecogTest

#endif  // OXA_RECOG_TEST_SUPPORT_H
