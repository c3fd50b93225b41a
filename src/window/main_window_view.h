// What the window's behaviour (TForm1, main_window.h) needs of a toolkit: the controls of the
// layout table (main_window_layout.h), read and changed by name, the log pane, the progress bar,
// and the window thread's messages. The Qt view and the Win32 view implement it, and tests do
// with a recording fake. A view also supplies the message boxes and the file dialog (dialogs.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace window {

// The controls the behaviour reads or changes, by their names in the layout table.
enum class Control {
  ComboBox1,  // serial port
  ComboBox2,  // baud rate
  CheckBox1,
  CheckBox2,
  CheckBox3,
  Edit1,
  Edit2,
  Edit3,
  Button1,  // Abort
  Button4,  // Connect / Disconnect
  Button5,  // READ
  Button6,  // WRITE
  RadioButton1,
  RadioButton2,
  RadioButton3,
  RadioButton4,
  RadioButton5,
  Label4,  // percent beside the progress bar
};

class MainWindowView {
 public:
  virtual ~MainWindowView() = default;

  // Whether a check box or radio button is ticked.
  virtual bool Checked(Control control) const = 0;
  // The text of an edit field, the chosen item of a drop-down list, a button's or label's
  // caption.
  virtual std::string Text(Control control) const = 0;
  // Sets the text of an edit field or the caption of a button or label.
  virtual void SetText(Control control, const std::string& text) = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;
  virtual void SetVisible(Control control, bool visible) = 0;
  // Replaces a drop-down list's items; none is chosen.
  virtual void SetItems(Control control, const std::vector<std::string>& items) = 0;
  // Chooses a drop-down list's last item; a list without items stays as it is.
  virtual void ChooseLastItem(Control control) = 0;
  // The port list (ComboBox1) drawn lime green, also while disabled; false gives it the
  // system's window colour again.
  virtual void ShowPortConnected(bool connected) = 0;

  // A new last line of the log pane (Memo1), shown at once even while the window's thread is
  // busy with an exchange.
  virtual void AddLogLine(const std::string& line) = 0;
  // ProgressBar1's position, 0 to 100.
  virtual void SetProgress(int32_t position) = 0;
  // ProgressBar1's bar colour, 0x00BBGGRR.
  virtual void SetBarColour(uint32_t colour) = 0;
  // The window's caption: the time left of a job is shown there.
  virtual void SetCaption(const std::string& caption) = 0;
  // Paints the whole window now, before the window's thread goes on with a long step.
  virtual void Repaint() = 0;

  // Runs action on the window's thread and returns when it has run (directly when called on
  // that thread): the worker's "sent" messages.
  virtual void RunOnWindowThread(const std::function<void()>& action) = 0;
  // Posts the job-done message: the caller goes on, TForm1::WorkerDone runs later on the
  // window's thread.
  virtual void PostWorkerDone() = 0;
  // Keeps serving the window's thread (hand-overs, posted messages, timers; not user input)
  // until done() is true.
  virtual void ServeUntil(const std::function<bool()>& done) = 0;
  // While on, TForm1::WorkerWatchTimer runs on the window's thread every few milliseconds.
  virtual void WatchWorker(bool on) = 0;
  // While held, the user's clicks and keys are dropped; releasing drops what is still queued.
  virtual void HoldInput(bool hold) = 0;
  // Posts a close of the window, as its close button does: TForm1::FormCloseQuery decides.
  virtual void RequestClose() = 0;
};

}  // namespace window
