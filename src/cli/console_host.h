// The terminal side of a job: log lines on stdout in order, progress on stderr (a bar with
// percentage, throughput and time left on a terminal, plain lines otherwise), and the
// questions of READ and WRITE answered by --yes or at a prompt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "protocol/deco_link.h"
#include "protocol/stop_token.h"
#include "serial/line_trace.h"
#include "transfer/job_setup.h"
#include "transfer/transfer_host.h"

namespace cli {

// What begins the command line's own messages on stderr.
inline constexpr const char* MessagePrefix = "pyrelink-cli: ";

class ConsoleHost : public protocol::StatusSink,
                    public transfer::TransferHost,
                    public transfer::JobDialogs {
 public:
  // Log lines go to out, progress, questions and messages to err.
  explicit ConsoleHost(bool assumeYes, std::FILE* out = stdout, std::FILE* err = stderr);

  void ShowStatusText(const std::string& line) override;
  void UpdateProgress(int32_t progress, const std::string& message) override;
  void SetBarColour(uint32_t colour) override;
  void ShowTimeLeft(uint64_t seconds) override;
  void PhaseStarted(transfer::PhaseKind kind, uint64_t bytes, const std::string& label) override;
  void PhaseEnded(transfer::PhaseKind kind, const std::string& label) override;
  // The job's result says how it ended.
  void PostWorkerDone() override {}
  bool Confirm(const std::string& text) override;
  void Message(const std::string& text) override;
  void AddLogLine(const std::string& text) override;
  void Explain(const std::string& text) override { Tell(text); }
  // A message of the command line's own, after its prefix: what failed and why, what to do.
  void Tell(const std::string& text) { Message(MessagePrefix + text); }

  // A question at the prompt ends unanswered (No) once stop is requested.
  void SetStop(protocol::StopToken stop) { stop_ = stop; }

  // Starts every line with prefix (one deco of several); progress then comes as plain lines.
  void SetLinePrefix(const std::string& prefix);

  // The run's messages (what failed, the verdict, the command to go on with) and its exit status
  // go into trace too, as marks: a trace then says what the run concluded.
  void TraceTo(std::shared_ptr<serial::LineTrace> trace) { trace_ = std::move(trace); }
  // The exit status the run ends with; nothing without a trace.
  void MarkExit(int status);

  // Sees every log line (message false) and every message (message true) as it is shown.
  std::function<void(const std::string& text, bool message)> OnRecord;
  // Sees every flash phase start (started true, with its label) and end.
  std::function<void(const std::string& label, bool started)> OnPhase;

 private:
  void PrintLine(const std::string& line);
  void ClearBar();
  // The bar at progress, with throughput and time left; under mutex_.
  void DrawBar(int32_t progress);

  bool assumeYes_;
  std::FILE* out_;
  std::FILE* err_;
  bool barOnTerminal_;
  std::string linePrefix_;
  protocol::StopToken stop_;
  std::mutex mutex_;
  bool barShown_ = false;
  uint64_t phaseBytes_ = 0;
  uint64_t phaseStartMs_ = 0;
  int32_t lastProgress_ = 0;
  // The job's estimate for the phase; until it gives one, the share of the phase done.
  std::optional<uint64_t> timeLeft_;
  std::shared_ptr<serial::LineTrace> trace_;
};

}  // namespace cli
