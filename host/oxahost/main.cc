// oxahost: loads a resource plugin and drives it the way an MRCP server does, from a session script.
#include <getopt.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "mrcphost/host_server.h"
#include "runner.h"
#include "script.h"

namespace {

// Exit statuses.
constexpr int kPassed = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kNoPlugin = 3;

const char kUsageText[] =
    "Usage: oxahost [options] [PLUGIN] SCRIPT\n"
    "\n"
    "Loads the resource plugin PLUGIN (or the one named by the script's 'plugin' line)\n"
    "and runs the session script SCRIPT against it. See docs/oxahost.md.\n"
    "\n"
    "  -r, --root DIR          root directory with conf/, data/, var/ (default: .)\n"
    "  -n, --name NAME         engine name (default: from the plugin file name)\n"
    "  -p, --param NAME=VALUE  engine parameter (repeatable)\n"
    "  -m, --max-channels N    channels the engine may have at once (default: no limit)\n"
    "  -D, --define NAME=VALUE script variable, before the environment (repeatable)\n"
    "  -s, --sessions N        run N copies of the script at once on one engine;\n"
    "                          ${SESSION} is 1..N in each\n"
    "  -t, --timeout DURATION  default limit of every wait (default: 5s)\n"
    "  -f, --fast              feed audio as fast as the plugin takes it\n"
    "  -q, --quiet             print only failures and the summary\n"
    "  -l, --log-level LEVEL   host log priority, EMERGENCY..DEBUG or 0-7 (default: NOTICE)\n"
    "      --log-file PATH     also write the log to PATH\n"
    "  -h, --help              show this text\n"
    "\n"
    "Exit status: 0 all passed, 1 a step failed or timed out, 2 usage or script error,\n"
    "3 the plugin could not be loaded.\n";

struct Options {
  std::string root = ".";
  std::string name;
  mrcphost::NameValues params;
  apr_size_t max_channels = 0;
  oxahost::ParseContext context;
  int sessions = 1;
  bool quiet = false;
  std::string log_level = "NOTICE";
  std::string log_file;
  std::string plugin;
  std::string script;
};

int Usage(const char *problem) {
  if (problem) fprintf(stderr, "oxahost: %s\n\n", problem);
  fputs(kUsageText, problem ? stderr : stdout);
  return problem ? kUsage : kPassed;
}

bool SplitPair(const char *arg, std::string *name, std::string *value) {
  std::string text = arg;
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *name = text.substr(0, eq);
  *value = text.substr(eq + 1);
  return true;
}

std::string EngineName(const std::string &path) {
  std::string name = path.substr(path.rfind('/') + 1);
  if (name.compare(0, 3, "lib") == 0) name = name.substr(3);
  size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// Returns -1 to go on, or an exit status.
int ParseOptions(int argc, char **argv, Options *o) {
  enum { kLogFile = 1000 };
  static const option kLong[] = {{"root", required_argument, nullptr, 'r'},
                                 {"name", required_argument, nullptr, 'n'},
                                 {"param", required_argument, nullptr, 'p'},
                                 {"max-channels", required_argument, nullptr, 'm'},
                                 {"define", required_argument, nullptr, 'D'},
                                 {"sessions", required_argument, nullptr, 's'},
                                 {"timeout", required_argument, nullptr, 't'},
                                 {"fast", no_argument, nullptr, 'f'},
                                 {"quiet", no_argument, nullptr, 'q'},
                                 {"log-level", required_argument, nullptr, 'l'},
                                 {"log-file", required_argument, nullptr, kLogFile},
                                 {"help", no_argument, nullptr, 'h'},
                                 {nullptr, 0, nullptr, 0}};
  int opt;
  std::string name;
  std::string value;
  while ((opt = getopt_long(argc, argv, "r:n:p:m:D:s:t:fql:h", kLong, nullptr)) != -1) {
    switch (opt) {
      case 'r':
        o->root = optarg;
        break;
      case 'n':
        o->name = optarg;
        break;
      case 'p':
        if (!SplitPair(optarg, &name, &value)) return Usage("--param takes NAME=VALUE");
        o->params.emplace_back(name, value);
        break;
      case 'm':
        o->max_channels = static_cast<apr_size_t>(strtoul(optarg, nullptr, 10));
        break;
      case 'D':
        if (!SplitPair(optarg, &name, &value)) return Usage("--define takes NAME=VALUE");
        o->context.defines[name] = value;
        break;
      case 's':
        o->sessions = atoi(optarg);
        if (o->sessions < 1) return Usage("--sessions takes a number of at least 1");
        break;
      case 't':
        if (!oxahost::ParseDuration(optarg, &o->context.timeout)) return Usage("--timeout takes a duration like 5s");
        break;
      case 'f':
        o->context.fast = true;
        break;
      case 'q':
        o->quiet = true;
        break;
      case 'l':
        o->log_level = optarg;
        break;
      case kLogFile:
        o->log_file = optarg;
        break;
      case 'h':
        return Usage(nullptr);
      default:
        return Usage("unknown option");
    }
  }
  const int positional = argc - optind;
  if (positional == 2) {
    o->plugin = argv[optind];
    o->script = argv[optind + 1];
  } else if (positional == 1) {
    o->script = argv[optind];
  } else {
    return Usage("give a script, and the plugin unless the script names it");
  }
  return -1;
}

// A plugin call that never returns leaves threads that cannot be joined: leave without unwinding.
[[noreturn]] void ExitNow(int status) {
  fflush(stdout);
  fflush(stderr);
  _exit(status);
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  int status = ParseOptions(argc, argv, &o);
  if (status >= 0) return status;

  apr_initialize();
  apr_pool_t *pool = nullptr;
  apr_pool_create(&pool, nullptr);
  apt_log_instance_create(APT_LOG_OUTPUT_CONSOLE, apt_log_priority_translate(o.log_level.c_str()), pool);
  if (!o.log_file.empty()) {
    if (!apt_log_file_open(o.log_file.c_str(), pool)) {
      fprintf(stderr, "oxahost: cannot open log file %s\n", o.log_file.c_str());
      return kUsage;
    }
    apt_log_output_mode_set(APT_LOG_OUTPUT_BOTH);
  }

  // Every session parses the script with its own ${SESSION}, so errors show up before anything runs.
  std::vector<oxahost::Script> scripts(static_cast<size_t>(o.sessions));
  for (int i = 0; i < o.sessions; ++i) {
    oxahost::ParseContext context = o.context;
    if (!context.defines.count("SESSION")) context.defines["SESSION"] = std::to_string(i + 1);
    if (!context.defines.count("ROOT_DIR")) context.defines["ROOT_DIR"] = o.root;
    std::string error;
    if (!oxahost::LoadScript(o.script, context, &scripts[static_cast<size_t>(i)], &error)) {
      fprintf(stderr, "oxahost: %s\n", error.c_str());
      return kUsage;
    }
  }
  const oxahost::Script &first = scripts.front();
  const std::string plugin = o.plugin.empty() ? first.plugin : o.plugin;
  if (plugin.empty()) return Usage("no plugin: give one on the command line or in a 'plugin' line");
  if (o.sessions > 1 && first.uses_engine_commands) {
    fprintf(stderr, "oxahost: %s: engine commands need a single session\n", o.script.c_str());
    return kUsage;
  }
  mrcphost::NameValues params = first.params;
  params.insert(params.end(), o.params.begin(), o.params.end());

  oxahost::Output output(stdout, o.quiet);
  mrcphost::ServerConfig config;
  config.root_dir = o.root;
  mrcphost::Server server(config);
  std::string error;
  if (!server.Start(&error)) {
    fprintf(stderr, "oxahost: %s\n", error.c_str());
    return kNoPlugin;
  }
  const std::string name = o.name.empty() ? EngineName(plugin) : o.name;
  mrcphost::Engine *engine = server.LoadPlugin(plugin, name, params, o.max_channels, o.context.timeout, &error);
  if (!engine) {
    output.Failure("oxahost", error);
    if (!server.Shutdown(o.context.timeout)) ExitNow(kNoPlugin);
    return kNoPlugin;
  }
  output.Note("engine " + name, std::string("loaded ") + plugin + " (" + mrcp_resource_name_get(engine->Resource()) +
                                    ", root " + server.RootDir() + ")");

  bool passed = true;
  if (o.sessions == 1) {
    oxahost::Runner runner(engine, &output, "", true);
    passed = runner.Run(first);
  } else {
    std::string why;
    if (engine->Open(o.context.timeout, &why) != mrcphost::HostResult::kOk) {
      output.Failure("engine " + name, "open: " + why);
      passed = false;
    } else {
      std::atomic<int> failed{0};
      std::vector<std::thread> threads;
      for (int i = 0; i < o.sessions; ++i) {
        threads.emplace_back([&, i] {
          oxahost::Runner runner(engine, &output, "s" + std::to_string(i + 1), false);
          if (!runner.Run(scripts[static_cast<size_t>(i)])) failed.fetch_add(1);
        });
      }
      for (std::thread &t : threads) t.join();
      if (failed.load() > 0) passed = false;
      printf("oxahost: %d of %d sessions passed\n", o.sessions - failed.load(), o.sessions);
      if (engine->Close(o.context.timeout, &why) != mrcphost::HostResult::kOk) {
        output.Failure("engine " + name, "close: " + why);
        passed = false;
      }
    }
  }
  printf("oxahost: %s\n", passed ? "passed" : "FAILED");
  if (!server.Shutdown(o.context.timeout)) {
    fprintf(stderr, "oxahost: a plugin call did not return; leaving without cleaning up\n");
    ExitNow(kFailed);
  }
  return passed ? kPassed : kFailed;
}
