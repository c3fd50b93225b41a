// One deco and the line to it: the open port, the reply time-out and where its status lines go.
// Every protocol operation takes it first, as a device handle: who talks to which deco is visible
// at every call, and two decos never share state. The window owns one; the command line serving
// several decos owns one per port. The port itself stays behind this boundary: its users get
// what the deco's dialogue needs, never the serial object.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/clock.h"
#include "protocol/deco_record.h"
#include "protocol/reply_form.h"

namespace serial {
class LineTrace;
class PortBackend;
class TBlockSerial;
}

namespace protocol {

inline constexpr int32_t StandardBaseTimeout = 500;

// The owner's side of status lines: takes one line over, synchronously, on its own thread.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  // Called by PostStatus; returns when the line has been taken over. Empty lines add nothing.
  virtual void ShowStatusText(const std::string& line) = 0;
};

// What entering service mode learned about the deco.
struct DecoFacts {
  std::string Model;
  // Whether that model protects flash sector 18.
  bool Block18Protected = false;
  // How the deco answered the speed switch: not at all, as expected from standby, or otherwise
  // (a deco already in service mode at the chosen speed answers plainly, which reads as wrong).
  enum class SwitchAnswer { None, Right, Wrong };
  SwitchAnswer SpeedSwitchAnswer = SwitchAnswer::None;
  // Something came from the deco: a reply, or the part of one that a failure cut short. A
  // connect that heard this did not meet silence.
  bool Answered = false;
  // The speed switch was answered plainly ("021" CR) at a speed a deco in standby does not
  // answer at: the deco was in service mode at that speed already.
  bool SwitchAnsweredInService = false;
};

// How block reads go: each read that fails by a time-out, a bad reply or a line error is sent
// again, at most Retries times per block (0: never, as the window does); with DoubleRead every
// block is read until two reads agree; with ConfirmRetried a block that needed a retry is.
struct ReadPolicy {
  int Retries = 0;
  bool DoubleRead = false;
  bool ConfirmRetried = false;
};

// What the reads needed beyond one read a block: repeats after failures, and reads beyond the
// second under double reading.
struct ReadCounters {
  uint64_t Retries = 0;
  uint64_t Rereads = 0;
};

class DecoLink {
 public:
  explicit DecoLink(StatusSink* sink = nullptr, Clock& clock = RealTime());
  ~DecoLink();
  DecoLink(const DecoLink&) = delete;
  DecoLink& operator=(const DecoLink&) = delete;

  // ---- the port --------------------------------------------------------------------------------
  // Opens portName in the deco's line format (7 data bits, even parity, one stop bit) at baud.
  // A failure arrives as an ESerialError; DevicePath() then names the device tried.
  void Open(const std::string& portName, int32_t baud);
  // The system's side of the next open: a scripted device instead of the operating system's
  // port, for a fuzz target that plays the deco.
  void UseBackend(std::unique_ptr<serial::PortBackend> backend);
  // Every later open's line goes into trace too (shared by the links of one run); null: none.
  void TraceTo(std::shared_ptr<serial::LineTrace> trace);
  // A marker of the tool's own in the trace (job, status, retry, resync); nothing without one.
  void Mark(const std::string& kind, const std::string& text) const;
  // The same line format at another speed.
  void SetSpeed(int32_t baud);
  // The line speed in baud; 0 while closed.
  uint32_t Speed() const;
  bool IsOpen() const;
  // Closes the port without a word to the deco.
  void Close();
  // The device the last port name stood for; "" before any open.
  std::string DevicePath() const;
  // What was done at the open to make the line answer quickly ("" when nothing applies).
  std::string LatencyNote() const;
  // Whether everything sent has left within timeoutMs.
  bool WaitWritable(int32_t timeoutMs);
  // Throws away what has arrived and not been read: a late reply to an earlier exchange.
  void DiscardStaleInput();
  // Characters received and not yet read, held or still queued.
  int32_t InputWaiting();
  // counter receives the number of characters of every write and read on the line, from now on
  // and across later opens; nullptr stops it.
  void CountCharacters(std::function<void(uint64_t)> counter);

  // ---- the deco's dialogue, for the protocol's exchanges ----------------------------------------
  // Sends text and CR LF once the line is free to write.
  void SendLine(const std::string& text);
  // Waits up to firstByteMs for a reply to begin and then takes its line, within wholeMs and
  // the longest reply's length (ReplyBudgetOf gives both times). False when no reply began; a
  // serial error passes through.
  bool ReceiveReply(int32_t firstByteMs, int32_t wholeMs, std::string& reply);
  // Receives the characters waiting now, each within timeoutMs; for the speed switch's answer,
  // which is not a line.
  std::string ReceiveWaiting(int32_t timeoutMs);
  // Forgets the rest of a reply that failed, so that it never begins the next one.
  void DropHeldInput();
  // Raises the serial time-out error, as a reply that never began.
  [[noreturn]] void RaiseTimeout();

  // ---- settings and state of the dialogue -------------------------------------------------------
  // The clock the link's pauses, figures and line waits read.
  Clock& Time() const { return *clock_; }
  // Another clock from now on; before the link is used, as a test gives its window's link one.
  void UseClock(Clock& clock) { clock_ = &clock; }
  // Base reply time-out in milliseconds; set to 500 at every Connect and every job.
  void SetBaseTimeout(int32_t ms) { baseTimeout_ = ms; }
  int32_t BaseTimeout() const { return baseTimeout_; }
  // Where PostStatus delivers; null drops the lines.
  void SetStatusSink(StatusSink* sink) { sink_ = sink; }
  StatusSink* Sink() const { return sink_; }
  // The last line handed to PostStatus.
  std::string StatusText() const;
  void SetStatusText(const std::string& text);
  // Command lines sent since the link was made, and how many of them had been sent when the
  // last reply line came: a deco that stopped answering shows as commands after it.
  uint64_t CommandsSent() const { return commandsSent_; }
  uint64_t CommandsWhenLastAnswered() const { return lastAnswered_; }
  // Which EEPROM line the next resynchronisation probe reads; each probe takes the next.
  int TakeProbeLine() { return nextProbeLine_++; }
  // What the command line learned of this deco's replies; forgotten at every open, since
  // another deco may answer there.
  const ReplyForms& Forms() const { return forms_; }
  void LearnForm(ReplyKind kind, const ReplyForm& form) {
    (kind == ReplyKind::FlashBlock ? forms_.Flash : forms_.Eeprom) = form;
  }
  // What the run knows of this deco: filled by the connect, the job and a verify; read by the
  // one rule for leaving service mode.
  DecoRecord& Record() { return record_; }
  const DecoRecord& Record() const { return record_; }
  // The block reads' policy, and what they needed since the link was made.
  void SetReadPolicy(const ReadPolicy& policy);
  ReadPolicy Policy() const;
  ReadCounters Counts() const;
  void CountRetry() {
    ++retries_;
    Mark("retry", "");
  }
  void CountReread() {
    ++rereads_;
    Mark("reread", "");
  }

  // ---- the line's timing ---------------------------------------------------------------------
  // How long after the wire could have brought it a reply's end came, in ms: what a USB
  // adapter's latency timer holds each reply back, with the deco's own turn-around.
  void NoteReplyDelay(double ms);
  // The median of the delays noted since the open, once there are enough to tell; -1 before.
  double ReplyDelayMs() const;

 private:
  serial::TBlockSerial& Port();

  std::unique_ptr<serial::PortBackend> nextBackend_;
  std::shared_ptr<serial::LineTrace> trace_;
  std::unique_ptr<serial::TBlockSerial> port_;
  std::string devicePath_;
  std::function<void(uint64_t)> counter_;
  std::atomic<Clock*> clock_;
  std::atomic<int32_t> baseTimeout_{StandardBaseTimeout};
  std::atomic<StatusSink*> sink_;
  std::atomic<int> readRetries_{0};
  std::atomic<bool> doubleRead_{false};
  std::atomic<bool> confirmRetried_{false};
  std::atomic<uint64_t> retries_{0};
  std::atomic<uint64_t> rereads_{0};
  int nextProbeLine_ = 0;
  std::atomic<uint64_t> commandsSent_{0};
  std::atomic<uint64_t> lastAnswered_{0};
  ReplyForms forms_;
  DecoRecord record_;
  mutable std::mutex delaysMutex_;
  std::vector<double> replyDelays_;
  mutable std::mutex statusMutex_;
  std::string statusText_;
};

}  // namespace protocol
