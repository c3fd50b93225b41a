#include "window/main_window.h"

#include <initializer_list>

#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"
#include "transfer/connection.h"
#include "transfer/memories.h"
#include "transfer/scope_exit.h"
#include "transfer/time_stamp.h"

namespace window {

namespace {

constexpr unsigned AbortSettleSeconds = 1;

constexpr const char* WriteQuestion =
    "WRITE is still active.\r\nYour deco will be dead if quit.\r\n Are you sure to quit?";
constexpr const char* ReadQuestion =
    "READ is still active.\r\nExtracted file will be incomplete.\r\nAre you sure to quit?";
constexpr const char* PortQuestion =
    "Serial port is not disconnected.\r\nDeco is still in Service mode.\r\nQuit anyway ?";

// text as a sentence: with a full stop at its end.
std::string Sentence(const std::string& text) {
  return !text.empty() && text.back() == '.' ? text : text + ".";
}

// A device that only spells the port name out ("\\.\COM3" for COM3) adds nothing to it.
bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

TForm1::TForm1(MainWindowView& view, Dialogs& dialogs) : view_(view), dialogs_(dialogs) {
  FormCreate();
}

TForm1::~TForm1() {
  if (FWorker) {
    FWorker->Terminate();
    WaitForWorkerEnd();
    FWorker.reset();
  }
  ReleaseEngine();
}

void TForm1::FormCreate() {
  ResetEngineState();
  // The design-time items never survive; the last port and the last speed are preselected.
  view_.SetItems(Control::ComboBox1, PortNames());
  view_.ChooseLastItem(Control::ComboBox1);
  view_.ChooseLastItem(Control::ComboBox2);
  FConnected = false;
}

void TForm1::SetButtons(bool enabled) {
  view_.SetVisible(Control::Button1, !enabled);
  view_.SetEnabled(Control::Button4, enabled);
  view_.SetVisible(Control::Button5, enabled);
  view_.SetVisible(Control::Button6, enabled);
  for (Control control :
       {Control::ComboBox1, Control::ComboBox2, Control::CheckBox1, Control::CheckBox2,
        Control::CheckBox3, Control::Edit1, Control::Edit2, Control::Edit3, Control::RadioButton1,
        Control::RadioButton2, Control::RadioButton3, Control::RadioButton4, Control::RadioButton5})
    view_.SetEnabled(control, enabled);
}

void TForm1::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    dialogs_.ErrorReport(error.what());
  }
}

// ---- messages from the worker ---------------------------------------------------------------

void TForm1::ShowStatusText() {
  std::string text = LastStatusLine();
  if (!text.empty()) view_.AddLogLine(text);
}

void TForm1::ShowStatusText(const std::string&) {
  view_.RunOnWindowThread([this] { ShowStatusText(); });
}

void TForm1::UpdateProgress(int32_t progress, const std::string& message) {
  view_.RunOnWindowThread([this, progress, message] {
    if (progress >= 0) {
      view_.SetProgress(progress);
      view_.SetText(Control::Label4, std::to_string(progress) + "%");
    }
    if (!message.empty()) view_.AddLogLine(message);
  });
}

void TForm1::SetBarColour(uint32_t colour) {
  view_.RunOnWindowThread([this, colour] { view_.SetBarColour(colour); });
}

void TForm1::PostWorkerDone() {
  view_.PostWorkerDone();
}

void TForm1::WorkerDone() {
  // Handled inside a wait for the worker, it would destroy the worker being waited for: it
  // comes again when that wait is over.
  if (waitingForWorker_) {
    workerDoneDeferred_ = true;
    return;
  }
  Guarded([this] {
    if (FWorker) {
      WaitForWorkerEnd();
      CheckWorkerEnd();
      FWorker.reset();
    }
    SetButtons(true);
  });
}

void TForm1::WorkerWatchTimer() {
  Guarded([this] { CheckWorkerEnd(); });
}

// Waits for the worker's end while serving its synchronous calls, so that a worker blocked in
// one of them always reaches its next check point.
void TForm1::WaitForWorkerEnd() {
  if (!FWorker) return;
  transfer::TIOThread& worker = *FWorker;
  waitingForWorker_ = true;
  view_.ServeUntil([&worker] { return worker.Finished(); });
  worker.WaitFor();
  waitingForWorker_ = false;
  if (workerDoneDeferred_) {
    workerDoneDeferred_ = false;
    view_.PostWorkerDone();
  }
}

void TForm1::StopWorker() {
  FWorker->Terminate();
  WaitForWorkerEnd();
  CheckWorkerEnd();
  FWorker.reset();
}

// A job that ends by an error posts no done message: the window waits for Abort. Once the worker
// has ended, the log says, once, what the job left behind and how to go on.
void TForm1::CheckWorkerEnd() {
  if (FWorker && !FWorker->Finished()) return;
  view_.WatchWorker(false);
  if (!FWorker || workerEndTold_) return;
  workerEndTold_ = true;
  if (!FWorker->Result().ErrorText.empty()) TellWhatTheJobLeft(FWorker->Terminated());
}

void TForm1::TellWhatTheJobLeft(bool aborting) {
  if (WriteJobRuns()) {
    AddLogLine("The deco is still in Service mode (-SE-)" + LinkSpeed() +
               ". Do not switch it off: its memory may be incomplete.");
    AddLogLine(aborting
                   ? "It can be written again with [WRITE]."
                   : "It can be written again: press [Abort] to return to idle, then [WRITE].");
    return;
  }
  for (const ReadTarget& target : readTargets_) {
    const FileState now = StateOf(target.File);
    const std::string name = protocol::BareFileName(target.File);
    if (now == target.Before) {
      AddLogLine(now.Exists ? name + " was not read: the file is as it was."
                            : name + " was not read.");
    } else if (static_cast<int64_t>(now.Size) < target.ImageBytes) {
      AddLogLine(name + " is incomplete: " + std::to_string(now.Size) + " of " +
                 std::to_string(target.ImageBytes) + " bytes.");
    } else {
      AddLogLine(name + " is complete: " + std::to_string(now.Size) + " bytes.");
    }
  }
  if (!aborting) AddLogLine("Press [Abort] to return to idle.");
}

void TForm1::NoteReadTargets(const transfer::JobSelection& selection) {
  readTargets_.clear();
  for (const transfer::Memory& memory : transfer::Memories) {
    const std::string& file = selection.*memory.File;
    if (selection.*memory.Ticked) readTargets_.push_back({file, memory.ImageBytes, StateOf(file)});
  }
}

TForm1::FileState TForm1::StateOf(const std::string& file) {
  namespace fs = std::filesystem;
  FileState state;
  std::error_code error;
  state.Exists = fs::exists(file, error);
  if (!state.Exists) return state;
  state.Size = fs::file_size(file, error);
  if (error) state.Size = 0;
  state.Time = fs::last_write_time(file, error);
  return state;
}

// ---- job dialogs ----------------------------------------------------------------------------

bool TForm1::Confirm(const std::string& text) {
  return dialogs_.Confirm(text);
}

void TForm1::Message(const std::string& text) {
  dialogs_.Message(text);
}

void TForm1::AddLogLine(const std::string& text) {
  view_.AddLogLine(text);
}

// ---- commands -------------------------------------------------------------------------------

void TForm1::ShowConnected(bool connected) {
  view_.SetText(Control::Button4, connected ? "Disconnect" : "Connect");
  view_.SetEnabled(Control::RadioButton4, !connected);
  view_.SetEnabled(Control::RadioButton5, !connected);
  view_.ShowPortConnected(connected);
  view_.SetEnabled(Control::ComboBox1, !connected);
  view_.SetEnabled(Control::ComboBox2, !connected);
}

void TForm1::Button4Click() {
  Guarded([this] {
    if (FWorker || holdingInput_) return;
    // Connect and Disconnect keep the window's thread for seconds while the log shows their
    // lines. Input is dropped until they end, also what is still queued then: a click meant for
    // "Connect" would otherwise run as Disconnect once the caption has changed.
    holdingInput_ = true;
    view_.HoldInput(true);
    transfer::ScopeExit release([this] {
      view_.HoldInput(false);
      holdingInput_ = false;
    });
    ConnectOrDisconnect();
  });
}

void TForm1::ConnectOrDisconnect() {
  const bool standby = view_.Checked(Control::RadioButton4);
  SetLinkDefaults();
  if (FConnected) {
    CloseLink();  // an error here goes to the error report; we stay connected
    FConnected = false;
    ShowConnected(false);
    return;
  }
  FConnected = true;
  ShowConnected(true);
  view_.Repaint();
  transfer::ConnectError error;
  const std::string port = view_.Text(Control::ComboBox1);
  if (OpenLink(port, view_.Text(Control::ComboBox2), standby, error)) {
    AddLogLine("OK");
    return;
  }
  FConnected = false;
  ShowConnected(false);
  AddLogLine(FailedConnectLine(port, error));
}

// The exit attempt's lines alone leave the technician guessing: why, and what to check.
std::string TForm1::FailedConnectLine(const std::string& port,
                                      const transfer::ConnectError& error) const {
  std::string where = port.empty() ? "(none is selected)" : port;
  if (!error.Device.empty() && !EndsWith(error.Device, port)) where += " (" + error.Device + ")";
  return "Connect failed: " + Sentence(error.Text) + " Check the port " + where +
         ", the Baud and the Status of deco (" + view_.Text(Control::RadioButton4) + " or " +
         view_.Text(Control::RadioButton5) + ").";
}

transfer::JobSelection TForm1::Snapshot() const {
  transfer::JobSelection selection;
  selection.Firmware = view_.Checked(Control::CheckBox1);
  selection.Eeprom = view_.Checked(Control::CheckBox2);
  selection.Channel = view_.Checked(Control::CheckBox3);
  selection.FirmwareFile = view_.Text(Control::Edit1);
  selection.EepromFile = view_.Text(Control::Edit2);
  selection.ChannelFile = view_.Text(Control::Edit3);
  return selection;
}

transfer::WriteMethod TForm1::ChosenWriteMethod() const {
  if (view_.Checked(Control::RadioButton2)) return transfer::WriteMethod::Safe;
  if (view_.Checked(Control::RadioButton3)) return transfer::WriteMethod::DifferentBlocks;
  return transfer::WriteMethod::Normal;
}

void TForm1::ResetProgress() {
  view_.SetProgress(0);
  view_.SetText(Control::Label4, " ");
}

void TForm1::Button5Click() {
  Guarded([this] {
    if (FWorker) return;
    if (!FConnected) {
      dialogs_.Message("Please [Connect] before READING");
      return;
    }
    const transfer::JobSelection selection = Snapshot();
    if (!AcceptRead(selection)) return;
    SetButtons(false);
    view_.Repaint();
    ResetProgress();
    SetReadJob(selection);
    StartWorker(selection);
  });
}

void TForm1::Button6Click() {
  Guarded([this] {
    if (FWorker) return;
    if (!FConnected) {
      dialogs_.Message("Please [Connect] before WRITING");
      return;
    }
    if (!dialogs_.Confirm("Patch deco is risky.  Continue?")) return;
    ResetProgress();
    const transfer::JobSelection selection = Snapshot();
    if (!AcceptWrite(selection, ChosenWriteMethod())) return;
    SetButtons(false);
    view_.Repaint();
    try {
      SetWriteJob(selection, ChosenWriteMethod());
    } catch (const std::exception& error) {
      // A merge that failed must stop the WRITE before any flash work.
      dialogs_.Message(std::string(error.what()) + ". WRITE aborted!");
      SetButtons(true);
      return;
    }
    StartWorker(selection);
  });
}

const char* TForm1::JobQuestion() const {
  return WritingFlash() ? WriteQuestion : ReadQuestion;
}

void TForm1::Button1Click() {
  Guarded([this] {
    // Asked even when the job has ended meanwhile.
    if (!dialogs_.Confirm(JobQuestion())) return;
    if (!FWorker) return;
    StopWorker();
    Pause(AbortSettleSeconds);
    dialogs_.Message("Thread Aborted");
    SetButtons(true);
  });
}

void TForm1::PickFile(Control field, const char* title) {
  Guarded([&] {
    if (FWorker) return;
    std::optional<std::string> chosen =
        dialogs_.OpenFile(title, BinaryFilesFilter, openDialogFileName_);
    if (!chosen) return;
    // The dialog opens with the last chosen name the next time, whichever field asks.
    openDialogFileName_ = *chosen;
    view_.SetText(field, *chosen);
  });
}

void TForm1::Edit1DblClick() {
  PickFile(Control::Edit1, "Open FIRMWARE File (2MB)");
}
void TForm1::Edit2DblClick() {
  PickFile(Control::Edit2, "Open EEPROM File (2KB)");
}
void TForm1::Edit3DblClick() {
  PickFile(Control::Edit3, "Open CHANNEL File (512KB)");
}

bool TForm1::FormCloseQuery() {
  bool canClose = true;
  Guarded([&] { canClose = DecideClose(); });
  return canClose;
}

bool TForm1::DecideClose() {
  bool canClose = true;
  if (FWorker && !dialogs_.Warning(JobQuestion())) canClose = false;
  // The window is about to close: the job stops, and the controls stay as they are.
  if (canClose && FWorker) StopWorker();
  // Asked whenever the port is open, also after the job question was refused.
  if (LinkOpen() && !dialogs_.Warning(PortQuestion)) canClose = false;
  return canClose;
}

// ---- the engine -----------------------------------------------------------------------------

void TForm1::ResetEngineState() {
  plan_ = transfer::JobPlan();
  link_.SetBaseTimeout(protocol::StandardBaseTimeout);
  link_.Close();
  names_ = transfer::TimeStampedNames(transfer::LocalTimeStamp());
}

void TForm1::ReleaseEngine() {
  link_.SetStatusSink(nullptr);
}

std::vector<std::string> TForm1::PortNames() {
  std::vector<std::string> ports;
  serial::SplitList(serial::ListSerialPorts(), ',', ports);
  return ports;
}

void TForm1::SetLinkDefaults() {
  link_.SetBaseTimeout(protocol::StandardBaseTimeout);
}

bool TForm1::OpenLink(const std::string& port, const std::string& baud, bool decoInStandby,
                      transfer::ConnectError& error) {
  const transfer::ConnectResult connect = transfer::ConnectDeco(link_, port, baud, decoInStandby);
  deco_ = connect.Deco;
  error = connect.Error;
  return connect.Connected;
}

void TForm1::CloseLink() {
  transfer::EndSession(link_, transfer::ExitBy::UserAsked);
}

bool TForm1::LinkOpen() const {
  return link_.IsOpen();
}

std::string TForm1::LinkSpeed() const {
  if (!link_.IsOpen()) return "";
  return " at " + std::to_string(link_.Speed()) + " baud";
}

bool TForm1::WritingFlash() const {
  return FWorker && FWorker->FlashWriteActive();
}

bool TForm1::WriteJobRuns() const {
  return plan_.IsWriteJob;
}

std::string TForm1::LastStatusLine() const {
  return link_.StatusText();
}

void TForm1::Pause(unsigned seconds) {
  protocol::WaitSeconds(link_, seconds);
}

bool TForm1::AcceptRead(const transfer::JobSelection& selection) {
  return transfer::CheckReadFiles(selection, *this) &&
         transfer::AskReadOverwrites(selection, *this);
}

void TForm1::SetReadJob(const transfer::JobSelection& selection) {
  plan_ = transfer::ReadJobPlan(selection);
}

bool TForm1::AcceptWrite(const transfer::JobSelection& selection, transfer::WriteMethod method) {
  return transfer::CheckWriteFiles(selection, method, names_, *this);
}

void TForm1::SetWriteJob(const transfer::JobSelection& selection, transfer::WriteMethod method) {
  plan_ = transfer::WriteJobPlan(selection, method, names_, *this);
}

void TForm1::StartWorker(const transfer::JobSelection& selection) {
  plan_.Block18Protected = deco_.Block18Protected;
  if (plan_.IsWriteJob) {
    readTargets_.clear();
  } else {
    NoteReadTargets(selection);
  }
  FWorker = std::make_unique<transfer::TIOThread>(*this, link_, plan_);
  workerEndTold_ = false;
  view_.WatchWorker(true);
  FWorker->Resume();
}

}  // namespace window
