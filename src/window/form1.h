// TForm1: the main window. It owns the controls, starts the worker for READ and WRITE, takes
// status lines and progress from it, and runs Connect, Disconnect, the file pickers, Abort and
// the close decision.
#pragma once

#include <QEvent>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "instance/one_instance.h"
#include "protocol/transaction.h"
#include "transfer/io_thread.h"
#include "transfer/job_setup.h"
#include "window/dialogs.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace window {

// Set while the window is connected to a deco.
extern bool Connected;

inline constexpr QEvent::Type MsgWorkerDone = static_cast<QEvent::Type>(21845);
inline constexpr QEvent::Type MsgStatusText = static_cast<QEvent::Type>(21846);

inline constexpr const char* WindowCaption = "Pyrelink 607X  v1.0.0";
inline constexpr const char* BinaryFilesFilter = "Binary files (*.bin)|*.bin;*.BIN;";

class TForm1 : public QWidget,
               public protocol::StatusSink,
               public transfer::TransferHost,
               public transfer::JobDialogs,
               public instance::InstanceHost {
  Q_OBJECT

 public:
  // dialogs: the message boxes to use; null means real ones. instanceLock: the single-instance
  // lock; null means the system's.
  explicit TForm1(Dialogs* dialogs = nullptr,
                  std::unique_ptr<instance::InstanceLock> instanceLock = nullptr);
  ~TForm1() override;

  // Controls, named and built as the layout table gives them.
  QPlainTextEdit* Memo1;
  QGroupBox* GroupBox1;
  QComboBox* ComboBox1;
  QComboBox* ComboBox2;
  QLabel* Label1;
  QLabel* Label2;
  QGroupBox* GroupBox2;
  QCheckBox* CheckBox1;
  QCheckBox* CheckBox2;
  QCheckBox* CheckBox3;
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QPushButton* Button4;
  QPushButton* Button5;
  QPushButton* Button6;
  QGroupBox* RadioGroup1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  std::unique_ptr<instance::TOneInstance> OneInstance1;
  QRadioButton* RadioButton3;
  QProgressBar* ProgressBar1;
  QPushButton* Button1;
  QLabel* Label4;
  QGroupBox* RadioGroup2;
  QRadioButton* RadioButton4;
  QRadioButton* RadioButton5;

  void SetButtons(bool enabled);
  bool TerminationRequested() const { return terminationRequested_; }
  transfer::TIOThread* Worker() const { return FWorker.get(); }
  QString LastChosenFile() const { return openDialogFileName_; }

  // Handlers.
  void Button4Click();
  void Button5Click();
  void Button6Click();
  void Button1Click();
  void Edit1DblClick();
  void Edit2DblClick();
  void Edit3DblClick();
  bool FormCloseQuery();
  void WorkerDone();
  void ShowStatusText();

  // protocol::StatusSink
  void ShowStatusText(const std::string& line) override;
  // transfer::TransferHost
  void UpdateProgress(int32_t progress, const std::string& message) override;
  void SetBarColour(uint32_t colour) override;
  void PostWorkerDone() override;
  // transfer::JobDialogs
  bool Confirm(const std::string& text) override;
  void Message(const std::string& text) override;
  void AddLogLine(const std::string& text) override;
  // instance::InstanceHost
  std::string OwnerName() override;
  bool OwnerHasGuard() override { return OneInstance1 != nullptr; }
  std::string ApplicationTitle() override;
  void SetApplicationTitle(const std::string& title) override;
  void Terminate() override;
  void ShowErrorReport(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  bool RaiseWindowTitled(const std::string& title) override;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void SetTabOrder();
  void FormCreate();
  void Guarded(const std::function<void()>& handler);
  void RunOnWindowThread(const std::function<void()>& action);
  void WaitForWorkerEnd();
  void StartWorker(const transfer::JobSelection& selection);
  transfer::JobSelection Snapshot() const;
  void PickFile(QLineEdit* field, const char* title);
  void ShowConnected(bool connected);
  void HoldInput(const std::function<void()>& exchange);
  void ConnectOrDisconnect();
  void NoteReadTargets(const transfer::JobSelection& selection);
  void CheckWorkerEnd();
  void TellWhatTheJobLeft(bool aborting);

  std::unique_ptr<Dialogs> ownDialogs_;
  Dialogs* dialogs_;
  std::unique_ptr<transfer::TIOThread> FWorker;
  QString openDialogFileName_;
  bool terminationRequested_ = false;
  bool waitingForWorker_ = false;
  bool workerDoneDeferred_ = false;
  // Set while Connect or Disconnect holds the window's thread: user input is dropped.
  bool holdingInput_ = false;
  // Looks for the end of a job that ended by an error, which posts no done message.
  QTimer* workerWatch_;
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
