// A port backend that passes every call to another: the ground for one that looks at or
// changes a few of them.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "serial/port_backend.h"

namespace serial {

class ForwardingBackend : public PortBackend {
 public:
  explicit ForwardingBackend(std::unique_ptr<PortBackend> inner) : inner_(std::move(inner)) {}

  int Open(const std::string& path) override { return inner_->Open(path); }
  void Close() override { inner_->Close(); }
  intptr_t NativeHandle() const override { return inner_->NativeHandle(); }
  int SetQueueSizes(int32_t inputSize) override { return inner_->SetQueueSizes(inputSize); }
  int Apply(const LineSettingsRecord& settings) override { return inner_->Apply(settings); }
  int Fetch(LineSettingsRecord& settings) override { return inner_->Fetch(settings); }
  int QueueCounts(uint32_t& inputCount, uint32_t& outputCount, uint32_t& lineErrors) override {
    return inner_->QueueCounts(inputCount, outputCount, lineErrors);
  }
  int InputCount(uint32_t& inputCount) override { return inner_->InputCount(inputCount); }
  int OutputCount(uint32_t& outputCount) override { return inner_->OutputCount(outputCount); }
  int TakeLineErrors(uint32_t& lineErrors) override { return inner_->TakeLineErrors(lineErrors); }
  void AwaitArrival(int64_t us) override { inner_->AwaitArrival(us); }
  int Read(uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    return inner_->Read(buffer, count, timeoutMs, done);
  }
  int Write(const uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    return inner_->Write(buffer, count, timeoutMs, done);
  }
  int WaitEvent(uint32_t mask, int32_t timeoutMs, bool& happened) override {
    return inner_->WaitEvent(mask, timeoutMs, happened);
  }
  int Purge(uint32_t flags) override { return inner_->Purge(flags); }
  int Drain(int32_t timeoutMs) override { return inner_->Drain(timeoutMs); }
  void SetDtr(bool on) override { inner_->SetDtr(on); }
  void SetRts(bool on) override { inner_->SetRts(on); }
  int ModemStatus(uint32_t& status) override { return inner_->ModemStatus(status); }
  int SetBreak(bool on) override { return inner_->SetBreak(on); }
  std::string LatencyNote() const override { return inner_->LatencyNote(); }

 protected:
  std::unique_ptr<PortBackend> inner_;
};

}  // namespace serial
