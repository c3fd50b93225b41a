// What the window's behaviour (TForm1, main_window.h) needs of a toolkit: the controls of the
// layout table, read and changed by name, the log pane, the progress bar, and the window
// thread's messages. The Qt view implements it, a Win32 view can, and tests do with a recording
// fake. A view also supplies the message boxes and the file dialog (dialogs.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace window {

// The main window's caption, the same on every system.
inline constexpr const char* WindowCaption = "Pyrelink 607X  v1.0.0";
// What the log pane shows when the window opens.
inline constexpr const char* OpeningLines[] = {
    "***      Close all other active applications       ***",
    "***      Deco must be standby or -SE-            ***",
    "***   [Connect] before [READ] or [WRITE]    ***",
};

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

// The control of a view that names its controls as the layout table does (both views do).
template <typename Handle, typename View>
Handle NamedControl(const View& view, Control control) {
  switch (control) {
    case Control::ComboBox1:
      return view.ComboBox1;
    case Control::ComboBox2:
      return view.ComboBox2;
    case Control::CheckBox1:
      return view.CheckBox1;
    case Control::CheckBox2:
      return view.CheckBox2;
    case Control::CheckBox3:
      return view.CheckBox3;
    case Control::Edit1:
      return view.Edit1;
    case Control::Edit2:
      return view.Edit2;
    case Control::Edit3:
      return view.Edit3;
    case Control::Button1:
      return view.Button1;
    case Control::Button4:
      return view.Button4;
    case Control::Button5:
      return view.Button5;
    case Control::Button6:
      return view.Button6;
    case Control::RadioButton1:
      return view.RadioButton1;
    case Control::RadioButton2:
      return view.RadioButton2;
    case Control::RadioButton3:
      return view.RadioButton3;
    case Control::RadioButton4:
      return view.RadioButton4;
    case Control::RadioButton5:
      return view.RadioButton5;
    case Control::Label4:
      return view.Label4;
  }
  return nullptr;
}

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
};

}  // namespace window
