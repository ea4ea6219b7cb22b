// The host's own cost per frame: one media tick over many channels of a plugin whose frame calls
// do nothing (the test plugin with media=null).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "mrcphost/host_server.h"

namespace {

using mrcphost::Millis;

struct Fixture {
  explicit Fixture(const char *resource, int channels) {
    mrcphost::ServerConfig config;
    config.root_dir = "/tmp";
    config.create_var_dirs = false;
    config.run_media_thread = false;  // the benchmark ticks
    server = std::make_unique<mrcphost::Server>(config);
    std::string error;
    if (!server->Start(&error)) return;
    engine = server->LoadPlugin(HOSTTEST_PLUGIN_PATH, "bench", {{"resource", resource}, {"media", "null"}}, 0,
                                Millis(5000), &error);
    if (!engine || engine->Open(Millis(5000), &error) != mrcphost::HostResult::kOk) return;
    for (int i = 0; i < channels; ++i) {
      auto channel = engine->CreateChannel(mrcphost::ChannelConfig(), Millis(5000), &error);
      if (!channel || channel->Open(Millis(5000), &error) != mrcphost::HostResult::kOk) return;
      this->channels.push_back(channel);
    }
    ready = true;
  }
  ~Fixture() {
    channels.clear();
    if (server) server->Shutdown(Millis(5000));
  }
  std::unique_ptr<mrcphost::Server> server;
  mrcphost::Engine *engine = nullptr;
  std::vector<std::shared_ptr<mrcphost::Channel>> channels;
  bool ready = false;
};

void TickChannels(benchmark::State &state, const char *resource, bool queued_input) {
  const int channels = static_cast<int>(state.range(0));
  Fixture fixture(resource, channels);
  if (!fixture.ready) {
    state.SkipWithError("the test plugin did not open its channels");
    return;
  }
  if (queued_input) {
    std::string error;
    for (auto &channel : fixture.channels) channel->QueueSilence(Millis(24L * 3600 * 1000), &error);
  }
  for (auto _ : state) fixture.server->Media().Tick();
  state.SetItemsProcessed(state.iterations() * channels);  // frames
}

void BM_TickIdleSinks(benchmark::State &state) { TickChannels(state, "recognizer", false); }
void BM_TickQueuedSinks(benchmark::State &state) { TickChannels(state, "recognizer", true); }
void BM_TickSources(benchmark::State &state) { TickChannels(state, "synthesizer", false); }

BENCHMARK(BM_TickIdleSinks)->Arg(1)->Arg(100)->Arg(500);
BENCHMARK(BM_TickQueuedSinks)->Arg(100)->Arg(500);
BENCHMARK(BM_TickSources)->Arg(100)->Arg(500);

}  // namespace

BENCHMARK_MAIN();
