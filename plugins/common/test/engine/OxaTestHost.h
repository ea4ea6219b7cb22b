// A minimal server for engine tests: it binds an engine to its own event tables, drives the
// method tables the way the server does, and waits for the answers on a condition variable.
// Log lines of the process logger are captured for assertions.
#ifndef OXA_TEST_HOST_H
#define OXA_TEST_HOST_H

#include <mrcphost/mrcphost.h>

#include <apr_pools.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace OxaTest {

// Every line written through the process logger, with its source and priority.
class LogCapture {
 public:
  struct Line {
    std::string m_Source;
    apt_log_priority_e m_Priority;
    std::string m_Text;
  };

  LogCapture();
  ~LogCapture();

  size_t Count(const std::string& text) const;
  bool Contains(const std::string& text) const { return Count(text) > 0; }
  // Waits until text has been logged count times; false on time-out.
  bool WaitFor(const std::string& text, size_t count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::vector<Line> Lines() const;
  void Clear();

 private:
  static void Handler(const char* source, const char* file, int line, apt_log_priority_e priority, const char* text,
                      void* obj);

  mutable std::mutex m_Mutex;
  std::condition_variable m_Cond;
  std::vector<Line> m_Lines;  // guarded by m_Mutex
};

// Installation root with conf/, data/, var/ and var/status/, removed at the end.
class TempLayout {
 public:
  explicit TempLayout(apr_pool_t* pool);
  ~TempLayout();

  const std::string& Root() const { return m_Root; }
  std::string Path(const std::string& relative) const { return m_Root + "/" + relative; }
  apt_dir_layout_t* Layout() const { return m_pLayout; }
  void WriteFile(const std::string& relative, const std::string& content) const;

 private:
  std::string m_Root;
  apt_dir_layout_t* m_pLayout;
};

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

class TestHost {
 public:
  struct ChannelRecord {
    TestHost* m_pHost = nullptr;
    mrcp_engine_channel_t* m_pHandle = nullptr;
    apr_pool_t* m_pPool = nullptr;
    std::string m_Id;
    int m_OpenResponses = 0;
    bool m_OpenStatus = false;
    int m_CloseResponses = 0;
    std::vector<mrcp_message_t*> m_Messages;
  };

  explicit TestHost(apr_pool_t* pool);
  ~TestHost();

  // Binds a created engine to this host's event tables, layout and channel limit.
  void Attach(mrcp_engine_t* engine, const apt_dir_layout_t* layout, apr_size_t maxChannels);
  mrcp_engine_t* Engine() const { return m_pEngine; }

  // Calls the engine's open; when it returns TRUE waits for the open answer. Returns the
  // status of the answer, or FALSE when open itself failed or no answer came.
  bool OpenEngine();
  // Calls the engine's close and checks that it was answered.
  bool CloseEngine();
  bool DestroyEngine();

  ChannelRecord* CreateChannel(const std::string& id);
  bool OpenChannel(ChannelRecord* channel);
  bool CloseChannel(ChannelRecord* channel);
  // Sends a request of the method and waits for the next message of the channel.
  mrcp_message_t* Request(ChannelRecord* channel, mrcp_method_id method);
  void DestroyChannel(ChannelRecord* channel);

  int OpenResponses() const;
  int CloseResponses() const;

  // Event tables of the server side.
  static apt_bool_t OnEngineOpen(mrcp_engine_t* engine, apt_bool_t status);
  static apt_bool_t OnEngineClose(mrcp_engine_t* engine);
  static apt_bool_t OnChannelOpen(mrcp_engine_channel_t* channel, apt_bool_t status);
  static apt_bool_t OnChannelClose(mrcp_engine_channel_t* channel);
  static apt_bool_t OnChannelMessage(mrcp_engine_channel_t* channel, mrcp_message_t* message);

 private:

  bool Wait(const std::function<bool()>& done);

  apr_pool_t* m_pPool;
  mrcp_engine_t* m_pEngine;
  std::vector<std::unique_ptr<ChannelRecord>> m_Channels;

  mutable std::mutex m_Mutex;
  std::condition_variable m_Cond;
  int m_OpenResponses;  // guarded by m_Mutex, like the answers in the channel records
  bool m_OpenStatus;
  int m_CloseResponses;
};

}  // namespace OxaTest

#endif  // OXA_TEST_HOST_H
