// ConsoleHost writing into memory, for running the CLI's jobs in-process.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "cli/console_host.h"

namespace testing_support {

// Memory streams for the host's output, made before the host that writes to them.
struct MemoryStreams {
  MemoryStreams()
      : outFile(::open_memstream(&out, &outSize)), errFile(::open_memstream(&err, &errSize)) {}
  ~MemoryStreams() {
    std::fclose(outFile);
    std::fclose(errFile);
    std::free(out);
    std::free(err);
  }
  char* out = nullptr;
  char* err = nullptr;
  size_t outSize = 0, errSize = 0;
  std::FILE* outFile;
  std::FILE* errFile;
};

// ConsoleHost into memory, with a look at every status line on its way.
class CapturingHost : private MemoryStreams, public cli::ConsoleHost {
 public:
  CapturingHost() : ConsoleHost(true, outFile, errFile) {}
  void ShowStatusText(const std::string& line) override {
    if (OnLine) OnLine(line);
    ConsoleHost::ShowStatusText(line);
  }
  void SetBarColour(uint32_t colour) override {
    if (OnBarColour) OnBarColour(colour);
  }
  std::string Err() {
    std::fflush(errFile);
    return std::string(err, errSize);
  }
  std::string Out() {
    std::fflush(outFile);
    return std::string(out, outSize);
  }
  // Every question asked, answered with Answer.
  bool Confirm(const std::string& text) override {
    Questions.push_back(text);
    return Answer;
  }
  std::function<void(const std::string&)> OnLine;
  std::function<void(uint32_t)> OnBarColour;
  bool Answer = true;
  std::vector<std::string> Questions;
};

}  // namespace testing_support
