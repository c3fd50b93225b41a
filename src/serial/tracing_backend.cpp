#include "serial/tracing_backend.h"

#include <string>

#include "serial/forwarding_backend.h"
#include "serial/port_details.h"
#include "serial/serial_error.h"

namespace serial {

namespace {

std::string LineErrorNames(uint32_t flags) {
  std::string names;
  auto add = [&](uint32_t flag, const char* name) {
    if (!(flags & flag)) return;
    if (!names.empty()) names += ' ';
    names += name;
  };
  add(LineErrRxOver, "input-overflow");
  add(LineErrOverrun, "overrun");
  add(LineErrParity, "parity");
  add(LineErrFrame, "framing");
  add(LineErrTxFull, "output-full");
  return names;
}

// What the system tells of the adapter behind path ("FT232R USB UART, USB 0403:6001, serial
// A5XK3RJT"); "" when it tells nothing.
std::string AdapterOf(const std::string& path) {
  for (const PortDetails& port : ListPortDetails()) {
    if (port.name != path) continue;
    std::string text = port.description;
    auto add = [&text](const std::string& part) {
      if (!part.empty()) text += (text.empty() ? "" : ", ") + part;
    };
    if (!port.vendor.empty()) add("USB " + port.vendor + ":" + port.product);
    if (!port.serial.empty()) add("serial " + port.serial);
    return text;
  }
  return "";
}

std::string Outcome(int code) {
  return code == 0 ? "" : " failed: " + GetErrorDesc(code);
}

class TracingBackend : public ForwardingBackend {
 public:
  TracingBackend(std::unique_ptr<PortBackend> inner, std::shared_ptr<LineTrace> trace)
      : ForwardingBackend(std::move(inner)), trace_(std::move(trace)) {}

  int Open(const std::string& path) override {
    const int code = inner_->Open(path);
    trace_->Event("open", path + Outcome(code));
    // Who made the trace wants to know the adapter too: its kind decides much of a line's timing.
    const std::string adapter = code == 0 ? AdapterOf(path) : "";
    if (!adapter.empty()) trace_->Event("mark", "port " + path + ": " + adapter);
    return code;
  }
  void Close() override {
    inner_->Close();
    trace_->Event("close", "");
  }
  int Apply(const LineSettingsRecord& settings) override {
    const int code = inner_->Apply(settings);
    static const char Parities[] = "NOEMS";
    const char parity = settings.Parity < 5 ? Parities[settings.Parity] : '?';
    trace_->Event("speed", std::to_string(settings.BaudRate) + " " +
                               std::to_string(settings.DataBits) + parity +
                               (settings.StopBits == 0 ? "1" : "2") + Outcome(code));
    return code;
  }
  int QueueCounts(uint32_t& inputCount, uint32_t& outputCount, uint32_t& lineErrors) override {
    const int code = inner_->QueueCounts(inputCount, outputCount, lineErrors);
    if (code == 0 && lineErrors != 0) trace_->Event("error", LineErrorNames(lineErrors));
    return code;
  }
  int TakeLineErrors(uint32_t& lineErrors) override {
    const int code = inner_->TakeLineErrors(lineErrors);
    if (code == 0 && lineErrors != 0) trace_->Event("error", LineErrorNames(lineErrors));
    return code;
  }
  int Read(uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    const int code = inner_->Read(buffer, count, timeoutMs, done);
    if (done > 0) trace_->Bytes("recv", buffer, static_cast<size_t>(done));
    if (code != 0 && code != ErrTimeout) trace_->Event("error", "read" + Outcome(code));
    return code;
  }
  int Write(const uint8_t* buffer, int32_t count, int32_t timeoutMs, int32_t& done) override {
    const int code = inner_->Write(buffer, count, timeoutMs, done);
    if (done > 0) trace_->Bytes("send", buffer, static_cast<size_t>(done));
    if (code != 0) trace_->Event("error", "write" + Outcome(code));
    return code;
  }
  int Purge(uint32_t flags) override {
    const int code = inner_->Purge(flags);
    std::string what;
    if (flags & (PurgeRxAbort | PurgeRxClear)) what = "input";
    if (flags & (PurgeTxAbort | PurgeTxClear)) {
      if (!what.empty()) what += ' ';
      what += "output";
    }
    trace_->Event("purge", what + Outcome(code));
    return code;
  }

 private:
  std::shared_ptr<LineTrace> trace_;
};

}  // namespace

std::unique_ptr<PortBackend> MakeTracingBackend(std::unique_ptr<PortBackend> inner,
                                                std::shared_ptr<LineTrace> trace) {
  return std::make_unique<TracingBackend>(std::move(inner), std::move(trace));
}

}  // namespace serial
