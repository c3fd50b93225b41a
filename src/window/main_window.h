// TForm1: the main window's behaviour, free of any toolkit. It keeps the window's states
// (connected, a job running, input held during Connect and Disconnect), decides which controls
// are enabled, runs the handlers behind the controls, starts the worker for READ and WRITE and
// takes its status lines, progress and end. A view (main_window_view.h) builds the controls,
// forwards their events here and shows what this class sets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/deco_link.h"
#include "transfer/io_thread.h"
#include "transfer/job_setup.h"
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
  // A job writes flash now: its Abort and close questions are worded for a WRITE.
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
  void SetBarColour(uint32_t colour) override;
  void PostWorkerDone() override;
  // transfer::JobDialogs
  bool Confirm(const std::string& text) override;
  void Message(const std::string& text) override;
  void AddLogLine(const std::string& text) override;

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
  void StopWorker();
  void WaitForWorkerEnd();
  void CheckWorkerEnd();
  void TellWhatTheJobLeft(bool aborting);
  void NoteReadTargets(const transfer::JobSelection& selection);

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
  bool AcceptRead(const transfer::JobSelection& selection);
  void SetReadJob(const transfer::JobSelection& selection);
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
  // A READ's files as they were before it started, to tell what the READ wrote into them.
  struct FileState {
    bool Exists = false;
    uintmax_t Size = 0;
    std::filesystem::file_time_type Time;
    bool operator==(const FileState&) const = default;
  };
  struct ReadTarget {
    std::string File;
    int64_t ImageBytes = 0;
    FileState Before;
  };
  static FileState StateOf(const std::string& file);
  std::vector<ReadTarget> readTargets_;
};

}  // namespace window
