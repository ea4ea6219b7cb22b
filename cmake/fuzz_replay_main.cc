// Replays files (or every file in directories) through a libFuzzer entry point,
// so fuzz harnesses build and run their corpus without clang's fuzzer runtime.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int RunFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

int main(int argc, char** argv) {
  int failures = 0;
  size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    struct stat st;
    if (stat(argv[i], &st) != 0) {
      std::fprintf(stderr, "missing %s\n", argv[i]);
      ++failures;
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      DIR* dir = opendir(argv[i]);
      if (!dir) {
        ++failures;
        continue;
      }
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        failures += RunFile(std::string(argv[i]) + "/" + name);
        ++runs;
      }
      closedir(dir);
    } else {
      failures += RunFile(argv[i]);
      ++runs;
    }
  }
  // Empty input is a case every harness must survive.
  LLVMFuzzerTestOneInput(nullptr, 0);
  std::printf("replayed %zu inputs\n", runs);
  return failures ? 1 : 0;
}
