// N concurrent recognitions of oxazorv, in process on the host's server side, against the
// Google speech emulator, with audio paced in real time by the host's media thread.
//
//   oxazorv_bench ROOT PLUGIN AUDIO STREAMS ROUNDS COMPLETIONS
//
// ROOT holds conf/oxazorv.xml (naming the emulator); AUDIO is the utterance each channel says in
// each round. Prints the host process's CPU time per stream-second of audio, resident memory
// per open channel, and media ticks that came late; writes one line "<stream> <time>" per
// RECOGNITION-COMPLETE to COMPLETIONS (CLOCK_REALTIME, taken as the plugin hands the message
// over), for matching with the emulator's clock on its final results.
#include <mrcphost/host_server.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using mrcphost::Millis;
using mrcphost::SteadyClock;

// The steady clock, noting how late every media tick starts.
class LatenessClock : public mrcphost::MediaClock::TimeSource {
 public:
  SteadyClock::time_point Now() override { return SteadyClock::now(); }
  void SleepUntil(SteadyClock::time_point when) override {
    std::this_thread::sleep_until(when);
    const auto late = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - when).count();
    if (!m_Measuring.load()) return;
    m_Ticks++;
    if (late > m_MaxLate.load()) m_MaxLate = late;
    if (late > 10000) m_Late++;  // a whole frame period behind
  }
  void Measure(bool on) { m_Measuring = on; }
  std::atomic<bool> m_Measuring{false};
  std::atomic<uint64_t> m_Ticks{0};
  std::atomic<uint64_t> m_Late{0};
  std::atomic<int64_t> m_MaxLate{0};
};

// Records the wall-clock arrival of every RECOGNITION-COMPLETE, on the plugin's thread.
class Completions : public mrcphost::Channel::Observer {
 public:
  void OnChannelMessage(mrcphost::Channel&, const mrcphost::WireMessage& message) override {
    if (message.type != MRCP_MESSAGE_TYPE_EVENT || message.name != "RECOGNITION-COMPLETE") return;
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Lines.push_back(Line{now, message.body});
  }
  struct Line {
    double m_Time;
    std::string m_Body;
  };
  std::mutex m_Mutex;
  std::vector<Line> m_Lines;  // guarded by m_Mutex
};

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const char* const kRecognize =
    "MRCP/2.0 0 RECOGNIZE 0\r\nChannel-Identifier: x@speechrecog\r\nContent-Type: text/uri-list\r\n"
    "Content-Length: 25\r\n\r\nbuiltin:speech/transcribe";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::cerr << "usage: oxazorv_bench ROOT PLUGIN AUDIO STREAMS ROUNDS COMPLETIONS\n";
    return 2;
  }
  const std::string root = argv[1], plugin = argv[2], audio = argv[3], completionsPath = argv[6];
  const int streams = std::atoi(argv[4]), rounds = std::atoi(argv[5]);

  apr_initialize();
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, nullptr);
  // Warnings only: the figures are the plugin's work, not its debug log.
  apt_log_instance_create(APT_LOG_OUTPUT_CONSOLE, APT_PRIO_WARNING, pool);

  LatenessClock clock;
  mrcphost::ServerConfig config;
  config.root_dir = root;
  config.media_time = &clock;
  mrcphost::Server server(config);
  std::string error;
  if (!server.Start(&error)) {
    std::cerr << "server: " << error << "\n";
    return 1;
  }
  const Millis timeout(20000);
  mrcphost::Engine* engine = server.LoadPlugin(plugin, "oxazorv", {}, 0, timeout, &error);
  if (!engine || engine->Open(timeout, &error) != mrcphost::HostResult::kOk) {
    std::cerr << "engine: " << error << "\n";
    return 1;
  }
  const long engineKb = ResidentKb();

  Completions completions;
  std::vector<std::shared_ptr<mrcphost::Channel>> channels;
  for (int i = 0; i < streams; i++) {
    mrcphost::ChannelConfig channelConfig;
    channelConfig.rate = 8000;
    std::shared_ptr<mrcphost::Channel> channel = engine->CreateChannel(channelConfig, timeout, &error);
    if (!channel || channel->Open(timeout, &error) != mrcphost::HostResult::kOk) {
      std::cerr << "channel " << i << ": " << error << "\n";
      return 1;
    }
    channel->SetObserver(&completions);
    channels.push_back(channel);
  }
  const long idleKb = ResidentKb();

  // The first round opens every channel's gRPC connection; the figures come from the others.
  double cpuStart = 0.0;
  auto wallStart = SteadyClock::now();
  long busyKb = 0;
  int failures = 0;
  for (int round = 0; round <= rounds; round++) {
    if (round == 1) {
      cpuStart = CpuSeconds();
      wallStart = SteadyClock::now();
      clock.Measure(true);
    }
    std::vector<mrcphost::WireMessage> sent(channels.size());
    for (size_t i = 0; i < channels.size(); i++) {
      if (!channels[i]->SendRequest(kRecognize, &sent[i], &error) ||
          !channels[i]->QueueAudioFile(audio, false, &error)) {
        std::cerr << "round " << round << " channel " << i << ": " << error << "\n";
        return 1;
      }
      // Callers do not all speak at once: the starts spread over the utterance.
      std::this_thread::sleep_for(std::chrono::microseconds(2000000 / streams));
    }
    const auto deadline = SteadyClock::now() + timeout;
    for (size_t i = 0; i < channels.size(); i++) {
      mrcphost::WireMessage complete;
      const mrcp_request_id id = sent[i].request_id;
      if (!channels[i]->WaitMessage(
              [id](const mrcphost::WireMessage& m) {
                return m.type == MRCP_MESSAGE_TYPE_EVENT && m.name == "RECOGNITION-COMPLETE" && m.request_id == id;
              },
              deadline, &complete) ||
          complete.body.empty())
        failures++;
      channels[i]->WaitInputDrained(deadline);
    }
    if (round == rounds / 2 + 1) busyKb = ResidentKb();
  }
  clock.Measure(false);
  const double cpu = CpuSeconds() - cpuStart;
  const double wall = std::chrono::duration<double>(SteadyClock::now() - wallStart).count();

  // The utterance's length: 16-bit mono at 8 kHz after a 44-byte header.
  std::ifstream file(audio, std::ios::binary | std::ios::ate);
  const double utterance = (static_cast<double>(file.tellg()) - 44) / 16000.0;
  const double audioSeconds = utterance * streams * rounds;
  // Every open channel takes a frame each 10 ms, speech or not.
  const double streamSeconds = wall * streams;

  {
    std::ofstream out(completionsPath);
    std::lock_guard<std::mutex> lock(completions.m_Mutex);
    const std::regex stream(">s([0-9]+)</input>");
    for (const Completions::Line& line : completions.m_Lines) {
      std::smatch match;
      if (std::regex_search(line.m_Body, match, stream)) {
        char text[64];
        snprintf(text, sizeof(text), "%s %.6f\n", match[1].str().c_str(), line.m_Time);
        out << text;
      }
    }
  }
  for (auto& channel : channels) channel->Close(timeout, &error);
  channels.clear();
  engine->Close(timeout, &error);
  server.Shutdown(timeout);

  printf("streams %d, rounds %d (after a warm-up round), utterance %.2f s, wall %.1f s\n", streams, rounds, utterance,
         wall);
  printf("recognitions without a result: %d\n", failures);
  printf("cpu %.2f s: %.2f ms per stream-second of utterance audio (%.1f s), %.2f ms per stream-second of call "
         "(%.1f s)\n",
         cpu, 1000.0 * cpu / audioSeconds, audioSeconds, 1000.0 * cpu / streamSeconds, streamSeconds);
  printf("resident: engine open %ld kB; %d idle channels +%ld kB (%.1f kB each); recognizing +%ld kB (%.1f kB each)\n",
         engineKb, streams, idleKb - engineKb, double(idleKb - engineKb) / streams, busyKb - engineKb,
         double(busyKb - engineKb) / streams);
  printf("media ticks %llu, more than one period late %llu, latest %.2f ms, dropped %llu\n",
         static_cast<unsigned long long>(clock.m_Ticks.load()), static_cast<unsigned long long>(clock.m_Late.load()),
         clock.m_MaxLate.load() / 1000.0, static_cast<unsigned long long>(server.Media().DroppedTicks()));
  return failures ? 1 : 0;
}
