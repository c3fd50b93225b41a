#include "protocol/deco_link.h"

#include <algorithm>

#include "protocol/transaction.h"
#include "serial/block_serial.h"
#include "serial/line_trace.h"
#include "serial/tracing_backend.h"

namespace protocol {

namespace {

constexpr int32_t DataBits = 7;
constexpr char Parity = 'E';
constexpr int32_t OneStopBit = 0;

}  // namespace

DecoLink::DecoLink(StatusSink* sink, Clock& clock) : clock_(&clock), sink_(sink) {}

DecoLink::~DecoLink() = default;

serial::TBlockSerial& DecoLink::Port() {
  if (!port_) throw serial::ESerialError(serial::ErrNotConnected);
  return *port_;
}

void DecoLink::Open(const std::string& portName, int32_t baud) {
  forms_ = ReplyForms();
  {
    // Another port may have another adapter.
    std::lock_guard<std::mutex> lock(delaysMutex_);
    replyDelays_.clear();
  }
  std::unique_ptr<serial::PortBackend> backend =
      nextBackend_ ? std::move(nextBackend_) : serial::MakePortBackend();
  backend = clock_.load()->LinePort(std::move(backend));
  if (trace_) backend = serial::MakeTracingBackend(std::move(backend), trace_);
  port_ = std::make_unique<serial::TBlockSerial>(std::move(backend));
  port_->RaiseErrors(true);
  port_->SetTimeSource([this] { return clock_.load()->LineNowMs(); });
  if (counter_) CountCharacters(counter_);
  try {
    port_->OpenPort(portName);
  } catch (...) {
    devicePath_ = port_->DevicePath();
    throw;
  }
  devicePath_ = port_->DevicePath();
  SetSpeed(baud);
}

void DecoLink::UseBackend(std::unique_ptr<serial::PortBackend> backend) {
  nextBackend_ = std::move(backend);
}

void DecoLink::TraceTo(std::shared_ptr<serial::LineTrace> trace) { trace_ = std::move(trace); }

void DecoLink::Mark(const std::string& kind, const std::string& text) const {
  if (trace_) trace_->Event("mark", kind + (text.empty() ? "" : " " + text));
}

void DecoLink::SetSpeed(int32_t baud) {
  Port().ConfigureLine(baud, DataBits, Parity, OneStopBit, false, false);
}

uint32_t DecoLink::Speed() const {
  return port_ ? port_->LineSettings().BaudRate : 0;
}

bool DecoLink::IsOpen() const {
  return port_ && port_->IsOpen();
}

void DecoLink::Close() {
  port_.reset();
}

std::string DecoLink::DevicePath() const {
  return devicePath_;
}

std::string DecoLink::LatencyNote() const {
  return port_ ? port_->LatencyNote() : "";
}

bool DecoLink::WaitWritable(int32_t timeoutMs) {
  return Port().WaitWritable(timeoutMs);
}

void DecoLink::DiscardStaleInput() {
  if (port_) port_->DiscardBuffers();
}

int32_t DecoLink::InputWaiting() {
  return port_ ? port_->PendingCountAll() : 0;
}

void DecoLink::CountCharacters(std::function<void(uint64_t)> counter) {
  counter_ = std::move(counter);
  if (!port_) return;
  if (!counter_) {
    port_->SetCharacterCounter(nullptr);
    return;
  }
  port_->SetCharacterCounter([this](int32_t count) { counter_(static_cast<uint64_t>(count)); });
}

void DecoLink::SendLine(const std::string& text) {
  serial::TBlockSerial& port = Port();
  if (port.WaitWritable(port.DeadlockTimeout())) port.SendText(text + "\r\n");
  ++commandsSent_;
}

bool DecoLink::ReceiveReply(int32_t firstByteMs, int32_t wholeMs, std::string& reply) {
  serial::TBlockSerial& port = Port();
  // A deco's reply never begins with a line feed: one there is the tail of the previous reply's
  // CR LF. A deco that ends its lines with CR alone sees no change.
  if (!port.WaitCharacter(firstByteMs, true)) return false;
  // The whole reply is bounded in time and length.
  reply = port.ReceiveUntil(wholeMs, "\r", serial::ReceiveLimits{MaxReplyLength, true, false});
  lastAnswered_ = commandsSent_.load();
  return true;
}

std::string DecoLink::ReceiveWaiting(int32_t timeoutMs) {
  serial::TBlockSerial& port = Port();
  int32_t pending = port.PendingCount();
  std::string received;
  for (int32_t i = 0; i < pending; ++i) received += static_cast<char>(port.ReceiveByte(timeoutMs));
  return received;
}

void DecoLink::DropHeldInput() {
  if (port_) port_->DropHeld();
}

void DecoLink::RaiseTimeout() {
  throw serial::ESerialError(serial::ErrTimeout);
}

std::string DecoLink::StatusText() const {
  std::lock_guard<std::mutex> lock(statusMutex_);
  return statusText_;
}

void DecoLink::SetStatusText(const std::string& text) {
  std::lock_guard<std::mutex> lock(statusMutex_);
  statusText_ = text;
}

void DecoLink::SetReadPolicy(const ReadPolicy& policy) {
  readRetries_ = policy.Retries;
  doubleRead_ = policy.DoubleRead;
  confirmRetried_ = policy.ConfirmRetried;
}

ReadPolicy DecoLink::Policy() const {
  return ReadPolicy{readRetries_, doubleRead_, confirmRetried_};
}

ReadCounters DecoLink::Counts() const {
  return ReadCounters{retries_, rereads_};
}

namespace {
// A dozen replies tell a fixed delay from the odd slow one; the last few hundred keep it current.
constexpr size_t DelaysToTell = 10;
constexpr size_t DelaysKept = 256;
}  // namespace

void DecoLink::NoteReplyDelay(double ms) {
  std::lock_guard<std::mutex> lock(delaysMutex_);
  if (replyDelays_.size() == DelaysKept) replyDelays_.erase(replyDelays_.begin());
  replyDelays_.push_back(ms);
}

double DecoLink::ReplyDelayMs() const {
  std::vector<double> delays;
  {
    std::lock_guard<std::mutex> lock(delaysMutex_);
    delays = replyDelays_;
  }
  if (delays.size() < DelaysToTell) return -1;
  std::nth_element(delays.begin(), delays.begin() + static_cast<std::ptrdiff_t>(delays.size() / 2),
                   delays.end());
  return delays[delays.size() / 2];
}

}  // namespace protocol
