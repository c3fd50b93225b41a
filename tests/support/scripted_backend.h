// A serial device played from a script, for the port object's paths that need no real line.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>

#include "serial/port_backend.h"
#include "serial/serial_error.h"

namespace testing_support {

// A device played from a script: each read hands over the next chunk with its line errors.
class ScriptedBackend : public serial::PortBackend {
 public:
  struct Chunk {
    std::string bytes;
    uint32_t lineErrors = 0;
  };
  std::deque<Chunk> chunks;
  bool writesDrain = true;

  int Open(const std::string&) override { return 0; }
  void Close() override {}
  intptr_t NativeHandle() const override { return 1; }
  int SetQueueSizes(int32_t) override { return 0; }
  int Apply(const serial::LineSettingsRecord&) override { return 0; }
  int Fetch(serial::LineSettingsRecord&) override { return 0; }
  int QueueCounts(uint32_t& input, uint32_t& output, uint32_t& lineErrors) override {
    input = chunks.empty() ? 0 : static_cast<uint32_t>(chunks.front().bytes.size());
    output = writesDrain ? 0 : 1;
    lineErrors = pendingErrors_;
    pendingErrors_ = 0;
    return 0;
  }
  int Read(uint8_t* buffer, int32_t count, int32_t, int32_t& done) override {
    done = 0;
    if (chunks.empty()) return serial::ErrTimeout;
    Chunk chunk = chunks.front();
    chunks.pop_front();
    done = std::min(count, static_cast<int32_t>(chunk.bytes.size()));
    std::copy(chunk.bytes.begin(), chunk.bytes.begin() + done, buffer);
    pendingErrors_ = chunk.lineErrors;
    return 0;
  }
  int Write(const uint8_t*, int32_t count, int32_t, int32_t& done) override {
    done = writesDrain ? count : 0;
    return writesDrain ? 0 : serial::ErrTimeout;
  }
  int WaitEvent(uint32_t mask, int32_t, bool& happened) override {
    happened = mask == serial::EventRxChar ? !chunks.empty() : writesDrain;
    return 0;
  }
  int Purge(uint32_t) override { return 0; }
  int Drain(int32_t) override { return 0; }
  void SetDtr(bool) override {}
  void SetRts(bool) override {}
  int ModemStatus(uint32_t& status) override {
    status = 0;
    return 0;
  }
  int SetBreak(bool) override { return 0; }

 private:
  uint32_t pendingErrors_ = 0;
};

}  // namespace testing_support
