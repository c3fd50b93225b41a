// TForm1: the main window's behaviour, free of any toolkit. It keeps the window's states
// (connected, a job running, input held during Connect and Disconnect), decides which controls
// are enabled, runs the handlers behind the controls, starts the worker for READ and WRITE and
// takes its status lines, progress and end. A view (main_window_view.h) builds the controls,
// forwards their events here and shows what this class sets.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/deco_link.h"
#include "transfer/io_thread.h"
#include "transfer/job_setup.h"
#include "transfer/read_dumps.h"
#include "window/dialogs.h"
#include "window/main_window_view.h"

namespace transfer {
struct ConnectError;
}

namespace window {

inline constexpr const char* BinaryFilesFilter = "Binary files (*.bin)|*.bin;*.BIN;";

class TForm1 : public protocol::StatusSink,
               public transfer::TransferHost,
               public transfer::JobDialogs {
 public:
  // Runs FormCreate: the view's controls must exist.
  TForm1(MainWindowView& view, Dialogs& dialogs);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  bool Connected() const { return FConnected; }
  transfer::TIOThread* Worker() const { return FWorker.get(); }
  // Set while Connect or Disconnect holds the window's thread.
  bool HoldingInput() const { return holdingInput_; }
  std::string LastChosenFile() const { return openDialogFileName_; }
  // The deco link, the run's own file names, the job started last and the chosen write method,
  // for the view and for tests to look at.
  const protocol::DecoLink& Link() const { return link_; }
  protocol::DecoLink& Link() { return link_; }
  const transfer::RunNames& Names() const { return names_; }
  const transfer::JobPlan& Plan() const { return plan_; }
  transfer::WriteMethod ChosenWriteMethod() const;
  // The chosen method's caption.
  std::string MethodName() const;
  // A job writes flash now.
  bool WritingFlash() const;

  void SetButtons(bool enabled);

  // Handlers of the view's events, run on the window's thread. An error that escapes one goes
  // to the error report, and the program goes on.
  void Button4Click();  // Connect / Disconnect
  void Button5Click();  // READ
  void Button6Click();  // WRITE
  void Button1Click();  // Abort
  void Edit1DblClick();
  void Edit2DblClick();
  void Edit3DblClick();
  // Asked before the window closes; it closes only on true.
  bool FormCloseQuery();
  // The job-done message the worker posted.
  void WorkerDone();
  // The status message: the last status line as a new log line.
  void ShowStatusText();
  // The view's timer while the worker is watched (MainWindowView::WatchWorker).
  void WorkerWatchTimer();

  // protocol::StatusSink, from either thread.
  void ShowStatusText(const std::string& line) override;
  // transfer::TransferHost, from the worker.
  void UpdateProgress(int32_t progress, const std::string& message) override;
  // In the caption, which a minimised window shows too: a WRITE runs for up to hours.
  void ShowTimeLeft(uint64_t seconds) override;
  void SetBarColour(uint32_t colour) override;
  void PostWorkerDone() override;
  // transfer::JobDialogs
  bool Confirm(const std::string& text) override;
  void Message(const std::string& text) override;
  void AddLogLine(const std::string& text) override;
  // What a file error's box leaves out (which file, what is wrong) goes to the log after it.
  void Explain(const std::string& text) override { AddLogLine(text); }

 private:
  void FormCreate();
  void Guarded(const std::function<void()>& handler);
  void ConnectOrDisconnect();
  void ShowConnected(bool connected);
  std::string FailedConnectLine(const std::string& port, const transfer::ConnectError& error) const;
  transfer::JobSelection Snapshot() const;
  void ResetProgress();
  void PickFile(Control field, const char* title);
  bool DecideClose();
  const char* JobQuestion() const;
  // Stops the job and answers how it ended.
  transfer::JobResult StopWorker();
  void WaitForWorkerEnd();
  void CheckWorkerEnd();
  void TellWhatTheJobLeft(bool aborting);
  // Back to idle after a job: the controls as they were, or Connect when the link was lost.
  void ReturnToIdle();
  // Disconnect's question when a WRITE of this connection may have left the flash half written.
  bool MayDisconnect();
  // The deco stopped answering or the line failed (why): the connection ends without a word to
  // the deco, and the log says what is known.
  void EndLostConnection(const std::string& why);

  // Every call into the engine (protocol::, transfer::) is in these, so that a change of its
  // interface is met in one place.
  void ResetEngineState();
  void ReleaseEngine();
  static std::vector<std::string> PortNames();
  void SetLinkDefaults();
  bool OpenLink(const std::string& port, const std::string& baud, bool decoInStandby,
                transfer::ConnectError& error);
  void CloseLink();
  bool LinkOpen() const;
  std::string LinkSpeed() const;
  bool WriteJobRuns() const;
  std::string LastStatusLine() const;
  void Pause(unsigned seconds);
  bool FlashMayBeHalfWritten() const;
  // Why the deco's state is unknown now, or "".
  std::string DecoLostWhy() const;
  // Asks a deco the record lost whether it answers in service mode still.
  void AskLostDeco();
  // Closes the port without a word to the deco.
  void DropLink();
  bool AcceptRead(const transfer::JobSelection& selection);
  void SetReadJob();
  // Once a job has ended: the log names a WRITE's backup; a READ's dumps are named once whole,
  // otherwise the log says where what was read is.
  void PutJobFilesInPlace();
  bool AcceptWrite(const transfer::JobSelection& selection, transfer::WriteMethod method);
  void SetWriteJob(const transfer::JobSelection& selection, transfer::WriteMethod method);
  void StartWorker(const transfer::JobSelection& selection);

  MainWindowView& view_;
  Dialogs& dialogs_;
  // The deco this window talks to; its status lines come here.
  protocol::DecoLink link_{this};
  // What the last connect learned about the deco.
  protocol::DecoFacts deco_;
  // The run's own files, named by the stamp taken at start-up.
  transfer::RunNames names_;
  // The job started last.
  transfer::JobPlan plan_;
  bool FConnected = false;
  std::unique_ptr<transfer::TIOThread> FWorker;
  std::string openDialogFileName_;
  bool holdingInput_ = false;
  bool waitingForWorker_ = false;
  bool workerDoneDeferred_ = false;
  bool workerEndTold_ = false;
  // A close came while Connect or Disconnect held input: it is asked when they end.
  bool closeAfterHold_ = false;
  // The job that ended last lost the deco: idle shows Connect.
  bool connectionLost_ = false;
  // A READ's dumps, read into partial files, and the files chosen for them.
  std::optional<transfer::ReadDumps> dumps_;
  transfer::JobSelection dumpsChosen_;
  bool jobFilesTold_ = false;
  // The line's held-back replies were told before a job of this connection.
  bool heldBackTold_ = false;
};

}  // namespace window
