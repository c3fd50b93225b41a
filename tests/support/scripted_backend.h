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
  // As on Windows: a chunk's line errors show at the first count query that finds it waiting
  // (the query after a read is that read's own), not with its read, and are held as the Windows
  // backend holds them.
  bool errorsWithCounts = false;

  int Open(const std::string&) override { return 0; }
  void Close() override {}
  intptr_t NativeHandle() const override { return 1; }
  int SetQueueSizes(int32_t) override { return 0; }
  int Apply(const serial::LineSettingsRecord&) override { return 0; }
  int Fetch(serial::LineSettingsRecord&) override { return 0; }
  int QueueCounts(uint32_t& input, uint32_t& output, uint32_t& lineErrors) override {
    input = chunks.empty() ? 0 : static_cast<uint32_t>(chunks.front().bytes.size());
    output = writesDrain ? 0 : 1;
    if (errorsWithCounts) {
      if (!justRead_) FlagFront();
      justRead_ = false;
      lineErrors = latch_.HandOver();
      return 0;
    }
    lineErrors = pendingErrors_;
    pendingErrors_ = 0;
    return 0;
  }
  int Read(uint8_t* buffer, int32_t count, int32_t, int32_t& done) override {
    done = 0;
    if (chunks.empty()) return serial::ErrTimeout;
    if (errorsWithCounts) {
      FlagFront();
      latch_.Read();
      justRead_ = true;
      frontFlagged_ = false;
    }
    Chunk chunk = chunks.front();
    chunks.pop_front();
    done = std::min(count, static_cast<int32_t>(chunk.bytes.size()));
    std::copy(chunk.bytes.begin(), chunk.bytes.begin() + done, buffer);
    if (!errorsWithCounts) pendingErrors_ = chunk.lineErrors;
    return 0;
  }
  int Write(const uint8_t*, int32_t count, int32_t, int32_t& done) override {
    if (errorsWithCounts) latch_.Wrote();
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
  void FlagFront() {
    if (chunks.empty() || frontFlagged_) return;
    latch_.Seen(chunks.front().lineErrors);
    frontFlagged_ = true;
  }

  uint32_t pendingErrors_ = 0;
  serial::LineErrorLatch latch_;
  bool frontFlagged_ = false;
  bool justRead_ = false;
};

}  // namespace testing_support
