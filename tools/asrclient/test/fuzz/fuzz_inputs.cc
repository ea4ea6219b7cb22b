// The client's parsers of user input: the first byte picks the parser, the rest is its input.
#include <apr_general.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "AsrClientConfig.h"
#include "AsrInputs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool initialized = apr_initialize() == APR_SUCCESS;
  if (!initialized || size == 0) return 0;
  const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::string error;
  switch (data[0] % 4) {
    case 0: {
      asrclient::GrammarArgument grammars;
      if (asrclient::ParseGrammarArgument(text, &grammars, &error)) {
        std::vector<std::string> uris(grammars.entries.size(), "session:x@voxprobe");
        asrclient::GrammarListBody(grammars, uris);
        for (const auto &entry : grammars.entries) asrclient::GrammarContentId(entry.target);
      }
      break;
    }
    case 1: {
      std::string type;
      asrclient::GrammarContentType(text, &type, &error);
      break;
    }
    case 2: {
      std::vector<asrclient::HeaderLine> headers;
      asrclient::ParseHeaderLines(text, &headers, &error);
      break;
    }
    default: {
      asrclient::ClientConfig config = asrclient::DefaultClientConfig();
      std::vector<std::string> warnings;
      asrclient::ParseClientConfig(text, &config, &warnings, &error);
      break;
    }
  }
  return 0;
}
