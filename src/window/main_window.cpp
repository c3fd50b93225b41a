#include "window/main_window.h"

#include <initializer_list>

#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"
#include "transfer/connection.h"
#include "transfer/final_check.h"
#include "transfer/memories.h"
#include "transfer/scope_exit.h"
#include "transfer/time_left.h"
#include "transfer/time_stamp.h"
#include "window/main_window_layout.h"

namespace window {

namespace {

constexpr unsigned AbortSettleSeconds = 1;

constexpr const char* WriteQuestion =
    "WRITE is still active.\r\nYour deco will be dead if quit.\r\n Are you sure to quit?";
constexpr const char* ReadQuestion =
    "READ is still active.\r\nExtracted file will be incomplete.\r\nAre you sure to quit?";
constexpr const char* PortQuestion =
    "Serial port is not disconnected.\r\nDeco is still in Service mode.\r\nQuit anyway ?";

// Disconnect's question after a WRITE of this connection that did not end with its check passed.
std::string HalfWrittenQuestion() {
  std::string risk = transfer::HalfWrittenFlashRisk;
  risk[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(risk[0])));
  return "The last WRITE did not end with its final check passed: the deco's flash may be half "
         "written.\r\n" + risk + ".\r\n\r\nSend the deco to standby anyway?";
}

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

void TForm1::ShowTimeLeft(uint64_t seconds) {
  view_.RunOnWindowThread([this, seconds] {
    view_.SetCaption(std::string(WindowCaption) + " - " + transfer::TimeLeft::Text(seconds) +
                     " left");
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
      PutJobFilesInPlace();
      FWorker.reset();
    }
    ReturnToIdle();
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

transfer::JobResult TForm1::StopWorker() {
  FWorker->Terminate();
  WaitForWorkerEnd();
  CheckWorkerEnd();
  PutJobFilesInPlace();
  const transfer::JobResult result = FWorker->Result();
  FWorker.reset();
  return result;
}

void TForm1::ReturnToIdle() {
  SetButtons(true);
  if (connectionLost_) ShowConnected(false);
  connectionLost_ = false;
}

// A job that ends by an error posts no done message: the window waits for Abort. Once the worker
// has ended, the log says, once, what the job left behind and how to go on.
void TForm1::CheckWorkerEnd() {
  if (FWorker && !FWorker->Finished()) return;
  view_.WatchWorker(false);
  view_.SetCaption(WindowCaption);
  if (!FWorker || workerEndTold_) return;
  workerEndTold_ = true;
  if (FWorker->Result().ErrorText.empty()) return;
  // A READ's dumps are told of, and put in place, as soon as it has ended.
  PutJobFilesInPlace();
  // Silence may be one lost reply: a deco that answers now is still in service mode.
  if (!DecoLostWhy().empty()) {
    view_.HoldInput(true);
    transfer::ScopeExit release([this] { view_.HoldInput(false); });
    AskLostDeco();
  }
  TellWhatTheJobLeft(FWorker->Terminated());
}

void TForm1::TellWhatTheJobLeft(bool aborting) {
  const std::string lost = DecoLostWhy();
  if (!lost.empty()) {
    if (WriteJobRuns())
      AddLogLine("Do not switch the deco off: its memory may be incomplete. It can be written "
                 "again once it is connected.");
    EndLostConnection(lost);
  } else if (WriteJobRuns()) {
    AddLogLine("The deco is still in Service mode (-SE-)" + LinkSpeed() +
               ". Do not switch it off: its memory may be incomplete.");
    AddLogLine(aborting
                   ? "It can be written again with [WRITE]."
                   : "It can be written again: press [Abort] to return to idle, then [WRITE].");
    return;
  }
  if (!aborting) AddLogLine("Press [Abort] to return to idle.");
}

void TForm1::EndLostConnection(const std::string& why) {
  AddLogLine("The deco no longer answers: " + why + ".");
  AddLogLine("The connection is ended without a word to the deco. Choose its Status as its "
             "display shows (" + view_.Text(Control::RadioButton4) + " or " +
             view_.Text(Control::RadioButton5) + "), then [Connect].");
  DropLink();
  FConnected = false;
  connectionLost_ = true;
}

// ---- job dialogs ----------------------------------------------------------------------------

bool TForm1::Confirm(const std::string& text) {
  return dialogs_.Confirm(text);
}

void TForm1::Message(const std::string& text) {
  dialogs_.Message(text);
}

void TForm1::AddLogLine(const std::string& text) {
  // The window's own lines (its "OK", its advice) go into a trace beside the deco's.
  link_.Mark("status", text);
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
      if (closeAfterHold_) view_.RequestClose();
      closeAfterHold_ = false;
    });
    ConnectOrDisconnect();
  });
}

void TForm1::ConnectOrDisconnect() {
  const bool standby = view_.Checked(Control::RadioButton4);
  SetLinkDefaults();
  if (FConnected) {
    if (!MayDisconnect()) return;
    try {
      CloseLink();
    } catch (const std::exception& error) {
      // Unanswered, the exit leaves the deco's state unknown: a second try cannot tell more
      // than its display does.
      AddLogLine(std::string("Disconnect failed: ") + error.what() + ".");
      EndLostConnection(DecoLostWhy().empty() ? error.what() : DecoLostWhy());
    }
    FConnected = false;
    ShowConnected(false);
    connectionLost_ = false;
    return;
  }
  FConnected = true;
  ShowConnected(true);
  view_.Repaint();
  transfer::ConnectError error;
  const std::string port = view_.Text(Control::ComboBox1);
  if (OpenLink(port, view_.Text(Control::ComboBox2), standby, error)) {
    AddLogLine("OK");
    heldBackTold_ = false;
    return;
  }
  FConnected = false;
  ShowConnected(false);
  AddLogLine(FailedConnectLine(port, error));
}

bool TForm1::MayDisconnect() {
  if (!FlashMayBeHalfWritten() || dialogs_.RiskWarning(HalfWrittenQuestion())) return true;
  AddLogLine("Disconnect cancelled: the deco stays in Service mode (-SE-)" + LinkSpeed() +
             ", connected; it can be written again with [WRITE].");
  return false;
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

std::string TForm1::MethodName() const {
  return view_.Text(view_.Checked(Control::RadioButton2)   ? Control::RadioButton2
                    : view_.Checked(Control::RadioButton3) ? Control::RadioButton3
                                                           : Control::RadioButton1);
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
    SetReadJob();
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
  // Every phase of a WRITE, its reads too, is stopped in a deco that may be half written.
  return FWorker && WriteJobRuns() ? WriteQuestion : ReadQuestion;
}

void TForm1::Button1Click() {
  Guarded([this] {
    // Asked even when the job has ended meanwhile.
    if (!dialogs_.Confirm(JobQuestion())) return;
    if (!FWorker) return;
    const std::string during = LastStatusLine();
    const transfer::JobResult result = StopWorker();
    Pause(AbortSettleSeconds);
    dialogs_.Message("Thread Aborted");
    // The box says nothing of where the job stopped: the log does (an error's end was told).
    if (result.ErrorText.empty() && WriteJobRuns()) {
      AddLogLine("The WRITE was stopped during: " + Sentence(during.substr(0, during.rfind(" ..."))));
      if (plan_.Selection.TouchesFlash())
        AddLogLine("Flash: " + transfer::WhatWasWritten(result.Passes) + ".");
      TellWhatTheJobLeft(true);
    }
    ReturnToIdle();
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
  // A box now would wait for the input that Connect and Disconnect hold back: the close is
  // asked about once they end.
  if (holdingInput_) {
    closeAfterHold_ = true;
    return false;
  }
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

}  // namespace window
